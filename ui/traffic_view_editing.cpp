// The traffic view's editing: replacing the selection, the clipboard and the
// primary selection, the context menu, and where the caret goes for each kind
// of move.

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <algorithm>

#include "ui/traffic_view.h"
#include "window/line_ends.h"

namespace ostrel::ui {

namespace {

constexpr qint64 kWordScanLimit = 4096;  // keeps word moves immediate inside endless lines
constexpr qint64 kPrimarySelectionLimit = 16 * 1024 * 1024;

bool isWordByte(char byte) {
    const auto value = static_cast<unsigned char>(byte);
    return (value >= '0' && value <= '9') || (value >= 'A' && value <= 'Z') ||
           (value >= 'a' && value <= 'z') || value == '_' ||
           (value >= 0xC0 && value != 0xD7 && value != 0xF7);
}

// Typed or pasted text as Latin-1 bytes: characters beyond Latin-1 become
// '?', and a "\n" that has no "\r" before it becomes "\r\n".
std::string toLatin1(const QString& text) {
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        if (unit == u'\n' && (i == 0 || text[i - 1] != u'\r')) bytes.push_back('\r');
        bytes.push_back(unit <= 0xFF ? static_cast<char>(unit) : '?');
    }
    return bytes;
}

}  // namespace

// --- Editing -------------------------------------------------------------------

void TrafficView::replaceSelection(std::string_view latin1, Reveal reveal) {
    const qint64 from = std::min(anchor_, caret_);
    const qint64 to = std::max(anchor_, caret_);
    if (from == to && latin1.empty()) return;
    if (refusesEditAt(from)) return;
    const bool caretAtEnd = from == to && caret_ == store_.size();
    const bool following = caretAtEnd && isShowingEnd();
    const bool caretWasVisible = reveal == Reveal::Caret || (!caretAtEnd && isCaretVisible());

    store_.replace(from, to - from, latin1);
    caret_ = anchor_ = normalized(from + static_cast<qint64>(latin1.size()));
    preferredColumn_ = -1;

    if (following) {
        topRow_ = maxTopRow();
    } else {
        topRow_ = std::min(topRow_, maxTopRow());
        if (caretWasVisible) ensureCaretVisible();
    }
    syncScrollBar();
    if (reveal == Reveal::Caret) restartBlink();
    viewport()->update();
}

// The selection with each line break ("\r\n", a lone "\r" or "\n") as "\n",
// as other Linux programs expect to paste it.
QString TrafficView::selectedTextWithLf(qint64 limit) const {
    const qint64 from = std::min(anchor_, caret_);
    const qint64 count = std::min(std::max(anchor_, caret_) - from, limit);
    // One pass over the store into a text of the final size at most: a
    // replace() on a huge text with millions of breaks takes minutes.
    QString text(static_cast<qsizetype>(count), Qt::Uninitialized);
    QChar* out = text.data();
    window::LfLineEnds lineEnds;
    auto put = [&out](const char* data, std::size_t length) {
        for (std::size_t i = 0; i < length; ++i) *out++ = QLatin1Char(data[i]);
    };
    store_.visit(from, count,
                 [&](const char* data, std::size_t length) { lineEnds.feed(data, length, put); });
    lineEnds.finish(put);
    text.truncate(out - text.constData());
    return text;
}

void TrafficView::copy() const {
    if (!hasSelection()) return;
    const qint64 selected = std::max(anchor_, caret_) - std::min(anchor_, caret_);
    QGuiApplication::clipboard()->setText(selectedTextWithLf(copyLimit_));
    if (selected > copyLimit_) {
        tell(QStringLiteral("Copy"),
             QStringLiteral("The selection holds %1 MiB; Copy took its first %2 MiB.\n"
                            "Save Text As (in the traffic window's menu) writes all of the text to a file.")
                 .arg(selected / (1024 * 1024))
                 .arg(copyLimit_ / (1024 * 1024)));
    }
}

void TrafficView::offerPrimarySelection() const {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!hasSelection() || !clipboard->supportsSelection()) return;
    // A select-all of a huge log is not copied for a middle click that may
    // never come; Copy still takes it.
    if (std::max(anchor_, caret_) - std::min(anchor_, caret_) > kPrimarySelectionLimit) return;
    clipboard->setText(selectedTextWithLf(kPrimarySelectionLimit), QClipboard::Selection);
}

void TrafficView::clearWindow() {
    store_.clear();
    caret_ = anchor_ = 0;
    topRow_ = 0;
    preferredColumn_ = -1;
    syncScrollBar();
    restartBlink();
    viewport()->update();
}

void TrafficView::askAndClear() {
    const bool confirmed =
        clearQuestion_
            ? clearQuestion_(this)
            : QMessageBox::question(this, QStringLiteral("Clear Window"),
                                    QStringLiteral("Remove all text from the traffic window?"),
                                    QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
    if (confirmed) clearWindow();
}

void TrafficView::contextMenuEvent(QContextMenuEvent* event) {
    if (contextMenu_) contextMenu_->close();
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QAction* copyAction = menu->addAction(QStringLiteral("&Copy"), this, [this] { copy(); });
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setEnabled(hasSelection());
    QAction* selectAllAction = menu->addAction(QStringLiteral("Select &All"), this, [this] {
        selectAll();
        offerPrimarySelection();
    });
    selectAllAction->setShortcut(QKeySequence::SelectAll);
    selectAllAction->setEnabled(store_.size() > 0);
    menu->addSeparator();
    QAction* findAction = menu->addAction(QStringLiteral("&Find..."), this, [this] { showFindBar(); });
    findAction->setShortcut(QKeySequence::Find);
    QAction* saveAction = menu->addAction(QStringLiteral("Save Text &As..."), this, [this] { saveTextAs(); });
    saveAction->setEnabled(store_.size() > 0 && !saveRunning_);
    menu->addSeparator();
    QAction* clearAction =
        menu->addAction(QStringLiteral("C&lear Window..."), this, [this] { askAndClear(); });
    clearAction->setEnabled(store_.size() > 0);
    contextMenu_ = menu;
    menu->popup(event->globalPos());
    event->accept();
}

void TrafficView::cut() {
    if (!hasSelection() || refusesEditAt(std::min(anchor_, caret_))) return;
    copy();
    replaceSelection({}, Reveal::Caret);
}

void TrafficView::paste() {
    insertTyped(QGuiApplication::clipboard()->text());
}

void TrafficView::insertTyped(const QString& text) {
    const std::string bytes = toLatin1(text);
    if (!bytes.empty()) replaceSelection(bytes, Reveal::Caret);
}

// --- Caret movement --------------------------------------------------------------

qint64 TrafficView::normalized(qint64 position) const {
    position = std::clamp<qint64>(position, 0, store_.size());
    return store_.splitsBreak(position) ? position - 1 : position;
}

qint64 TrafficView::previousPosition(qint64 position) const {
    if (position <= 0) return 0;
    return normalized(position - 1);
}

qint64 TrafficView::nextPosition(qint64 position) const {
    if (position >= store_.size()) return store_.size();
    return store_.splitsBreak(position + 1) ? position + 2 : position + 1;
}

qint64 TrafficView::previousWordStart(qint64 position) const {
    const qint64 limit = std::max<qint64>(0, position - kWordScanLimit);
    qint64 at = position;
    while (at > limit && !isWordByte(store_.at(at - 1))) --at;
    while (at > limit && isWordByte(store_.at(at - 1))) --at;
    return normalized(at);
}

qint64 TrafficView::nextWordStart(qint64 position) const {
    const qint64 limit = std::min<qint64>(store_.size(), position + kWordScanLimit);
    qint64 at = position;
    while (at < limit && isWordByte(store_.at(at))) ++at;
    while (at < limit && !isWordByte(store_.at(at))) ++at;
    return normalized(at);
}

void TrafficView::selectWordAt(qint64 position) {
    qint64 start = position;
    qint64 end = position;
    if (position < store_.size() && isWordByte(store_.at(position))) {
        const qint64 low = std::max<qint64>(0, position - kWordScanLimit);
        const qint64 high = std::min<qint64>(store_.size(), position + kWordScanLimit);
        while (start > low && isWordByte(store_.at(start - 1))) --start;
        while (end < high && isWordByte(store_.at(end))) ++end;
    } else {
        end = nextPosition(position);
    }
    anchor_ = normalized(start);
    caret_ = normalized(end);
    viewport()->update();
    offerPrimarySelection();
}

// The caret position `rows` visual rows away, at the column the caret had
// when up/down moves began.
qint64 TrafficView::positionRowsAway(qint64 rows) {
    const window::TextRow current = store_.rowAt(caret_);
    if (preferredColumn_ < 0)
        preferredColumn_ = store_.cellOf(current, std::min<qint64>(caret_, current.line.end));
    return normalized(positionInRow(store_.row(current.index + rows), preferredColumn_));
}

void TrafficView::moveCaret(qint64 position, bool extendSelection) {
    caret_ = normalized(position);
    if (!extendSelection) anchor_ = caret_;
    ensureCaretVisible();
    restartBlink();
    viewport()->update();
}

}  // namespace ostrel::ui
