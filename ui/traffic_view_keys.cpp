// The traffic view's keyboard: an edit box's moves, selection keys, typing,
// deleting and clipboard keys. Enter and Escape stay in the view; Tab and
// Shift+Tab move the focus to the next or previous control.

#include <QKeyEvent>
#include <algorithm>

#include "ui/traffic_view.h"

namespace ostrel::ui {

namespace {

bool isPrintableText(const QString& text) {
    if (text.isEmpty()) return false;
    return std::all_of(text.begin(), text.end(),
                       [](QChar c) { return c.unicode() >= 0x20 && c.unicode() != 0x7F; });
}

// A key that types its text: printable, and not a Control or Meta chord.
bool typesText(const QKeyEvent* event) {
    return isPrintableText(event->text()) && !(event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier));
}

}  // namespace

// --- Keyboard ------------------------------------------------------------------

bool TrafficView::handleNavigation(QKeyEvent* event) {
    using Key = QKeySequence::StandardKey;
    struct Move {
        Key key;
        bool extendsSelection;
    };
    static constexpr Move kMoves[] = {
        {Key::MoveToPreviousChar, false},    {Key::SelectPreviousChar, true},
        {Key::MoveToNextChar, false},        {Key::SelectNextChar, true},
        {Key::MoveToPreviousWord, false},    {Key::SelectPreviousWord, true},
        {Key::MoveToNextWord, false},        {Key::SelectNextWord, true},
        {Key::MoveToPreviousLine, false},    {Key::SelectPreviousLine, true},
        {Key::MoveToNextLine, false},        {Key::SelectNextLine, true},
        {Key::MoveToPreviousPage, false},    {Key::SelectPreviousPage, true},
        {Key::MoveToNextPage, false},        {Key::SelectNextPage, true},
        {Key::MoveToStartOfLine, false},     {Key::SelectStartOfLine, true},
        {Key::MoveToEndOfLine, false},       {Key::SelectEndOfLine, true},
        {Key::MoveToStartOfBlock, false},    {Key::SelectStartOfBlock, true},
        {Key::MoveToEndOfBlock, false},      {Key::SelectEndOfBlock, true},
        {Key::MoveToStartOfDocument, false}, {Key::SelectStartOfDocument, true},
        {Key::MoveToEndOfDocument, false},   {Key::SelectEndOfDocument, true},
    };
    const auto found = std::find_if(std::begin(kMoves), std::end(kMoves),
                                    [event](const Move& move) { return event->matches(move.key); });
    if (found == std::end(kMoves)) return false;

    const qint64 page = std::max(1, visibleRows_ - 1);
    bool keepsColumn = false;  // up and down keep the column where they began
    qint64 target = caret_;
    switch (found->key) {
        case Key::MoveToPreviousChar:
            target = hasSelection() ? std::min(anchor_, caret_) : previousPosition(caret_);
            break;
        case Key::MoveToNextChar:
            target = hasSelection() ? std::max(anchor_, caret_) : nextPosition(caret_);
            break;
        case Key::SelectPreviousChar:
            target = previousPosition(caret_);
            break;
        case Key::SelectNextChar:
            target = nextPosition(caret_);
            break;
        case Key::MoveToPreviousWord:
        case Key::SelectPreviousWord:
            target = previousWordStart(caret_);
            break;
        case Key::MoveToNextWord:
        case Key::SelectNextWord:
            target = nextWordStart(caret_);
            break;
        case Key::MoveToPreviousLine:
        case Key::SelectPreviousLine:
            target = positionRowsAway(-1);
            keepsColumn = true;
            break;
        case Key::MoveToNextLine:
        case Key::SelectNextLine:
            target = positionRowsAway(1);
            keepsColumn = true;
            break;
        case Key::MoveToPreviousPage:
        case Key::SelectPreviousPage:
            scrollToRow(topRow_ - page);
            target = positionRowsAway(-page);
            keepsColumn = true;
            break;
        case Key::MoveToNextPage:
        case Key::SelectNextPage:
            scrollToRow(topRow_ + page);
            target = positionRowsAway(page);
            keepsColumn = true;
            break;
        case Key::MoveToStartOfLine:
        case Key::SelectStartOfLine:
        case Key::MoveToStartOfBlock:
        case Key::SelectStartOfBlock:
            target = store_.lineAt(caret_).start;
            break;
        case Key::MoveToEndOfLine:
        case Key::SelectEndOfLine:
        case Key::MoveToEndOfBlock:
        case Key::SelectEndOfBlock:
            target = store_.lineAt(caret_).end;
            break;
        case Key::MoveToStartOfDocument:
        case Key::SelectStartOfDocument:
            target = 0;
            break;
        default:  // the end of the document
            target = store_.size();
            break;
    }
    moveCaret(target, found->extendsSelection);
    if (!keepsColumn) preferredColumn_ = -1;
    if (found->extendsSelection) offerPrimarySelection();
    return true;
}

bool TrafficView::handleEditing(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        copy();
    } else if (event->matches(QKeySequence::Cut)) {
        cut();
    } else if (event->matches(QKeySequence::Paste)) {
        paste();
    } else if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
        offerPrimarySelection();
    } else if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        replaceSelection("\r\n", Reveal::Caret);
    } else if (event->key() == Qt::Key_Backspace) {
        if (!hasSelection()) anchor_ = previousPosition(caret_);
        replaceSelection({}, Reveal::Caret);
    } else if (event->key() == Qt::Key_Delete) {
        if (!hasSelection()) anchor_ = nextPosition(caret_);
        replaceSelection({}, Reveal::Caret);
    } else if (event->key() == Qt::Key_Escape) {
        // Escape closes nothing here: the main window is not a dialog.
    } else if (typesText(event)) {
        insertTyped(event->text());
    } else {
        return false;
    }
    return true;
}

// Keys that an application shortcut must not take from the traffic view.
bool TrafficView::wantsKey(QKeyEvent* event) const {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
        case Qt::Key_Backspace:
        case Qt::Key_Delete:
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_Home:
        case Qt::Key_End:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            return true;
        default:
            break;
    }
    return event->matches(QKeySequence::Copy) || event->matches(QKeySequence::Cut) ||
           event->matches(QKeySequence::Paste) || event->matches(QKeySequence::SelectAll) || typesText(event);
}

void TrafficView::keyPressEvent(QKeyEvent* event) {
    if (handleNavigation(event) || handleEditing(event)) {
        event->accept();
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

bool TrafficView::event(QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride && wantsKey(static_cast<QKeyEvent*>(event))) {
        event->accept();
        return true;
    }
    return QAbstractScrollArea::event(event);
}

}  // namespace ostrel::ui
