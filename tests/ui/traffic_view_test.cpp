// The traffic view as a real widget on the offscreen platform: appends at the
// selection, mouse and keyboard editing, clipboard, wrapping, dialog keys,
// colours, and the cost of appends at size.

#include "ui/traffic_view.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QFontInfo>
#include <QImage>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

namespace ostrel::ui {
namespace {

using namespace std::string_literals;

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

    void drag(qint64 from, qint64 to) {
        const QPoint start = view.pointForOffset(from);
        const QPoint end = view.pointForOffset(to);
        QTest::mousePress(surface(), Qt::LeftButton, Qt::NoModifier, start);
        QMouseEvent move(QEvent::MouseMove, end, surface()->mapToGlobal(end), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(surface(), &move);
        QTest::mouseRelease(surface(), Qt::LeftButton, Qt::NoModifier, end);
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
}

TEST_F(TrafficViewTest, KeepsEveryByteIncludingZeroAndHighHalf) {
    std::string all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
    view.appendText(all);
    view.appendText(all);
    EXPECT_EQ(view.text(), all + all);
    EXPECT_EQ(view.size(), 512);
}

TEST_F(TrafficViewTest, TextGoesWhereTheOperatorClicked) {
    view.appendText("line one\r\nline two\r\nline three");
    click(15);  // before "two"
    EXPECT_EQ(view.caretPosition(), 15);
    view.appendText("XYZ");
    EXPECT_EQ(view.text(), "line one\r\nline XYZtwo\r\nline three");
    EXPECT_EQ(view.caretPosition(), 18);
    view.appendText("!");
    EXPECT_EQ(view.text(), "line one\r\nline XYZ!two\r\nline three");
}

TEST_F(TrafficViewTest, ClickRightOfALineEndsThere) {
    view.appendText("short\r\nlonger line\r\n");
    const QPoint rowOfShort = view.pointForOffset(2);
    QTest::mouseClick(surface(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(rowOfShort.x() + 300, rowOfShort.y()));
    EXPECT_EQ(view.caretPosition(), 5);
    QTest::mouseClick(surface(), Qt::LeftButton, Qt::NoModifier, QPoint(5, surface()->height() - 3));
    EXPECT_EQ(view.caretPosition(), view.size());
}

TEST_F(TrafficViewTest, DraggedSelectionIsReplacedByTheNextAppend) {
    view.appendText("0x41 0x42 0x43 0x44\r\n0x45 0x46");
    drag(5, 15);
    EXPECT_EQ(view.selectedText(), "0x42 0x43 ");
    view.appendText("--");
    EXPECT_EQ(view.text(), "0x41 --0x44\r\n0x45 0x46");
    EXPECT_EQ(view.caretPosition(), 7);
    EXPECT_FALSE(view.hasSelection());
}

TEST_F(TrafficViewTest, ShiftClickExtendsTheSelection) {
    view.appendText("abcdef\r\nghijkl");
    click(2);
    click(10, Qt::ShiftModifier);
    EXPECT_EQ(view.selectedText(), "cdef\r\ngh");
}

TEST_F(TrafficViewTest, DoubleClickSelectsAWord) {
    view.appendText("0x41 0x42 0x43");
    QTest::mouseDClick(surface(), Qt::LeftButton, Qt::NoModifier, view.pointForOffset(7));
    EXPECT_EQ(view.selectedText(), "0x42");
}

TEST_F(TrafficViewTest, DraggingBelowTheWindowScrollsAndExtendsTheSelection) {
    for (int i = 0; i < 200; ++i) view.appendText("0x41 0x42 0x43\r\n");
    view.scrollToRow(0);
    const QPoint start = view.pointForOffset(0);
    QTest::mousePress(surface(), Qt::LeftButton, Qt::NoModifier, start);
    const QPoint below(start.x(), surface()->height() + 20);
    QMouseEvent move(QEvent::MouseMove, below, surface()->mapToGlobal(below), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(surface(), &move);
    EXPECT_TRUE(QTest::qWaitFor([&] { return view.firstVisibleRow() >= 20; }, 5000));
    QTest::mouseRelease(surface(), Qt::LeftButton, Qt::NoModifier, below);
    const qint64 scrolled = view.firstVisibleRow();
    QTest::qWait(100);
    EXPECT_EQ(view.firstVisibleRow(), scrolled);  // stops with the button
    EXPECT_EQ(view.anchorPosition(), 0);
    EXPECT_GE(view.caretPosition(), (scrolled + view.visibleRows() - 1) * 16);
}

TEST_F(TrafficViewTest, TypingInsertsLatin1AtTheCaret) {
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
}

TEST_F(TrafficViewTest, TypingReplacesTheSelection) {
    view.appendText("hello world");
    view.setSelection(0, 5);
    QTest::keyClicks(&view, "bye");
    EXPECT_EQ(view.text(), "bye world");
}

TEST_F(TrafficViewTest, BackspaceAndDeleteRemoveCharactersAndWholeBreaks) {
    view.appendText("abc\r\ndef");
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

TEST_F(TrafficViewTest, CtrlCCopiesTheSelectionAsLatin1) {
    view.appendText("r\xE9sultat\r\nsuite");
    view.setSelection(1, 12);
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromLatin1("\xE9sultat\r\nsu"));
    EXPECT_EQ(view.text(), "r\xE9sultat\r\nsuite");  // copying changes nothing
}

TEST_F(TrafficViewTest, CutAndPaste) {
    view.appendText("one two");
    view.setSelection(0, 4);
    QTest::keyClick(&view, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(view.text(), "two");
    QTest::keyClick(&view, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClick(&view, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(view.text(), "twoone ");
    QGuiApplication::clipboard()->setText(QString::fromUtf8("a\nb\u20AC"));
    QTest::keyClick(&view, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(view.text(), "twoone a\r\nb?");
}

TEST_F(TrafficViewTest, CtrlASelectsEverything) {
    view.appendText("first\r\nsecond");
    view.setCaretPosition(3);
    QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(view.selectedText(), "first\r\nsecond");
    view.appendText("new");
    EXPECT_EQ(view.text(), "new");
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

TEST_F(TrafficViewTest, PageDownMovesByAScreen) {
    for (int i = 0; i < 100; ++i) view.appendText("line\r\n");
    view.setCaretPosition(0);
    view.scrollToRow(0);
    QTest::keyClick(&view, Qt::Key_PageDown);
    const qint64 page = view.visibleRows() - 1;
    EXPECT_EQ(view.caretPosition(), page * 6);
    EXPECT_EQ(view.firstVisibleRow(), page);
    QTest::keyClick(&view, Qt::Key_PageUp);
    EXPECT_EQ(view.caretPosition(), 0);
    EXPECT_EQ(view.firstVisibleRow(), 0);
}

TEST_F(TrafficViewTest, APositionInsideALineBreakMovesBeforeIt) {
    view.appendText("ab\r\ncd");
    view.setCaretPosition(3);
    EXPECT_EQ(view.caretPosition(), 2);
    view.appendText("X");
    EXPECT_EQ(view.text(), "abX\r\ncd");
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

TEST_F(TrafficViewTest, AScrolledBackViewStaysWhereTheOperatorLeftIt) {
    for (int i = 0; i < 300; ++i) view.appendText("\r\n0x30 0x31");
    view.scrollToRow(10);
    for (int i = 0; i < 50; ++i) view.appendText("\r\n0x32");
    EXPECT_EQ(view.firstVisibleRow(), 10);
    EXPECT_EQ(view.caretPosition(), view.size());
    view.scrollToRow(view.rowCount());
    view.appendText("\r\nmore");
    EXPECT_TRUE(view.isShowingEnd());
}

TEST_F(TrafficViewTest, TheScrollBarMovesTheViewAndAResizeKeepsTheTopText) {
    for (int i = 0; i < 300; ++i) view.appendText("\r\n" + std::string(120, static_cast<char>('a' + i % 26)));
    view.verticalScrollBar()->setValue(101);  // rows come in pairs: 80 + 40 characters
    EXPECT_EQ(view.firstVisibleRow(), 101);
    const qint64 topText = view.store().row(101).start;
    view.resize(view.widthForColumns(120), view.height());
    EXPECT_EQ(view.rowCount(), 301);
    EXPECT_EQ(view.store().row(view.firstVisibleRow()).start, view.store().lineAt(topText).start);
    EXPECT_FALSE(view.isShowingEnd());
}

TEST_F(TrafficViewTest, ShowsGreenTextOnWhiteInAFixedFont) {
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

// Counts the pixels of the character cell at `position` that are not white.
int inkInCell(TrafficView& view, const QImage& image, qint64 position) {
    const QPoint left = view.pointForOffset(position);
    const QPoint right = view.pointForOffset(position + 1);
    const int top = left.y() - view.rowHeight() / 2;
    int ink = 0;
    for (int y = top; y < top + view.rowHeight(); ++y) {
        for (int x = left.x() + 1; x < right.x() - 1; ++x)
            ink += image.pixelColor(x, y) != QColor(Qt::white) ? 1 : 0;
    }
    return ink;
}

TEST_F(TrafficViewTest, ControlBytesAreVisibleAndTheSelectionIsHighlighted) {
    view.appendText(
        "A\x01 \x90"
        "B\r\nsecond line");
    QImage image = view.viewport()->grab().toImage();
    EXPECT_GT(inkInCell(view, image, 0), 0);  // 'A'
    EXPECT_GT(inkInCell(view, image, 1), 0);  // 0x01 drawn as a box
    EXPECT_EQ(inkInCell(view, image, 2), 0);  // a space
    EXPECT_GT(inkInCell(view, image, 3), 0);  // 0x90 drawn as a box

    view.setSelection(7, 10);  // "sec"
    image = view.viewport()->grab().toImage();
    const QPoint selected = view.pointForOffset(8);
    const QPoint unselected = view.pointForOffset(12);
    const int top = selected.y() - view.rowHeight() / 2;
    const int cellMiddle = static_cast<int>(view.charWidth() / 2);
    EXPECT_EQ(image.pixelColor(selected.x() + cellMiddle, top), view.palette().color(QPalette::Highlight));
    EXPECT_EQ(image.pixelColor(unselected.x() + cellMiddle, top), QColor(Qt::white));
}

class ExposedView : public TrafficView {
public:
    using TrafficView::focusNextPrevChild;
};

TEST(TrafficViewInDialog, TabEnterAndEscapeStayInTheView) {
    QDialog dialog;
    auto* layout = new QVBoxLayout(&dialog);
    auto* view = new ExposedView;
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

    EXPECT_FALSE(view->focusNextPrevChild(true));
    QTest::keyClick(view, Qt::Key_Tab);
    EXPECT_TRUE(view->hasFocus());
    QTest::keyClick(view, Qt::Key_Return);
    EXPECT_EQ(view->text(), "\r\n");
    QTest::keyClick(view, Qt::Key_Escape);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), 0);
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

}  // namespace
}  // namespace ostrel::ui
