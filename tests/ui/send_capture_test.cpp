// "Send" and "Capture" through the real widgets: a send in HEX and in ASCII
// reaching the far end of a pseudo-terminal with its echo, and a capture with
// a scripted file name, its status lines and the file's content.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QPlainTextEdit>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/temp_dir.h"
#include "support/main_window_fixture.h"
#include "window/control_ids.h"

namespace ostrel::ui::test {
namespace {

class SendAndCapture : public MainWindowFixture {
protected:
    QPlainTextEdit* sendBox() {
        return qobject_cast<QPlainTextEdit*>(window->control(window::id::kSendData));
    }
    void type(const QString& text) {
        sendBox()->clear();
        sendBox()->setFocus();
        QTest::keyClicks(sendBox(), text);
    }

    platform::test::TempDir directory;
};

TEST_F(SendAndCapture, HexSendReachesTheDteSideWithItsEcho) {
    openIn(window::id::kDteEmulationRadio);
    type("12 34,de");
    ASSERT_TRUE(click(window::id::kSend));
    EXPECT_EQ(far[0]->read(3), "\x12\x34\xde");
    EXPECT_TRUE(waitForTraffic(" DTE <<- 0x12 0x34 0xDE "));
    EXPECT_EQ(sendBox()->toPlainText(), "12 34,de");  // the text stays for another send
}

TEST_F(SendAndCapture, AsciiSendGoesAsTypedWithCrLfToTheDceSideAndIsNotCut) {
    openIn(window::id::kDceEmulationRadio);
    ASSERT_TRUE(click(214));
    type("AT");
    QTest::keyClick(sendBox(), Qt::Key_Return);  // a new line, not a press of a button
    QTest::keyClicks(sendBox(), "I");
    ASSERT_TRUE(click(window::id::kSend));
    EXPECT_EQ(far[1]->read(5), "AT\r\nI");
    EXPECT_TRUE(waitForTraffic(" DCE <<- AT\r\nI"));

    const std::string text(3000, 'x');
    sendBox()->setPlainText(QString::fromStdString(text));
    ASSERT_TRUE(click(window::id::kSend));
    EXPECT_EQ(far[1]->read(text.size()), text);
}

TEST_F(SendAndCapture, CaptureRecordsTheRawTrafficAndShowsItsStatusLines) {
    const std::string file = directory / "traffic";  // no extension is added
    std::ofstream(file) << "old content";            // emptied without a question
    int asked = 0;
    window->setCaptureDialog([&] {
        ++asked;
        return file;
    });
    openIn(window::id::kDteEmulationRadio);
    ASSERT_TRUE(click(window::id::kCapture));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(caption(window::id::kCapture), "Stop Capture");
    EXPECT_TRUE(
        waitForTraffic("*** Capturing to file: " + file + "\r\n\r\n*** Capturing data to file...\r\n"));

    ASSERT_TRUE(far[0]->write("hello"));
    ASSERT_TRUE(waitForTraffic("0x68 0x65 0x6C 0x6C 0x6F "));
    type("0A0B");
    ASSERT_TRUE(click(window::id::kSend));
    ASSERT_TRUE(waitForTraffic(" DTE <<- 0x0A 0x0B "));

    ASSERT_TRUE(click(window::id::kCapture));
    EXPECT_EQ(asked, 1);  // stopping asks nothing
    EXPECT_EQ(caption(window::id::kCapture), "Capture");
    EXPECT_TRUE(waitForTraffic("\r\n*** Capture data ended...\r\n"));
    std::ifstream in(file, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    EXPECT_EQ(content.str(), "hello\x0A\x0B");
    EXPECT_FALSE(std::filesystem::exists(file + ".txt"));
}

TEST_F(SendAndCapture, AFailedCaptureWriteEndsTheCaptureAndPutsTheButtonBack) {
    if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "/dev/full is not writable here";
    window->setCaptureDialog([] { return std::string("/dev/full"); });
    openIn(window::id::kDteEmulationRadio);
    ASSERT_TRUE(click(window::id::kCapture));
    EXPECT_EQ(caption(window::id::kCapture), "Stop Capture");
    ASSERT_TRUE(far[0]->write("hello"));
    EXPECT_TRUE(
        waitForTraffic("\r\n*** Capture write failed: /dev/full: no space left on device; 0 bytes in the "
                       "file ***\r\n\r\n*** Capture data ended...\r\n"));
    EXPECT_TRUE(waitFor([&] { return caption(window::id::kCapture) == "Capture"; }));
    EXPECT_FALSE(window->state().capture.active());
}

TEST_F(SendAndCapture, ACancelledDialogChangesNothingAndAFileThatCannotBeMadeIsInUse) {
    window->setCaptureDialog([] { return std::string(); });
    const std::string before = traffic();
    ASSERT_TRUE(click(window::id::kCapture));
    processQueued();
    EXPECT_EQ(traffic(), before);
    EXPECT_EQ(caption(window::id::kCapture), "Capture");
    EXPECT_FALSE(window->state().capture.active());

    window->setCaptureDialog([this] { return directory / "no/such/folder/x.txt"; });
    ASSERT_TRUE(click(window::id::kCapture));
    EXPECT_TRUE(waitForTraffic("\r\n*** File in use!!\r\n"));
    EXPECT_EQ(caption(window::id::kCapture), "Capture");
    EXPECT_FALSE(window->state().capture.active());
}

}  // namespace
}  // namespace ostrel::ui::test
