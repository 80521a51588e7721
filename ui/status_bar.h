#pragma once
// The main window's status bar, under the template's controls: the mode, each
// open port with its device path and line settings, the bytes received and
// line errors per side, the modem lines where the port reports them, and the
// capture while one runs. The window polls the facts a few times a second on
// the GUI thread; StatusLine() turns them into the text.

#include <QLabel>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/session_types.h"
#include "platform/modem_lines.h"

namespace ostrel::ui {

struct SideStatus {
    std::string side;  // "DTE" or "DCE"
    int portNumber = 0;
    std::string path;
    engine::PortSettings settings;
    std::uint64_t bytesReceived = 0;
    std::uint64_t lineErrors = 0;
    std::optional<platform::ModemLines> modemLines;  // empty: the port reports none (a pty)
};

struct StatusFacts {
    engine::OperatingMode mode = engine::kDteEmulation;
    std::vector<SideStatus> openSides;
    std::optional<std::string> captureFile;  // while a capture runs
    std::optional<std::uint64_t> captureBytes;
};

// "9600 8N1", "19200 7E2 RTS/CTS", "4800 8N1.5 Xon/Xoff".
std::string LineSettingsText(const engine::PortSettings& settings);
// "CTS+ DSR+ DCD- RI-".
std::string ModemLinesText(const platform::ModemLines& lines);
// A path of more than 28 characters as "…" and its last part(s).
std::string ShortPath(const std::string& path);
// The mode, "ports closed" or one part per open side, and the capture.
std::vector<std::string> StatusParts(const StatusFacts& facts);
// The whole line, parts separated by " | ".
QString StatusLine(const StatusFacts& facts);

class StatusBar : public QLabel {
    Q_OBJECT

public:
    // Two rows: the parts go on the first while they fit, the rest on the
    // second; text that still does not fit is elided (the tool tip has it all).
    static constexpr int kRows = 2;

    explicit StatusBar(QWidget* parent);
    void show(const StatusFacts& facts);
    using QLabel::show;
    // The whole status on one line, as the tool tip shows it.
    QString line() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void layOutRows();

    std::vector<std::string> parts_;
};

}  // namespace ostrel::ui
