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
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::vector<std::string>& environment = {});
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

    const std::string& output() const { return out_; }
    const std::string& errors() const { return err_; }
    // CPU time (user + system) of the child, valid after waitExit().
    std::chrono::microseconds cpuTime() const;

private:
    void collect(int timeoutMs);

    pid_t pid_ = -1;
    platform::UniqueFd stdin_, stdout_, stderr_;
    std::string out_, err_;
    bool exited_ = false;
    int exitCode_ = -1;
    rusage usage_{};
};

}  // namespace ostrel::headless::test
