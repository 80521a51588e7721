// The real program (headless, as a child process) on a port that its user
// may not open: the operator reads the two error lines and the reason, and
// the run ends with exit code 1. Root opens any device, so the child drops to
// the "nobody" user (setpriv) when the test runs as root. (A busy port, a
// missing device and a capture into a missing folder are cases of
// HeadlessRun.FailedStartsPrintTheirLinesAndExitCodes in
// tests/headless/headless_e2e_test.cpp; a device that is not a tty is
// covered in tests/platform/tty_port_test.cpp.)

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/status_text.h"
#include "headless/child_process.h"
#include "platform/pty_test_support.h"
#include "platform/temp_dir.h"

namespace ostrel::faults {
namespace {

constexpr uid_t kNobody = 65534;

TEST(ProgramFaults, APortThisUserMayNotOpenShowsTheErrorLinesAndTheReason) {
    const platform::test::BareMaster pty = platform::test::openBareMaster();
    ASSERT_TRUE(pty.master.valid());
    platform::test::TempDir runtime;
    ASSERT_TRUE(runtime.valid());
    std::string program = OSTREL_BINARY;
    std::vector<std::string> args = {"--headless", "--dte", pty.slavePath, "--duration", "2"};
    if (::geteuid() == 0) {
        const std::string setpriv = "/usr/bin/setpriv";
        if (!std::filesystem::exists(setpriv))
            GTEST_SKIP() << "running as root without setpriv to drop to nobody";
        ASSERT_EQ(::chown(runtime.path().c_str(), kNobody, kNobody), 0);
        args.insert(args.begin(), {"--reuid=" + std::to_string(kNobody), "--regid=" + std::to_string(kNobody),
                                   "--clear-groups", program});
        program = setpriv;
    }
    // The slave is the user's own when not root: take the rights away.
    struct stat info {};
    ASSERT_EQ(::stat(pty.slavePath.c_str(), &info), 0);
    if (::geteuid() != 0)
        ASSERT_EQ(::chmod(pty.slavePath.c_str(), 0), 0);
    else if (info.st_uid == kNobody || (info.st_mode & S_IRWXO) == (S_IROTH | S_IWOTH))
        GTEST_SKIP() << pty.slavePath << " is open to everyone here";

    headless::test::ChildProcess child(program, args, {"XDG_RUNTIME_DIR=" + runtime.path()});
    ASSERT_TRUE(child.started());
    EXPECT_EQ(child.waitExit(), 1);
    const std::string errors = child.errors();
    // "ostrel: COMn: /dev/pts/N: permission denied (...)", then the same
    // reason as the third status line.
    ASSERT_EQ(errors.rfind("ostrel: COM", 0), 0u) << errors;
    EXPECT_NE(errors.find(": " + pty.slavePath + ": permission denied"), std::string::npos) << errors;
    ASSERT_TRUE(errors.ends_with("\n"));
    const std::string reason = errors.substr(8, errors.size() - 9);
    EXPECT_EQ(child.output(), std::string(engine::text::kOpenError) +
                                  std::string(engine::text::kCheckSettings) + "\r\n*** " + reason +
                                  " ***\r\n");
}

}  // namespace
}  // namespace ostrel::faults
