#pragma once
// The traffic window (control 201 of the main window): a multi-line edit box
// for 8-bit text that is never trimmed and stays quick at any size.
//
// - Each byte is one Latin-1 character. "\r\n", a lone "\r" and a lone "\n"
//   each end a line. Other control bytes (0x00-0x1F, 0x7F, 0x80-0x9F) are
//   shown as an empty box one cell wide; a TAB as blank cells up to the next
//   multiple of 8 cells of its row.
// - Lines wrap at the width of the window, after the last blank that fits (so
//   a HEX token "0x41" is never split), at the edge only in a row without
//   blanks; the font is the system's fixed font, so a row's width counts cells
//   (columns = usable width / cell width).
// - appendText() (Ostrel's own text) always goes to the end. The operator's
//   caret, selection and scroll position stay where they are; the view
//   follows the end only while it shows the end, and a bare caret at the end
//   moves on with it. Text the operator types or pastes goes to the caret.
// - The operator may move the caret and select with mouse and keyboard, type,
//   delete, copy, cut, paste. Home and End go to the start and end of the
//   logical line. Enter and Escape stay in the widget; Tab moves the focus.
// - Copy and cut put the text with LF line ends on the clipboard; a selection
//   made with mouse or keyboard is also offered as the X primary selection.
// - The context menu offers Copy, Select All, Find, Save Text As and Clear
//   Window; clearing asks first (the question can be replaced, for tests).
// - Copy takes at most 256 MiB of a selection and says so beyond that.
// - Find (Ctrl+F, F3, Shift+F3) runs on a thread of its own over a snapshot
//   of the text, can be stopped, selects the match it finds and highlights
//   the other matches in view. Save Text As streams the whole text with LF
//   line ends to a new file, on a thread of its own, with a progress dialog.
//
// The text lives in a window::TrafficTextStore: an append costs the same at 1 GiB as
// at 1 MiB, and only the visible rows are painted. Beyond 64 MiB the older
// text goes to an unlinked file in the user's cache folder and is read back
// as it is shown, found, copied or saved; only the text still in memory can
// be changed (a key that would change older text beeps). Repaints are scheduled
// with update(), so a burst of appends costs one paint. The scroll bar counts
// rows up to 2^30 and is scaled beyond (window::ScrollScale).
//
// Threads: GUI thread only. The main window applies queued traffic text with
// appendText() in batches.

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QMenu>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "ui/traffic_find_bar.h"
#include "window/traffic_text_store.h"

class QPainter;
class QProgressDialog;

namespace ostrel::ui {

class TrafficView : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit TrafficView(QWidget* parent = nullptr);
    ~TrafficView() override;

    // --- Text ---------------------------------------------------------------
    // Adds `latin1` at the end of the text (see above).
    void appendText(std::string_view latin1);
    std::string text() const;  // the whole text (copies it)
    // Bytes of text. Note: this hides QWidget::size(); use QWidget::size() for pixels.
    qint64 size() const;
    // Bytes of storage held for the text.
    qint64 memoryBytes() const;
    const window::TrafficTextStore& store() const { return store_; }

    // --- Caret and selection (offsets in bytes, 0 to size()) ----------------
    // A position between the "\r" and "\n" of one line break moves before the "\r".
    qint64 caretPosition() const { return caret_; }
    qint64 anchorPosition() const { return anchor_; }
    void setCaretPosition(qint64 position);
    void setSelection(qint64 anchor, qint64 caret);
    void selectAll();
    bool hasSelection() const { return anchor_ != caret_; }
    std::string selectedText() const;
    void copy() const;  // the selection to the clipboard, with LF line ends
    void cut();
    void paste();
    // Removes all text (the operator's Clear Window, after the question).
    void clearWindow();
    // Asks whether to clear the window; the default shows a question box.
    using ClearQuestion = std::function<bool(QWidget* parent)>;
    void setClearQuestion(ClearQuestion question) { clearQuestion_ = std::move(question); }
    // The context menu's actions, as shown at the last right-click.
    QMenu* contextMenu() const { return contextMenu_.data(); }

    // --- Memory, Find, Save Text As ----------------------------------------
    static constexpr qint64 kResidentBytes = 64 * 1024 * 1024;
    static constexpr qint64 kCopyLimitBytes = 256 * 1024 * 1024;
    // Where older text goes and how much stays in memory (tests use a scratch
    // folder and a few KiB); the default is the user's cache folder, 64 MiB.
    void setSpill(window::TrafficTextStore::SpillOpener open, qint64 residentBytes);
    void setCopyLimit(qint64 bytes) { copyLimit_ = bytes; }
    // Opens the Find bar (Ctrl+F), with the selection as the text to find
    // when it is short and on one line.
    void showFindBar();
    TrafficFindBar* findBar() const { return findBar_.data(); }
    // Finds the next (or previous) match of the Find bar's text; the answer
    // comes on the GUI thread later. isFinding() while it runs.
    void findNext(bool backward);
    bool isFinding() const { return findRunning_; }
    void stopFinding();
    // Save Text As: asks for a file name (replaceable, for tests), then
    // writes the text on a thread of its own; isSaving() while it runs.
    using SaveFileQuestion = std::function<QString(QWidget* parent)>;
    void setSaveFileQuestion(SaveFileQuestion question) { saveFileQuestion_ = std::move(question); }
    void saveTextAs();
    bool isSaving() const { return saveRunning_; }
    // Messages to the operator (a non-modal box by default; tests catch them).
    using Notice = std::function<void(QWidget* parent, const QString& title, const QString& text)>;
    void setNotice(Notice notice) { notice_ = std::move(notice); }

    // --- Geometry (viewport coordinates) ------------------------------------
    int columns() const { return store_.wrapColumns(); }
    qint64 rowCount() const { return store_.rowCount(); }
    qint64 firstVisibleRow() const { return topRow_; }
    int visibleRows() const { return visibleRows_; }  // rows that fit entirely
    int rowHeight() const { return rowHeight_; }
    // A point inside the row of `position`, on the left edge of its character
    // cell: clicking there puts the caret at `position`.
    QPoint pointForOffset(qint64 position) const;
    // The caret position nearest to a viewport point.
    qint64 offsetAt(QPoint viewportPoint) const;
    // The widget width at which exactly `columns` characters fit in a row.
    int widthForColumns(int columns) const;
    // The widget height at which `rows` whole rows fit.
    int heightForRows(int rows) const;
    // Scrolls so that `row` is the first visible row (clamped).
    void scrollToRow(qint64 row);
    bool isShowingEnd() const { return topRow_ >= maxTopRow(); }
    // True while rows of an older width remain after a resize of a large text.
    bool isLayingOut() const { return store_.layoutPending(); }

protected:
    bool event(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    // Layout and scrolling (traffic_view.cpp).
    void updateMetrics();
    void updateLayout();
    void continueLayout();
    int columnsForViewport() const;
    qint64 maxTopRow() const;
    void syncScrollBar();
    void ensureCaretVisible();
    bool isCaretVisible() const;
    using Spans = std::vector<std::pair<qint64, qint64>>;
    void paintRow(QPainter& painter, const window::TextRow& row, int y, std::string& buffer,
                  const Spans& matches) const;
    Spans matchesBetween(qint64 from, qint64 to) const;
    qreal xForColumn(qint64 column) const;

    // Editing (traffic_view_editing.cpp), keys (traffic_view_keys.cpp), mouse
    // and blink (traffic_view_mouse.cpp).
    enum class Reveal { IfFollowing, Caret };
    void replaceSelection(std::string_view latin1, Reveal reveal);
    void insertTyped(const QString& text);
    void moveCaret(qint64 position, bool extendSelection);
    qint64 normalized(qint64 position) const;
    qint64 previousPosition(qint64 position) const;
    qint64 nextPosition(qint64 position) const;
    qint64 previousWordStart(qint64 position) const;
    qint64 nextWordStart(qint64 position) const;
    qint64 positionRowsAway(qint64 rows);
    qint64 positionInRow(const window::TextRow& row, qint64 cell) const;
    bool handleNavigation(QKeyEvent* event);
    bool handleEditing(QKeyEvent* event);
    bool wantsKey(QKeyEvent* event) const;
    void selectWordAt(qint64 position);
    void dragTo(QPoint viewportPoint);
    void restartBlink();
    QString selectedTextWithLf(qint64 limit) const;
    void offerPrimarySelection() const;
    void askAndClear();
    // Find and Save Text As (traffic_view_find.cpp).
    void startFind(bool backward, int retries);
    void finishFind(std::uint64_t generation, qint64 match, bool wrapped, bool stopped, const QString& error,
                    bool backward, int retries);
    void finishSave(const QString& path, bool complete, bool stopped, const QString& error);
    void tell(const QString& title, const QString& text) const;
    void placeFindBar();
    void tellSpillProblem();
    bool refusesEditAt(qint64 from);

    window::TrafficTextStore store_;
    qint64 caret_ = 0;
    qint64 anchor_ = 0;
    qint64 topRow_ = 0;
    qint64 preferredColumn_ = -1;  // kept across up/down moves
    int visibleRows_ = 1;
    qreal charWidth_ = 8;
    int rowHeight_ = 16;
    int ascent_ = 12;
    bool syncingScrollBar_ = false;
    bool dragging_ = false;
    bool caretShown_ = true;
    QPoint lastDragPoint_;
    QBasicTimer blinkTimer_;
    QBasicTimer dragScrollTimer_;
    QBasicTimer rewrapTimer_;
    QBasicTimer layoutTimer_;  // a layout for a new width, slice by slice
    ClearQuestion clearQuestion_;
    QPointer<QMenu> contextMenu_;
    qint64 copyLimit_ = kCopyLimitBytes;
    QPointer<TrafficFindBar> findBar_;
    std::uint64_t findGeneration_ = 0;
    bool findRunning_ = false;
    bool saveRunning_ = false;
    SaveFileQuestion saveFileQuestion_;
    Notice notice_;
    std::string toldSpillProblem_;
    QPointer<QProgressDialog> saveProgress_;
    // Last: the workers stop and are joined before anything they report to goes.
    std::jthread findWorker_;
    std::jthread saveWorker_;
};

}  // namespace ostrel::ui
