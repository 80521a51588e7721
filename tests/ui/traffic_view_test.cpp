// The traffic view as a real widget on the offscreen platform: appends at the
// end whatever the selection, mouse and keyboard editing, clipboard, wrapping, dialog keys,
// colours, the cost of appends at size, and the scroll bar's mapping.

#include "ui/traffic_view.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDialog>
#include <QFontInfo>
#include <QImage>
#include <QLineEdit>
#include <QMap>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <string>
#include <tuple>
#include <vector>

#include "window/traffic_scroll_scale.h"

namespace ostrel::ui {
namespace {

class TrafficViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        view.resize(view.widthForColumns(80), 300);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
        ASSERT_EQ(view.columns(), 80);
    }

    QWidget* surface() { return view.viewport(); }

    void click(qint64 position, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::mouseClick(surface(), Qt::LeftButton, modifiers, view.pointForOffset(position));
    }

    void typeText(const QString& text, int key = 0) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
        QApplication::sendEvent(&view, &press);
    }

    TrafficView view;
};

TEST_F(TrafficViewTest, AppendsAtTheEndAndFollowsIt) {
    for (int i = 0; i < 200; ++i) view.appendText("\r\n[12:00:00:000] DTE ->> 0x41 0x42 ");
    EXPECT_EQ(view.size(), 200 * 35);
    EXPECT_EQ(view.caretPosition(), view.size());
    EXPECT_EQ(view.rowCount(), 201);
    EXPECT_EQ(view.firstVisibleRow(), view.rowCount() - view.visibleRows());
    EXPECT_EQ(view.verticalScrollBar()->value(), view.verticalScrollBar()->maximum());
    // Scrolled back, the view stays where the operator left it; back at the end, it follows again.
    view.scrollToRow(10);
    for (int i = 0; i < 50; ++i) view.appendText("\r\n0x32");
    EXPECT_EQ(view.firstVisibleRow(), 10);
    EXPECT_EQ(view.caretPosition(), view.size());
    view.scrollToRow(view.rowCount());
    view.appendText("\r\nmore");
    EXPECT_TRUE(view.isShowingEnd());
}

TEST_F(TrafficViewTest, KeepsEveryByteIncludingZeroAndHighHalf) {
    std::string all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
    view.appendText(all);
    view.appendText(all);
    EXPECT_EQ(view.text(), all + all);
    EXPECT_EQ(view.size(), 512);
}

TEST_F(TrafficViewTest, AppendedTextGoesToTheEndWhereverTheOperatorClicked) {
    view.appendText("line one\r\nline two\r\nline three");
    click(15);  // before "two"
    EXPECT_EQ(view.caretPosition(), 15);
    view.appendText("XYZ");
    view.appendText("\r\n!");
    EXPECT_EQ(view.text(), "line one\r\nline two\r\nline threeXYZ\r\n!");
    EXPECT_EQ(view.caretPosition(), 15);  // the caret stays on the text it was on
    EXPECT_FALSE(view.hasSelection());
    // What the operator types still goes to the caret.
    QTest::keyClicks(&view, "ab");
    EXPECT_EQ(view.text(), "line one\r\nline abtwo\r\nline threeXYZ\r\n!");
    EXPECT_EQ(view.caretPosition(), 17);
}

TEST_F(TrafficViewTest, ADraggedSelectionSurvivesAppendsAndCanBeCopied) {
    view.appendText("0x41 0x42 0x43 0x44\r\n0x45 0x46");
    QTest::mousePress(surface(), Qt::LeftButton, Qt::NoModifier, view.pointForOffset(5));
    const QPoint end = view.pointForOffset(15);
    QMouseEvent move(QEvent::MouseMove, end, surface()->mapToGlobal(end), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(surface(), &move);
    QTest::mouseRelease(surface(), Qt::LeftButton, Qt::NoModifier, end);
    EXPECT_EQ(view.selectedText(), "0x42 0x43 ");
    view.appendText(" 0x47\r");
    view.appendText("\n0x48");  // joins the "\r" at the old end
    EXPECT_EQ(view.text(), "0x41 0x42 0x43 0x44\r\n0x45 0x46 0x47\r\n0x48");
    EXPECT_EQ(view.anchorPosition(), 5);
    EXPECT_EQ(view.caretPosition(), 15);
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "0x42 0x43 ");
}

TEST_F(TrafficViewTest, AScrolledBackViewStaysWhileTextArrivesAndFollowsAgainAtTheEnd) {
    for (int i = 0; i < 100; ++i) view.appendText("\r\nrow");
    ASSERT_TRUE(view.isShowingEnd());
    view.setCaretPosition(7);
    view.scrollToRow(3);
    for (int i = 0; i < 100; ++i) view.appendText("\r\nmore");
    EXPECT_EQ(view.firstVisibleRow(), 3);
    EXPECT_EQ(view.caretPosition(), 7);
    view.scrollToRow(view.rowCount());
    view.appendText("\r\nlast");
    EXPECT_TRUE(view.isShowingEnd());
    EXPECT_EQ(view.caretPosition(), 7);
}

TEST_F(TrafficViewTest, TypingInsertsLatin1AtTheCaretAndReplacesTheSelection) {
    view.appendText("ab");
    view.setCaretPosition(1);
    QTest::keyClicks(&view, "XY");
    EXPECT_EQ(view.text(), "aXYb");
    typeText(QString(QChar(0xE9)), Qt::Key_Eacute);
    typeText(QString(QChar(0x20AC)));  // not Latin-1
    EXPECT_EQ(view.text(), "aXY\xE9?b");
    QTest::keyClick(&view, Qt::Key_Return);
    EXPECT_EQ(view.text(), "aXY\xE9?\r\nb");
    EXPECT_EQ(view.caretPosition(), 7);
    view.setSelection(0, 3);
    QTest::keyClicks(&view, "bye");
    EXPECT_EQ(view.text(), "bye\xE9?\r\nb");
}

TEST_F(TrafficViewTest, BackspaceAndDeleteRemoveCharactersAndWholeBreaks) {
    view.appendText("abc\r\ndef");
    view.setCaretPosition(4);  // inside a line break: before it
    EXPECT_EQ(view.caretPosition(), 3);
    view.setCaretPosition(5);  // start of "def"
    QTest::keyClick(&view, Qt::Key_Backspace);
    EXPECT_EQ(view.text(), "abcdef");
    EXPECT_EQ(view.caretPosition(), 3);
    QTest::keyClick(&view, Qt::Key_Delete);
    EXPECT_EQ(view.text(), "abcef");
    QTest::keyClick(&view, Qt::Key_Backspace);
    EXPECT_EQ(view.text(), "abef");
    view.setSelection(1, 3);
    QTest::keyClick(&view, Qt::Key_Delete);
    EXPECT_EQ(view.text(), "af");
    view.setCaretPosition(0);
    QTest::keyClick(&view, Qt::Key_Backspace);
    EXPECT_EQ(view.text(), "af");
}

TEST_F(TrafficViewTest, CopyTurnsEveryKindOfLineBreakIntoOneLf) {
    view.appendText("a\r\nb\rc\nd\r\r\n\xE9");
    view.appendText(std::string(70000, 'x') + "\r");  // across a chunk of the store, a lone "\r" last
    view.selectAll();
    view.copy();
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              QString::fromLatin1("a\nb\nc\nd\n\n\xE9") + QString(70000, QLatin1Char('x')) + "\n");
    // A selection that ends after a lone "\r" ends with its LF.
    view.setSelection(0, 5);
    view.copy();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "a\nb\n");
}

TEST_F(TrafficViewTest, CtrlCCopiesTheSelectionAsLatin1AndCtrlASelectsEverything) {
    view.appendText("r\xE9sultat\r\nsuite");
    view.setSelection(1, 12);
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromLatin1("\xE9sultat\nsu"));  // LF line ends
    EXPECT_EQ(view.text(), "r\xE9sultat\r\nsuite");  // copying changes nothing
    view.setCaretPosition(3);
    QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(view.selectedText(), view.text());
    // New text after Ctrl+A is added after the log; nothing is lost.
    view.appendText("new");
    EXPECT_EQ(view.text(), "r\xE9sultat\r\nsuitenew");
    EXPECT_EQ(view.selectedText(), "r\xE9sultat\r\nsuite");
}

// The actions of the context menu shown at a right-click, by their texts.
QMap<QString, QAction*> menuActions(TrafficView& view, QPoint at) {
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, view.viewport()->mapToGlobal(at));
    QApplication::sendEvent(view.viewport(), &event);
    QMap<QString, QAction*> actions;
    if (!view.contextMenu()) return actions;
    for (QAction* action : view.contextMenu()->actions())
        if (!action->isSeparator()) actions[action->text().remove(QLatin1Char('&'))] = action;
    return actions;
}

TEST_F(TrafficViewTest, TheContextMenuCopiesWithLfSelectsAllAndClearsOnlyWhenTheOperatorSaysYes) {
    view.appendText("first\r\nsecond\rthird\nfourth");
    QMap<QString, QAction*> actions = menuActions(view, QPoint(10, 10));
    ASSERT_EQ(actions.keys(),
              (QStringList{"Clear Window...", "Copy", "Find...", "Save Text As...", "Select All"}));
    EXPECT_TRUE(view.contextMenu()->isVisible());
    EXPECT_FALSE(actions["Copy"]->isEnabled());  // nothing selected yet
    actions["Select All"]->trigger();
    EXPECT_EQ(view.selectedText(), view.text());
    view.contextMenu()->close();

    actions = menuActions(view, QPoint(10, 10));
    ASSERT_TRUE(actions["Copy"]->isEnabled());
    QGuiApplication::clipboard()->clear();
    actions["Copy"]->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "first\nsecond\nthird\nfourth");
    view.contextMenu()->close();

    // Clear Window asks; "No" keeps every byte.
    int asked = 0;
    bool answer = false;
    view.setClearQuestion([&](QWidget* parent) {
        ++asked;
        EXPECT_EQ(parent, &view);
        return answer;
    });
    menuActions(view, QPoint(10, 10))["Clear Window..."]->trigger();
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(view.text(), "first\r\nsecond\rthird\nfourth");
    answer = true;
    menuActions(view, QPoint(10, 10))["Clear Window..."]->trigger();
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(view.text(), "");
    EXPECT_EQ(view.rowCount(), 1);
    EXPECT_EQ(view.caretPosition(), 0);
    // Traffic goes on after the clearing, and the view follows it.
    view.appendText("again");
    EXPECT_EQ(view.text(), "again");
    EXPECT_TRUE(view.isShowingEnd());
    actions = menuActions(view, QPoint(10, 10));
    EXPECT_FALSE(actions["Copy"]->isEnabled());
    view.contextMenu()->close();
}

TEST_F(TrafficViewTest, ASelectionIsOfferedAsThePrimarySelection) {
    if (!QGuiApplication::clipboard()->supportsSelection())
        GTEST_SKIP() << "the platform '" << QGuiApplication::platformName().toStdString()
                     << "' has no primary selection (the test traffic_view_under_x runs it on an X server)";
    view.appendText("abc\r\ndef ghi");
    click(1);
    click(8, Qt::ShiftModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(QClipboard::Selection), "bc\ndef");
}

TEST_F(TrafficViewTest, ShiftClickExtendsTheSelection) {
    view.appendText("abcdef\r\nghijkl");
    click(2);
    click(10, Qt::ShiftModifier);
    EXPECT_EQ(view.selectedText(), "cdef\r\ngh");
}

TEST_F(TrafficViewTest, ArrowsHomeEndAndShiftMoveTheCaret) {
    view.appendText("abc\r\ndefgh\r\nij");
    view.setCaretPosition(2);
    QTest::keyClick(&view, Qt::Key_Down);
    EXPECT_EQ(view.caretPosition(), 7);  // column 2 of "defgh"
    QTest::keyClick(&view, Qt::Key_Down);
    EXPECT_EQ(view.caretPosition(), 14);  // "ij" is shorter: its end
    QTest::keyClick(&view, Qt::Key_Up);
    EXPECT_EQ(view.caretPosition(), 7);  // back to column 2
    QTest::keyClick(&view, Qt::Key_End);
    EXPECT_EQ(view.caretPosition(), 10);
    QTest::keyClick(&view, Qt::Key_Right);
    EXPECT_EQ(view.caretPosition(), 12);  // over the whole "\r\n"
    QTest::keyClick(&view, Qt::Key_Left);
    EXPECT_EQ(view.caretPosition(), 10);
    QTest::keyClick(&view, Qt::Key_Home, Qt::ShiftModifier);
    EXPECT_EQ(view.selectedText(), "defgh");
    QTest::keyClick(&view, Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(view.caretPosition(), 0);
    EXPECT_FALSE(view.hasSelection());
    QTest::keyClick(&view, Qt::Key_End, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(view.selectedText(), view.text());
}

TEST_F(TrafficViewTest, LongLinesWrapAtTheWidth) {
    view.appendText(std::string(1000, 'x'));
    EXPECT_EQ(view.rowCount(), 13);
    view.resize(view.widthForColumns(100), view.height());
    EXPECT_EQ(view.columns(), 100);
    EXPECT_EQ(view.rowCount(), 10);
    view.resize(view.widthForColumns(7), view.height());
    EXPECT_EQ(view.rowCount(), 143);
    // Click on the third row, column 3.
    click(2 * 7 + 3);
    EXPECT_EQ(view.caretPosition(), 17);
}

TEST_F(TrafficViewTest, ALargeTextIsReWrappedOnceTheResizingPausesASliceAtATime) {
    const std::string line = "0x41 0x42 0x43 0x44 0x45 0x46 0x47 0x48 0x49 0x4A 0x4B 0x4C 0x4D 0x4E 0x4F\r\n";
    std::string batch;
    while (batch.size() < 1024 * 1024) batch += line;
    for (int i = 0; i < 17; ++i) view.appendText(batch);  // over 16 MiB
    view.resize(view.widthForColumns(100), view.height());
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.columns() == 100; }, 20000));
    const qint64 rowsAt100 = view.rowCount();
    // Each step of a drag keeps the old rows; the new width applies after the pause.
    for (int columns = 99; columns >= 40; --columns)
        view.resize(view.widthForColumns(columns), view.height());
    EXPECT_EQ(view.columns(), 100);
    EXPECT_EQ(view.rowCount(), rowsAt100);
    EXPECT_TRUE(view.isShowingEnd());
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.columns() == 40; }, 20000));
    // The rows are laid out again a slice per turn of the event loop, the view on the end all along.
    EXPECT_TRUE(view.isLayingOut());
    int slices = 0;
    while (view.isLayingOut()) {
        QCoreApplication::processEvents();
        ++slices;
        ASSERT_TRUE(view.isShowingEnd());
        ASSERT_LT(slices, 100000);
    }
    EXPECT_GE(slices, 2);
    // 74 characters: one row at 100, two at 40 (and the empty last line one row)
    EXPECT_EQ(view.rowCount(), 2 * rowsAt100 - 1);
    EXPECT_TRUE(view.isShowingEnd());
    // A small text follows the width at once.
    view.clearWindow();
    view.appendText(line);
    view.resize(view.widthForColumns(30), view.height());
    EXPECT_EQ(view.columns(), 30);
}

// Green pixels in the cells [fromCell, toCell) of the row `rowOnScreen`.
int inkInCells(const TrafficView& view, const QImage& image, int rowOnScreen, int fromCell, int toCell) {
    const int left = view.pointForOffset(0).x();
    const double cell = (view.widthForColumns(80) - view.widthForColumns(0)) / 80.0;
    int ink = 0;
    for (int y = rowOnScreen * view.rowHeight(); y < (rowOnScreen + 1) * view.rowHeight(); ++y) {
        for (int x = left + static_cast<int>(fromCell * cell) + 1;
             x < left + static_cast<int>(toCell * cell) - 1; ++x)
            ink += image.valid(x, y + 2) && image.pixelColor(x, y + 2) == QColor(0, 150, 0) ? 1 : 0;
    }
    return ink;
}

TEST_F(TrafficViewTest, HexTokensWrapWholeAndClicksFindTheirBytes) {
    view.resize(view.widthForColumns(12), view.height());
    ASSERT_EQ(view.columns(), 12);
    view.appendText("0x41 0x42 0x43 0x44");  // 12 cells end inside "0x43": the row ends after its blank
    EXPECT_EQ(view.rowCount(), 2);
    EXPECT_EQ(view.pointForOffset(10).x(), view.pointForOffset(0).x());
    EXPECT_EQ(view.pointForOffset(10).y(), view.pointForOffset(0).y() + view.rowHeight());
    const QImage image = view.viewport()->grab().toImage();
    EXPECT_EQ(inkInCells(view, image, 0, 10, 12), 0);  // nothing of "0x43" on the first row
    EXPECT_GT(inkInCells(view, image, 1, 0, 4), 0);
    click(12);
    EXPECT_EQ(view.caretPosition(), 12);
    // Right of the first row's text: the blank at its end, not the next row.
    const QPoint beyond =
        view.pointForOffset(5) +
        QPoint(static_cast<int>(6.5 * (view.pointForOffset(1).x() - view.pointForOffset(0).x())), 0);
    QTest::mouseClick(surface(), Qt::LeftButton, Qt::NoModifier, beyond);
    EXPECT_EQ(view.caretPosition(), 9);
    view.setCaretPosition(2);
    QTest::keyClick(&view, Qt::Key_Down);
    EXPECT_EQ(view.caretPosition(), 12);
}

TEST_F(TrafficViewTest, ATabTakesTheCellsUpToTheNextStopButIsOneByte) {
    view.appendText("a\tbc\r\nabcdefghij\tk");
    auto x = [this](qint64 position) { return view.pointForOffset(position).x(); };
    const int cell = x(1) - x(0);
    EXPECT_NEAR(x(2), x(6 + 8), 1);                           // "b" at cell 8, as "i" below it
    EXPECT_NEAR(x(6 + 11), x(6) + 2 * (x(6 + 8) - x(6)), 1);  // "k" at cell 16
    const QImage image = view.viewport()->grab().toImage();
    EXPECT_EQ(inkInCells(view, image, 0, 1, 8), 0);  // the TAB is blank
    EXPECT_GT(inkInCells(view, image, 0, 8, 9), 0);  // "b"
    // A click in the TAB's left half finds the TAB, in its right half the "b".
    QTest::mouseClick(surface(), Qt::LeftButton, Qt::NoModifier,
                      view.pointForOffset(1) + QPoint(2 * cell, 0));
    EXPECT_EQ(view.caretPosition(), 1);
    QTest::mouseClick(surface(), Qt::LeftButton, Qt::NoModifier,
                      view.pointForOffset(1) + QPoint(6 * cell, 0));
    EXPECT_EQ(view.caretPosition(), 2);
    QTest::keyClick(&view, Qt::Key_Left, Qt::ShiftModifier);
    EXPECT_EQ(view.selectedText(), "\t");
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "\t");
    // Down from the "b" (cell 8) to cell 8 of the next line: "i"; down from
    // cell 3 of the TAB's row finds the TAB's nearer edge in the other line.
    view.setCaretPosition(2);
    QTest::keyClick(&view, Qt::Key_Down);
    EXPECT_EQ(view.caretPosition(), 6 + 8);
    view.setCaretPosition(6 + 3);
    QTest::keyClick(&view, Qt::Key_Up);
    EXPECT_EQ(view.caretPosition(), 1);
}

TEST_F(TrafficViewTest, DrawsGreenOnWhiteInAFixedFont) {
    EXPECT_EQ(view.palette().color(QPalette::Text), QColor(0, 150, 0));
    EXPECT_EQ(view.palette().color(QPalette::Base), QColor(Qt::white));
    EXPECT_TRUE(QFontInfo(view.font()).fixedPitch());
    view.appendText("MMMMMMMMMMMMMMMMMMMM\r\n\x01\x02");
    const QImage image = view.viewport()->grab().toImage();
    int green = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) green += image.pixelColor(x, y) == QColor(0, 150, 0) ? 1 : 0;
    }
    EXPECT_GT(green, 20);
    EXPECT_EQ(image.pixelColor(image.width() - 2, image.height() - 2), QColor(Qt::white));
}

TEST(TrafficViewInDialog, TabMovesTheFocusWhileEnterAndEscapeStayInTheView) {
    QDialog dialog;
    auto* layout = new QVBoxLayout(&dialog);
    auto* view = new TrafficView;
    auto* other = new QLineEdit;
    auto* ok = new QPushButton("OK");
    ok->setDefault(true);
    QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    layout->addWidget(view);
    layout->addWidget(other);
    layout->addWidget(ok);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    dialog.activateWindow();
    view->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->hasFocus(); }, 5000));

    other->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return other->hasFocus(); }, 5000));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    EXPECT_TRUE(view->hasFocus());  // a click gives the view the focus

    QTest::keyClick(view, Qt::Key_Return);
    EXPECT_EQ(view->text(), "\r\n");
    QTest::keyClick(view, Qt::Key_Escape);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), 0);
    EXPECT_TRUE(view->hasFocus());
    QTest::keyClick(view, Qt::Key_Tab);
    EXPECT_TRUE(other->hasFocus());
    EXPECT_EQ(view->text(), "\r\n");  // Tab typed nothing
    QTest::keyClick(other, Qt::Key_Tab, Qt::ShiftModifier);
    EXPECT_TRUE(view->hasFocus());
}

// One logical line that never ends: the last appends cost what the first did.
// Medians, so that another process taking the CPU for a moment does not count.
TEST_F(TrafficViewTest, AppendCostStaysFlatOnOneEndlessLine) {
    const std::string piece(10 * 1024, 'A');
    constexpr int kAppends = 2048;  // 20 MiB
    constexpr int kWindow = 100;
    using Clock = std::chrono::steady_clock;
    std::vector<double> micros;
    micros.reserve(kAppends);
    for (int i = 0; i < kAppends; ++i) {
        const auto start = Clock::now();
        view.appendText(piece);
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    auto median = [](std::vector<double> times) {
        std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
        return times[times.size() / 2];
    };
    const double first = median({micros.begin(), micros.begin() + kWindow});
    const double last = median({micros.end() - kWindow, micros.end()});
    EXPECT_EQ(view.size(), static_cast<qint64>(kAppends) * 10 * 1024);
    EXPECT_EQ(view.store().lineCount(), 1);
    EXPECT_LT(last, 5 * first + 20) << "median of the first 100: " << first
                                    << " us, of the last 100: " << last << " us";
    EXPECT_TRUE(view.isShowingEnd());
    EXPECT_LE(view.memoryBytes(), 3 * view.size() + (1 << 20));
}

TEST_F(TrafficViewTest, HexTrafficNeedsAtMostThreeBytesPerCharacter) {
    std::string batch;
    while (batch.size() < 256 * 1024)
        batch += "\r\n[09:05:03:042] DTE ->> 0x41 0x54 0x0D 0x0A 0x4F 0x4B 0x0D 0x0A ";
    while (view.size() < 20 * 1024 * 1024) view.appendText(batch);
    EXPECT_LE(view.memoryBytes(), 3 * view.size() + (1 << 20));
    EXPECT_EQ(view.store().lineCount(), view.size() / 65 + 1);
}

// The scroll bar's mapping: rows one to one while they fit, scaled onto a
// fixed range beyond (more rows than an int can count).
TEST(TrafficScrollScale, MapsRowsToValuesOneToOneWhileTheyFitAndScaledBeyond) {
    using Case = std::tuple<std::int64_t, std::int64_t, std::int64_t, int>;  // max top row, limit, row, value
    const Case cases[] = {Case{0, 1000, 0, 0},
                          Case{500, 1000, 250, 250},
                          Case{500, 1000, 500, 500},
                          Case{500, 1000, 900, 500},  // clamped to the last top row
                          Case{1000, 1000, 1000, 1000},
                          Case{4000, 1000, 0, 0},
                          Case{4000, 1000, 2000, 500},
                          Case{4000, 1000, 4000, 1000},
                          Case{4000, 1000, 3999, 1000},
                          Case{std::int64_t{5} << 32, std::int64_t{1} << 30, std::int64_t{5} << 31, 1 << 29}};
    for (const auto& [maxTopRow, limit, row, value] : cases) {
        const window::ScrollScale scale{maxTopRow, limit};
        EXPECT_EQ(scale.valueForRow(row), value) << maxTopRow << " " << row;
        EXPECT_LE(scale.maximum(), limit);
    }

    const window::ScrollScale rows{12345, std::int64_t{1} << 30};
    EXPECT_FALSE(rows.isScaled());
    EXPECT_EQ(rows.maximum(), 12345);
    EXPECT_EQ(rows.rowForValue(777), 777);
    EXPECT_EQ(rows.rowForValue(-5), 0);
    EXPECT_EQ(rows.pageStep(40), 40);
}

}  // namespace
}  // namespace ostrel::ui
