#include "ui/status_bar.h"

#include <QFontMetrics>
#include <QStringList>

#include "engine/status_text.h"
#include "window/status_rows.h"
#include "window/window_rules.h"

namespace ostrel::ui {

namespace {

std::string grouped(std::uint64_t value) {
    std::string digits = std::to_string(value);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<std::size_t>(at), ",");
    return digits;
}

}  // namespace

std::string LineSettingsText(const engine::PortSettings& settings) {
    std::string text = engine::text::frameText(settings);
    if (settings.flowControl == engine::kFlowHardware) text += " RTS/CTS";
    if (settings.flowControl == engine::kFlowXonXoff) text += " Xon/Xoff";
    return text;
}

std::string ModemLinesText(const platform::ModemLines& lines) {
    const auto mark = [](bool on) { return on ? "+" : "-"; };
    return std::string("CTS") + mark(lines.cts) + " DSR" + mark(lines.dsr) + " DCD" + mark(lines.dcd) +
           " RI" + mark(lines.ri);
}

// A long path keeps its last part: "…/runtime/ostrel-demo-dce".
std::string ShortPath(const std::string& path) {
    constexpr std::size_t kLongest = 28;
    if (path.size() <= kLongest) return path;
    std::size_t cut = path.size() - kLongest + 3;
    const std::size_t slash = path.find('/', cut);
    if (slash != std::string::npos) cut = slash;
    return "\u2026" + path.substr(cut);
}

std::vector<std::string> StatusParts(const StatusFacts& facts) {
    std::vector<std::string> parts{window::ModeCaption(facts.mode)};
    if (facts.openSides.empty()) parts.push_back("ports closed");
    for (const SideStatus& side : facts.openSides) {
        std::string text = side.side + " COM" + std::to_string(side.portNumber);
        if (!side.path.empty()) text += " " + ShortPath(side.path);
        text += " " + LineSettingsText(side.settings) + ": " + grouped(side.bytesReceived) + " bytes in, " +
                grouped(side.lineErrors) + (side.lineErrors == 1 ? " error" : " errors");
        if (side.modemLines) text += ", " + ModemLinesText(*side.modemLines);
        parts.push_back(std::move(text));
    }
    if (facts.captureFile) {
        std::string text = "capture " + *facts.captureFile;
        if (facts.captureBytes) text += " (" + grouped(*facts.captureBytes) + " bytes)";
        parts.push_back(std::move(text));
    }
    return parts;
}

QString StatusLine(const StatusFacts& facts) {
    const std::string line = window::StatusJoined(StatusParts(facts));
    return QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
}

StatusBar::StatusBar(QWidget* parent) : QLabel(parent) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setObjectName(QStringLiteral("status_bar"));
    setContentsMargins(4, 1, 4, 1);
    setFixedHeight(kRows * fontMetrics().lineSpacing() + 2 * frameWidth() + 4);
}

void StatusBar::show(const StatusFacts& facts) {
    std::vector<std::string> parts = StatusParts(facts);
    if (parts == parts_) return;
    parts_ = std::move(parts);
    setToolTip(StatusLine(facts));
    layOutRows();
}

QString StatusBar::line() const {
    const std::string line = window::StatusJoined(parts_);
    return QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
}

void StatusBar::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    layOutRows();
}

void StatusBar::layOutRows() {
    const QFontMetrics metrics = fontMetrics();
    const int width = contentsRect().width() - 2 * margin();
    const auto measure = [&](const std::string& text) {
        return metrics.horizontalAdvance(QString::fromStdString(text));
    };
    QStringList rows;
    for (const std::string& row : window::StatusRows(parts_, width, kRows, measure))
        rows << metrics.elidedText(QString::fromStdString(row), Qt::ElideRight, width);
    const QString text = rows.join(QLatin1Char('\n'));
    if (text != this->text()) setText(text);
}

}  // namespace ostrel::ui
