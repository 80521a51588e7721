// One headless session of the real ostrel binary under valgrind's memcheck:
// Intercede between two pseudo-terminal pairs, traffic relayed both ways and
// captured, then closed by a termination signal. Any invalid access or
// definitely lost block makes valgrind end with its own exit code.

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "headless/child_process.h"
#include "platform/pty_test_support.h"
#include "platform/temp_dir.h"

namespace ostrel::valgrind::test {
namespace {

using namespace std::chrono_literals;
using platform::test::openBareMaster;
using platform::test::readFd;
using platform::test::writeAll;

constexpr int kValgrindFound = 99;  // valgrind's exit code when it found an error

std::vector<std::uint8_t> pattern(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 7 + i / 256);
    return bytes;
}

TEST(ValgrindSession, OpenRelayCaptureAndCloseLeakNothingAndTouchNothingInvalid) {
    platform::test::BareMaster dte = openBareMaster(), dce = openBareMaster();
    ASSERT_TRUE(dte.master.valid() && dce.master.valid());
    platform::test::TempDir dir;
    ASSERT_TRUE(dir.valid());
    const std::string capture = dir / "capture.bin";

    headless::test::ChildProcess child(
        VALGRIND_PROGRAM,
        {"--error-exitcode=" + std::to_string(kValgrindFound), "--leak-check=full",
         "--errors-for-leak-kinds=definite", "--show-leak-kinds=definite", "--num-callers=30", OSTREL_BINARY,
         "--headless", "--mode", "intercede", "--dte", dte.slavePath, "--dce", dce.slavePath, "--display",
         "hex", "--capture", capture},
        {"XDG_RUNTIME_DIR=" + dir.path()});
    ASSERT_TRUE(child.started());
    ASSERT_TRUE(child.waitForOutput("\r\n*** Port is ON  ***\r\n", 120s)) << child.output() << child.errors();

    // Each device's bytes come out at the other device, every value included.
    const std::vector<std::uint8_t> fromDte = pattern(6000, 1), fromDce = pattern(5000, 2);
    ASSERT_TRUE(writeAll(dte.master.get(), fromDte, 60s));
    EXPECT_EQ(readFd(dce.master.get(), fromDte.size(), 60s), fromDte);
    ASSERT_TRUE(writeAll(dce.master.get(), fromDce, 60s));
    EXPECT_EQ(readFd(dte.master.get(), fromDce.size(), 60s), fromDce);
    ASSERT_TRUE(platform::test::waitUntil(
        [&] {
            std::error_code ec;
            return std::filesystem::file_size(capture, ec) >= fromDte.size() + fromDce.size();
        },
        60s));

    child.signal(SIGTERM);
    const int code = child.waitExit(240s);
    EXPECT_NE(code, kValgrindFound) << "valgrind found errors:\n" << child.errors();
    EXPECT_EQ(code, 0) << child.errors();
    // valgrind's own summary, so that a run without it cannot pass.
    EXPECT_NE(child.errors().find("ERROR SUMMARY: 0 errors from 0 contexts"), std::string::npos)
        << child.errors();
    EXPECT_TRUE(child.errors().find("definitely lost: 0 bytes in 0 blocks") != std::string::npos ||
                child.errors().find("All heap blocks were freed") != std::string::npos)
        << child.errors();
    EXPECT_TRUE(child.output().ends_with("\r\n*** Port is OFF ***\r\n"));

    std::ifstream in(capture, std::ios::binary);
    const std::vector<std::uint8_t> captured{std::istreambuf_iterator<char>(in), {}};
    std::vector<std::uint8_t> expected = fromDte;
    expected.insert(expected.end(), fromDce.begin(), fromDce.end());
    EXPECT_EQ(captured, expected);
}

}  // namespace
}  // namespace ostrel::valgrind::test
