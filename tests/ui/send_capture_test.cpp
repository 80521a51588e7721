// "Send" and "Capture" through the real widgets: a send in HEX and in ASCII
// reaching the far end of a pseudo-terminal with its echo, and a capture with
// a scripted file name, its status lines and the file's content.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QPlainTextEdit>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/main_window_fixture.h"
#include "ui/control_ids.h"

namespace ostrel::ui::test {
namespace {

class SendAndCapture : public MainWindowFixture {
protected:
    void SetUp() override {
        makeWindow(2);
        char pattern[] = "/tmp/ostrel-capture-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        directory = pattern;
    }
    void TearDown() override {
        MainWindowFixture::TearDown();
        std::error_code ignored;
        std::filesystem::remove_all(directory, ignored);
    }
    QPlainTextEdit* sendBox() { return qobject_cast<QPlainTextEdit*>(window->control(id::kSendData)); }
    void type(const QString& text) {
        sendBox()->clear();
        sendBox()->setFocus();
        QTest::keyClicks(sendBox(), text);
    }
    static std::string fileContent(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::string directory;
};

TEST_F(SendAndCapture, HexSendReachesTheDteSideWithItsEcho) {
    chooseMode(id::kDteEmulationRadio);
    ASSERT_TRUE(click(id::kOpenClose));
    type("12 34,de");
    ASSERT_TRUE(click(id::kSend));
    EXPECT_EQ(textOf(far[0]->read(3)), "\x12\x34\xde");
    EXPECT_TRUE(waitForTraffic(" DTE <<- 0x12 0x34 0xDE "));
    EXPECT_EQ(sendBox()->toPlainText(), "12 34,de");  // the text stays for another send
}

TEST_F(SendAndCapture, AsciiSendGoesAsTypedWithCrLfToTheDceSide) {
    chooseMode(id::kDceEmulationRadio);
    ASSERT_TRUE(click(id::kOpenClose));
    ASSERT_TRUE(click(214));
    type("AT");
    QTest::keyClick(sendBox(), Qt::Key_Return);
    QTest::keyClicks(sendBox(), "I");
    ASSERT_TRUE(click(id::kSend));
    EXPECT_EQ(textOf(far[1]->read(5)), "AT\r\nI");
    EXPECT_TRUE(waitForTraffic(" DCE <<- AT\r\nI"));
}

TEST_F(SendAndCapture, ALongSendIsNotCut) {
    chooseMode(id::kDteEmulationRadio);
    ASSERT_TRUE(click(id::kOpenClose));
    ASSERT_TRUE(click(214));
    const std::string text(3000, 'x');
    sendBox()->setPlainText(QString::fromStdString(text));
    ASSERT_TRUE(click(id::kSend));
    EXPECT_EQ(textOf(far[0]->read(text.size())), text);
}

TEST_F(SendAndCapture, CaptureRecordsTheRawTrafficAndShowsItsStatusLines) {
    const std::string file = directory + "/traffic";  // no extension is added
    int asked = 0;
    window->setCaptureDialog([&] {
        ++asked;
        return file;
    });
    chooseMode(id::kDteEmulationRadio);
    ASSERT_TRUE(click(id::kOpenClose));
    ASSERT_TRUE(click(id::kCapture));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(caption(id::kCapture), "Stop Capture");
    EXPECT_TRUE(
        waitForTraffic("*** Capturing to file: " + file + "\r\n\r\n*** Capturing data to file...\r\n"));

    ASSERT_TRUE(far[0]->write("hello"));
    ASSERT_TRUE(waitForTraffic("0x68 0x65 0x6C 0x6C 0x6F "));
    type("0A0B");
    ASSERT_TRUE(click(id::kSend));
    ASSERT_TRUE(waitForTraffic(" DTE <<- 0x0A 0x0B "));

    ASSERT_TRUE(click(id::kCapture));
    EXPECT_EQ(asked, 1);  // stopping asks nothing
    EXPECT_EQ(caption(id::kCapture), "Capture");
    EXPECT_TRUE(waitForTraffic("\r\n*** Capture data ended...\r\n"));
    EXPECT_EQ(fileContent(file), "hello\x0A\x0B");
    EXPECT_TRUE(std::filesystem::exists(file));
    EXPECT_FALSE(std::filesystem::exists(file + ".txt"));
}

TEST_F(SendAndCapture, ACancelledDialogChangesNothing) {
    window->setCaptureDialog([] { return std::string(); });
    const std::string before = traffic();
    ASSERT_TRUE(click(id::kCapture));
    processQueued();
    EXPECT_EQ(traffic(), before);
    EXPECT_EQ(caption(id::kCapture), "Capture");
    EXPECT_FALSE(window->state().capture.active());
}

TEST_F(SendAndCapture, AFileThatCannotBeCreatedGivesFileInUse) {
    window->setCaptureDialog([this] { return directory + "/no/such/folder/x.txt"; });
    ASSERT_TRUE(click(id::kCapture));
    EXPECT_TRUE(waitForTraffic("\r\n*** File in use!!\r\n"));
    EXPECT_EQ(caption(id::kCapture), "Capture");
    EXPECT_FALSE(window->state().capture.active());
}

TEST_F(SendAndCapture, AnExistingFileIsEmptiedWithoutAQuestion) {
    const std::string file = directory + "/old.txt";
    std::ofstream(file) << "old content";
    window->setCaptureDialog([&] { return file; });
    ASSERT_TRUE(click(id::kCapture));
    ASSERT_TRUE(click(id::kCapture));
    EXPECT_EQ(fileContent(file), "");
}

}  // namespace
}  // namespace ostrel::ui::test
