// The traffic view with most of its text in the file: Find (keys, the bar,
// next/previous, match case, highlighting), typing only where the text is in
// memory, Copy's limit and Save Text As, as the operator uses them.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/temp_dir.h"
#include "ui/traffic_find_bar.h"
#include "ui/traffic_view.h"

namespace ostrel::ui {
namespace {

class TrafficViewFindTest : public ::testing::Test {
protected:
    void SetUp() override {
        scratch = scratchDir.path();
        const std::string cache = scratch + "/cache";
        view.setSpill([cache] { return window::SpillFile::open(cache); }, 64 * 1024);
        view.setNotice([this](QWidget*, const QString& title, const QString& text) {
            notices.push_back(title + ": " + text);
        });
        view.resize(view.widthForColumns(100), 300);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    }

    // Lines of HEX-like traffic with `marks` put in at the given offsets.
    void appendTraffic(qint64 bytes, const std::vector<std::pair<qint64, std::string>>& marks) {
        std::string text;
        for (int i = 0; static_cast<qint64>(text.size()) < bytes; ++i)
            text += "12:00:00.000 DTE: 0x41 0x42 0x43 0x44 0x45 0x46 0x47 0x48 0x49 line " +
                    std::to_string(i) + "\r\n";
        for (const auto& [at, mark] : marks) text.replace(static_cast<std::size_t>(at), mark.size(), mark);
        for (std::size_t at = 0; at < text.size(); at += 10000)
            view.appendText(std::string_view(text).substr(at, 10000));
        expected = text;
    }

    void findWith(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(view.findBar()->field(), static_cast<Qt::Key>(key), modifiers);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !view.isFinding(); }, 10000));
    }

    std::string selected() const { return view.selectedText(); }

    platform::test::TempDir scratchDir;
    std::string scratch;
    std::string expected;
    std::vector<QString> notices;
    TrafficView view;
};

TEST_F(TrafficViewFindTest, FindGoesFromMatchToMatchThroughTheTextInTheFileAndHighlightsThoseInView) {
    appendTraffic(
        3 << 20, {{100000, "MARK-1"}, {100020, "MARK-1b"}, {2 << 20, "mark-2"}, {(3 << 20) - 300, "MARK-3"}});
    ASSERT_GT(view.store().spilledBytes(), 2 << 20);
    ASSERT_TRUE(view.store().spillProblem().empty()) << view.store().spillProblem();
    // Ctrl+F opens the bar with the focus in its field.
    QTest::keyClick(&view, Qt::Key_F, Qt::ControlModifier);
    ASSERT_NE(view.findBar(), nullptr);
    ASSERT_TRUE(view.findBar()->isVisible());
    EXPECT_TRUE(view.findBar()->field()->hasFocus());
    QTest::keyClicks(view.findBar()->field(), "mark-");

    // From the caret at the end, Next goes round to the start.
    findWith(Qt::Key_Return);
    EXPECT_EQ(view.anchorPosition(), 100000);
    EXPECT_EQ(selected(), "MARK-");
    findWith(Qt::Key_Return);
    EXPECT_EQ(view.anchorPosition(), 100020);
    findWith(Qt::Key_F3);
    EXPECT_EQ(view.anchorPosition(), 2 << 20);
    EXPECT_EQ(selected(), "mark-");
    findWith(Qt::Key_Return);
    EXPECT_EQ(view.anchorPosition(), (3 << 20) - 300);
    findWith(Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(view.anchorPosition(), 2 << 20);

    // The first match is selected and the second one, on the same row, highlighted.
    findWith(Qt::Key_Return, Qt::ShiftModifier);
    findWith(Qt::Key_Return, Qt::ShiftModifier);
    ASSERT_EQ(view.anchorPosition(), 100000);
    const QImage shown = view.viewport()->grab().toImage();
    int highlighted = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            highlighted += shown.pixelColor(x, y) == QColor(255, 230, 120);
    EXPECT_GT(highlighted, 20);

    // Match case leaves out "mark-2".
    view.findBar()->setNeedle("MARK-");
    view.findBar()->matchCaseBox()->setChecked(true);
    findWith(Qt::Key_Return);
    findWith(Qt::Key_Return);
    EXPECT_EQ(view.anchorPosition(), (3 << 20) - 300);

    QTest::keyClicks(view.findBar()->field(), "absent");
    const qint64 before = view.anchorPosition();
    findWith(Qt::Key_Return);
    EXPECT_EQ(view.anchorPosition(), before);
    EXPECT_EQ(view.findBar()->status(), "Not found");

    // Escape closes the bar and gives the focus back to the text.
    QTest::keyClick(view.findBar()->field(), Qt::Key_Escape);
    EXPECT_FALSE(view.findBar()->isVisible());
    EXPECT_TRUE(view.hasFocus());
    EXPECT_EQ(view.text(), expected);
}

TEST_F(TrafficViewFindTest, OnlyTheTextInMemoryTakesTheOperatorsKeys) {
    appendTraffic(1 << 20, {});
    const qint64 editable = view.store().editableFrom();
    ASSERT_GT(editable, 512 * 1024);
    view.setFocus();
    view.setCaretPosition(1000);
    QTest::keyClicks(&view, "typed");
    QTest::keyClick(&view, Qt::Key_Backspace);
    QTest::keyClick(&view, Qt::Key_Delete);
    view.setSelection(editable - 10, editable + 10);
    QTest::keyClick(&view, Qt::Key_X, Qt::ControlModifier);
    view.setCaretPosition(editable);
    QTest::keyClick(&view, Qt::Key_Backspace);
    EXPECT_EQ(view.text(), expected);
    // Where the text is in memory, keys work as ever.
    view.setCaretPosition(view.size());
    QTest::keyClicks(&view, "note");
    EXPECT_EQ(view.text(), expected + "note");
    EXPECT_TRUE(notices.empty());
}

TEST_F(TrafficViewFindTest, CopyTakesUpToItsLimitAndSaysSo) {
    appendTraffic(300000, {});
    view.setCopyLimit(100000);
    view.selectAll();
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    std::string lf = expected.substr(0, 100000);
    for (std::size_t at = 0; (at = lf.find("\r\n", at)) != std::string::npos;) lf.erase(at, 1);
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), lf);
    ASSERT_EQ(notices.size(), 1U);
    EXPECT_TRUE(notices[0].contains("Save Text As")) << notices[0].toStdString();
}

using platform::test::fileText;

TEST_F(TrafficViewFindTest, SaveTextAsWritesAllTheTextToANewFileAndNeverOverAnother) {
    appendTraffic(2 << 20, {});
    const std::string path = scratch + "/saved.txt";
    view.setSaveFileQuestion([&](QWidget*) { return QString::fromStdString(path); });
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, QPoint(10, 10),
                                view.viewport()->mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(view.viewport(), &menuEvent);
    ASSERT_NE(view.contextMenu(), nullptr);
    QAction* save = nullptr;
    for (QAction* action : view.contextMenu()->actions())
        if (action->text() == "Save Text &As...") save = action;
    ASSERT_NE(save, nullptr);
    save->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view.isSaving(); }, 20000));
    std::string lf = expected;
    for (std::size_t at = 0; (at = lf.find("\r\n", at)) != std::string::npos;) lf.erase(at, 1);
    EXPECT_EQ(fileText(path), lf);
    EXPECT_TRUE(notices.empty());

    // A second save to the same name is refused and the file stays as it is.
    view.appendText("more\r\n");
    view.saveTextAs();
    EXPECT_FALSE(view.isSaving());
    ASSERT_EQ(notices.size(), 1U);
    EXPECT_TRUE(notices[0].contains("already exists")) << notices[0].toStdString();
    EXPECT_EQ(fileText(path), lf);
    // The text's own file in the cache folder has no name.
    EXPECT_TRUE(std::filesystem::is_empty(scratch + "/cache"));
}

// A cache folder that cannot be made: the operator is told once, and the text
// stays whole in memory and can still be typed into anywhere.
TEST_F(TrafficViewFindTest, ACacheFolderThatCannotBeUsedIsToldOnceAndTheTextStaysInMemory) {
    const std::string notAFolder = scratch + "/a-file";
    std::ofstream(notAFolder) << "x";
    view.setSpill([notAFolder] { return window::SpillFile::open(notAFolder + "/ostrel"); }, 64 * 1024);
    appendTraffic(1 << 20, {});
    ASSERT_EQ(notices.size(), 1U);
    EXPECT_TRUE(notices[0].contains("Traffic window: The traffic window keeps its text in memory"))
        << notices[0].toStdString();
    EXPECT_TRUE(notices[0].contains("a-file")) << notices[0].toStdString();
    EXPECT_EQ(view.store().spilledBytes(), 0);
    EXPECT_EQ(view.text(), expected);
    view.setFocus();
    view.setCaretPosition(0);
    QTest::keyClicks(&view, "start ");
    EXPECT_EQ(view.text(), "start " + expected);
}

}  // namespace
}  // namespace ostrel::ui
