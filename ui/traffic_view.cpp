// The traffic view: text API, layout, scrolling and painting. Editing, keys
// and mouse are in traffic_view_editing.cpp, _keys.cpp and _mouse.cpp.

#include "ui/traffic_view.h"

#include <QAction>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "ui/traffic_find_bar.h"
#include "window/traffic_scroll_scale.h"

namespace ostrel::ui {

namespace {

constexpr int kMargin = 2;  // pixels around the text; the caret fits in the right one
// Above this much text a resize re-wraps once the resizing pauses for kRewrapPauseMs.
constexpr qint64 kRewrapAtOnceBytes = 16 * 1024 * 1024;
constexpr int kRewrapPauseMs = 200;
constexpr qint64 kLayoutSliceBytes = 8 * 1024 * 1024;  // about 20-30 ms of layout
const QColor kTextColour(0, 150, 0);
const QColor kMatchColour(255, 230, 120);  // matches of the Find bar's text in view

bool isControl(unsigned char byte) {
    return byte < 0x20 || byte == 0x7F || (byte >= 0x80 && byte < 0xA0);
}

}  // namespace

TrafficView::TrafficView(QWidget* parent) : QAbstractScrollArea(parent) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setStyleStrategy(QFont::PreferNoShaping);  // one glyph per cell, no ligatures or kerning
    font.setKerning(false);
    setFont(font);

    QPalette colours = palette();
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        colours.setColor(group, QPalette::Text, kTextColour);
        colours.setColor(group, QPalette::Base, Qt::white);
    }
    colours.setColor(QPalette::Disabled, QPalette::Base, Qt::white);
    setPalette(colours);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    viewport()->setCursor(Qt::IBeamCursor);

    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_KeyCompression);
    updateMetrics();

    store_.setSpill(
        [] {
            return window::SpillFile::open(
                window::SpillFile::defaultFolder(std::getenv("XDG_CACHE_HOME"), std::getenv("HOME")));
        },
        kResidentBytes);
    // Find works from anywhere in the window, not only with the focus here.
    struct Shortcut {
        QKeySequence::StandardKey key;
        std::function<void()> run;
    };
    const Shortcut shortcuts[] = {{QKeySequence::Find, [this] { showFindBar(); }},
                                  {QKeySequence::FindNext, [this] { findNext(false); }},
                                  {QKeySequence::FindPrevious, [this] { findNext(true); }}};
    for (const Shortcut& shortcut : shortcuts) {
        auto* action = new QAction(this);
        action->setShortcuts(shortcut.key);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, shortcut.run);
        addAction(action);
    }
}

TrafficView::~TrafficView() = default;

// --- Text ----------------------------------------------------------------

void TrafficView::appendText(std::string_view latin1) {
    if (latin1.empty()) return;
    const qint64 oldSize = store_.size();
    const bool following = isShowingEnd();
    // A bare caret at the end rides along with the end; any other caret and
    // any selection stay on the text the operator put them on.
    const bool caretRides = !hasSelection() && caret_ == oldSize;
    store_.append(latin1);
    if (store_.spillProblem() != toldSpillProblem_) tellSpillProblem();
    if (caretRides) {
        caret_ = anchor_ = store_.size();
        preferredColumn_ = -1;
    } else {
        // A "\r" at the old end may have been joined by a "\n".
        anchor_ = normalized(anchor_);
        caret_ = normalized(caret_);
    }
    topRow_ = following ? maxTopRow() : std::min(topRow_, maxTopRow());
    syncScrollBar();
    viewport()->update();
}

std::string TrafficView::text() const {
    return store_.text();
}

qint64 TrafficView::size() const {
    return store_.size();
}

qint64 TrafficView::memoryBytes() const {
    return static_cast<qint64>(store_.memoryBytes());
}

void TrafficView::setCaretPosition(qint64 position) {
    setSelection(position, position);
}

void TrafficView::setSelection(qint64 anchor, qint64 caret) {
    anchor_ = normalized(anchor);
    caret_ = normalized(caret);
    preferredColumn_ = -1;
    ensureCaretVisible();
    restartBlink();
    viewport()->update();
}

void TrafficView::selectAll() {
    anchor_ = 0;
    caret_ = store_.size();
    preferredColumn_ = -1;
    viewport()->update();
}

std::string TrafficView::selectedText() const {
    const qint64 from = std::min(anchor_, caret_);
    return store_.read(from, std::max(anchor_, caret_) - from);
}

// --- Layout and scrolling --------------------------------------------------

void TrafficView::updateMetrics() {
    const QFontMetricsF metrics(font());
    charWidth_ = std::max<qreal>(1.0, metrics.horizontalAdvance(QString(64, QLatin1Char('0'))) / 64.0);
    rowHeight_ = std::max(1, static_cast<int>(std::ceil(metrics.lineSpacing())));
    ascent_ = static_cast<int>(std::ceil(metrics.ascent()));
    updateLayout();
}

// Re-wraps for the viewport's width and keeps the view in place: on the end
// when it showed the end, otherwise on the text that was at the top.
void TrafficView::updateLayout() {
    rewrapTimer_.stop();
    const bool wasShowingEnd = isShowingEnd();
    const qint64 topOffset = store_.row(topRow_).start;
    visibleRows_ = std::max(1, (viewport()->height() - kMargin) / rowHeight_);
    if (store_.size() > kRewrapAtOnceBytes) {
        // What is shown and the last line now, the rest a slice per turn of
        // the event loop: the window stays live however large the text.
        const qint64 shownEnd = store_.row(topRow_ + visibleRows_).end;
        store_.beginWrapColumns(columnsForViewport(), topOffset, shownEnd + 4 * store_.wrapColumns());
        if (store_.layoutPending()) layoutTimer_.start(0, this);
    } else {
        store_.setWrapColumns(columnsForViewport());
        layoutTimer_.stop();
    }
    if (wasShowingEnd) {
        topRow_ = maxTopRow();
    } else {
        topRow_ = std::min<qint64>(store_.rowAt(topOffset).index, maxTopRow());
    }
    syncScrollBar();
    viewport()->update();
}

int TrafficView::columnsForViewport() const {
    const int usableWidth = viewport()->width() - 2 * kMargin - 1;
    return std::max(1, static_cast<int>(std::floor(usableWidth / charWidth_)));
}

int TrafficView::widthForColumns(int columns) const {
    const int usable = static_cast<int>(std::ceil(columns * charWidth_ + 0.01));
    const int scrollBarWidth = verticalScrollBar()->sizeHint().width();
    return usable + 2 * kMargin + 1 + 2 * frameWidth() + scrollBarWidth;
}

int TrafficView::heightForRows(int rows) const {
    return rows * rowHeight_ + kMargin + 2 * frameWidth();
}

qint64 TrafficView::maxTopRow() const {
    return std::max<qint64>(0, store_.rowCount() - visibleRows_);
}

void TrafficView::scrollToRow(qint64 row) {
    topRow_ = std::clamp<qint64>(row, 0, maxTopRow());
    syncScrollBar();
    viewport()->update();
}

void TrafficView::syncScrollBar() {
    const window::ScrollScale scale{maxTopRow()};
    QScrollBar* bar = verticalScrollBar();
    syncingScrollBar_ = true;
    bar->setRange(0, scale.maximum());
    bar->setPageStep(scale.pageStep(visibleRows_));
    bar->setSingleStep(1);
    bar->setValue(scale.valueForRow(topRow_));
    syncingScrollBar_ = false;
}

void TrafficView::scrollContentsBy(int, int) {
    if (syncingScrollBar_) return;
    topRow_ = window::ScrollScale{maxTopRow()}.rowForValue(verticalScrollBar()->value());
    viewport()->update();
}

void TrafficView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    placeFindBar();
    // A new width lays the whole text out again (a few ms per MiB): for a
    // large text once the resizing pauses, not at every step of a drag. Until
    // then the rows keep their old width.
    if (store_.size() > kRewrapAtOnceBytes && columnsForViewport() != store_.wrapColumns()) {
        const bool wasShowingEnd = isShowingEnd();
        visibleRows_ = std::max(1, (viewport()->height() - kMargin) / rowHeight_);
        topRow_ = wasShowingEnd ? maxTopRow() : std::min(topRow_, maxTopRow());
        syncScrollBar();
        viewport()->update();
        rewrapTimer_.start(kRewrapPauseMs, this);
        return;
    }
    updateLayout();
}

// One slice of a layout for a new width, keeping the view on the same text.
void TrafficView::continueLayout() {
    const bool wasShowingEnd = isShowingEnd();
    const qint64 topOffset = store_.row(topRow_).start;
    if (!store_.continueLayout(kLayoutSliceBytes)) layoutTimer_.stop();
    topRow_ = wasShowingEnd ? maxTopRow() : std::min<qint64>(store_.rowAt(topOffset).index, maxTopRow());
    syncScrollBar();
    viewport()->update();
}

void TrafficView::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) updateMetrics();
}

bool TrafficView::isCaretVisible() const {
    const qint64 row = store_.rowAt(caret_).index;
    return row >= topRow_ && row < topRow_ + visibleRows_;
}

void TrafficView::ensureCaretVisible() {
    const qint64 row = store_.rowAt(caret_).index;
    if (row < topRow_) {
        scrollToRow(row);
    } else if (row >= topRow_ + visibleRows_) {
        scrollToRow(row - visibleRows_ + 1);
    }
}

qreal TrafficView::xForColumn(qint64 column) const {
    return kMargin + static_cast<qreal>(column) * charWidth_;
}

QPoint TrafficView::pointForOffset(qint64 position) const {
    const window::TextRow row = store_.rowAt(normalized(position));
    const qint64 column = store_.cellOf(row, std::min<qint64>(normalized(position), row.line.end));
    const auto rowOnScreen = row.index - topRow_;
    return {static_cast<int>(std::lround(xForColumn(column))),
            static_cast<int>(kMargin + rowOnScreen * rowHeight_ + rowHeight_ / 2)};
}

qint64 TrafficView::offsetAt(QPoint viewportPoint) const {
    const int y = viewportPoint.y() - kMargin;
    const qint64 rowOnScreen = y >= 0 ? y / rowHeight_ : -((-y + rowHeight_ - 1) / rowHeight_);
    const window::TextRow row = store_.row(topRow_ + rowOnScreen);
    const qint64 column = std::max<qint64>(0, std::llround((viewportPoint.x() - kMargin) / charWidth_));
    return positionInRow(row, column);
}

// The position at the edge of `cell` in `row`; right of a wrapped row's text,
// the last position on that row (its end is where the next row begins).
qint64 TrafficView::positionInRow(const window::TextRow& row, qint64 cell) const {
    const qint64 position = store_.positionAtCell(row, cell);
    return row.isLastOfLine() || row.end == row.start ? position : std::min<qint64>(position, row.end - 1);
}

// --- Painting ----------------------------------------------------------------

void TrafficView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    painter.setFont(font());
    const QRect area = event->rect();
    const int firstOnScreen = std::max(0, (area.top() - kMargin) / rowHeight_);
    const int lastOnScreen = std::max(0, (area.bottom() - kMargin) / rowHeight_);
    if (topRow_ + firstOnScreen < store_.rowCount()) {
        window::TextRow row = store_.row(topRow_ + firstOnScreen);
        // Rows, not lines: a line without breaks may be hundreds of MiB long.
        const qint64 lastShown =
            store_.row(std::min<qint64>(topRow_ + lastOnScreen, store_.rowCount() - 1)).end;
        const Spans matches = matchesBetween(row.start, lastShown);
        std::string buffer;
        for (int onScreen = firstOnScreen; onScreen <= lastOnScreen; ++onScreen) {
            paintRow(painter, row, kMargin + onScreen * rowHeight_, buffer, matches);
            if (row.index + 1 >= store_.rowCount()) break;
            row = store_.nextRow(row);
        }
    }
    if (hasFocus() && caretShown_ && isCaretVisible()) {
        const QPoint at = pointForOffset(caret_);
        painter.fillRect(QRect(at.x(), at.y() - rowHeight_ / 2, 1, rowHeight_),
                         palette().color(QPalette::Text));
    }
}

// One row: the selection's background, the text in the text colour, the
// selected part again in the highlight colour, and boxes for control bytes.
void TrafficView::paintRow(QPainter& painter, const window::TextRow& row, int y, std::string& buffer,
                           const Spans& matches) const {
    buffer.clear();  // the caller's buffer keeps its storage from row to row
    store_.visit(row.start, row.end - row.start,
                 [&buffer](const char* data, std::size_t length) { buffer.append(data, length); });
    // One QChar per cell: a TAB shows as the blank cells up to its stop.
    QString shown;
    shown.reserve(static_cast<qsizetype>(buffer.size()));
    for (const char character : buffer) {
        const auto byte = static_cast<unsigned char>(character);
        if (byte == '\t') {
            shown.append(QString(store_.tabCells(shown.size()), QChar(u' ')));
        } else {
            // A soft hyphen would be drawn with no width: show it as a hyphen.
            shown.append(isControl(byte) ? QChar(u' ') : byte == 0xAD ? QChar(u'-') : QChar(byte));
        }
    }

    for (const auto& [matchStart, matchEnd] : matches) {
        if (matchEnd <= row.start || matchStart >= row.end) continue;
        const qint64 fromCell = store_.cellOf(row, std::max<qint64>(matchStart, row.start));
        const qint64 toCell = store_.cellOf(row, std::min<qint64>(matchEnd, row.end));
        painter.fillRect(
            QRectF(xForColumn(fromCell), y, static_cast<qreal>(toCell - fromCell) * charWidth_, rowHeight_),
            kMatchColour);
    }

    const qint64 selectionStart = std::min(anchor_, caret_);
    const qint64 selectionEnd = std::max(anchor_, caret_);
    const qint64 from = std::clamp<qint64>(selectionStart, row.start, row.end);
    const qint64 to = std::clamp<qint64>(selectionEnd, row.start, row.end);
    // A selected line break shows as one selected cell after the line.
    const bool breakSelected = row.isLastOfLine() && row.line.next > row.line.end &&
                               selectionStart <= row.line.end && selectionEnd > row.line.end;
    const qint64 fromCell = store_.cellOf(row, from);
    const qint64 toCell = store_.cellOf(row, to);
    const qint64 highlightEnd = breakSelected ? store_.cellOf(row, row.end) + 1 : toCell;
    QRectF highlight(xForColumn(fromCell), y, static_cast<qreal>(highlightEnd - fromCell) * charWidth_,
                     rowHeight_);
    if (highlightEnd > fromCell) painter.fillRect(highlight, palette().color(QPalette::Highlight));

    const QPointF baseline(kMargin, y + ascent_);
    painter.setPen(palette().color(QPalette::Text));
    painter.drawText(baseline, shown);
    if (to > from) {
        painter.save();
        painter.setClipRect(highlight);
        painter.setPen(palette().color(QPalette::HighlightedText));
        painter.drawText(baseline, shown);
        painter.restore();
    }

    qint64 cell = 0;
    for (std::size_t i = 0; i < buffer.size(); ++i) {
        const auto byte = static_cast<unsigned char>(buffer[i]);
        const qint64 x = cell;
        cell += byte == '\t' ? store_.tabCells(cell) : 1;
        if (!isControl(byte) || byte == '\t') continue;
        const qint64 at = row.start + static_cast<qint64>(i);
        const bool selected = at >= selectionStart && at < selectionEnd;
        painter.setPen(palette().color(selected ? QPalette::HighlightedText : QPalette::Text));
        painter.drawRect(
            QRectF(xForColumn(x) + 1.5, y + rowHeight_ * 0.25 + 0.5, charWidth_ - 3, rowHeight_ * 0.5));
    }
}

}  // namespace ostrel::ui
