#pragma once
// Runs a program as a child process with pipes on its standard input, output
// and error, for tests of the real ostrel binary. Output is collected while
// waiting; every wait has a deadline, and a child still running when the
// object goes away is killed and reaped.

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unique_fd.h"

namespace ostrel::headless::test {

class ChildProcess {
public:
    // `environment` entries ("NAME=value") are added to (or replace those of) ours.
    // With `stdoutFd` given (a terminal, say), the child writes there instead
    // of into the pipe that output() collects; `stdinFd` and `stderrFd` the
    // same for standard input (stdinFd() is then invalid) and errors().
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::vector<std::string>& environment = {}, int stdoutFd = -1, int stdinFd = -1,
                 int stderrFd = -1);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    // Collects output until standard output holds `text` (true) or the time-out passes.
    bool waitForOutput(std::string_view text, std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // Waits for the exit; its code, or -1 when it did not end in time (then it is killed),
    // or 128 + the signal when a signal ended it.
    int waitExit(std::chrono::milliseconds timeout = std::chrono::seconds(20));

    void signal(int signo) const;
    int stdinFd() const { return stdin_.get(); }
    void closeStdin() { stdin_.reset(); }
    // The reader of the child's standard output goes away.
    void closeStdout() { stdout_.reset(); }
    // While held, standard output is not read (the pipe fills up, as with a
    // paused pager); it is read again once released.
    void holdStdout(bool hold) { holdStdout_ = hold; }
    int stdoutFd() const { return stdout_.get(); }

    const std::string& output() const { return out_; }
    const std::string& errors() const { return err_; }
    // CPU time (user + system) of the child, valid after waitExit().
    std::chrono::microseconds cpuTime() const;

private:
    void collect(int timeoutMs);

    pid_t pid_ = -1;
    platform::UniqueFd stdin_, stdout_, stderr_;
    std::string out_, err_;
    bool holdStdout_ = false;
    bool exited_ = false;
    int exitCode_ = -1;
    rusage usage_{};
};

}  // namespace ostrel::headless::test
