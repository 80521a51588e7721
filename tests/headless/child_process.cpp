#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

extern char** environ;

namespace ostrel::headless::test {
namespace {

bool makePipe(platform::UniqueFd& readEnd, platform::UniqueFd& writeEnd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    readEnd.reset(fds[0]);
    writeEnd.reset(fds[1]);
    return true;
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::vector<std::string>& environment, int stdoutFd, int stdinFd,
                           int stderrFd) {
    platform::UniqueFd inRead, outWrite, errWrite;
    if (!makePipe(inRead, stdin_) || !makePipe(stdout_, outWrite) || !makePipe(stderr_, errWrite)) return;

    // Everything the child needs is built before fork(): after it, only
    // async-signal-safe calls are made.
    std::vector<std::string> env(environment);
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string_view entry(*e);
        const auto replaces = [&](const std::string& extra) {
            return entry.starts_with(extra.substr(0, extra.find('=') + 1));
        };
        if (std::none_of(environment.begin(), environment.end(), replaces)) env.emplace_back(entry);
    }
    std::vector<std::string> argStore{program};
    argStore.insert(argStore.end(), args.begin(), args.end());
    const auto pointers = [](std::vector<std::string>& strings) {
        std::vector<char*> out;
        for (auto& s : strings) out.push_back(s.data());
        out.push_back(nullptr);
        return out;
    };
    std::vector<char*> envp = pointers(env), argv = pointers(argStore);

    pid_ = ::fork();
    if (pid_ == 0) {
        // The test runner may block signals in its threads: the child starts clean.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        ::dup2(stdinFd >= 0 ? stdinFd : inRead.get(), 0);
        ::dup2(stdoutFd >= 0 ? stdoutFd : outWrite.get(), 1);
        ::dup2(stderrFd >= 0 ? stderrFd : errWrite.get(), 2);
        ::execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    if (stdinFd >= 0) stdin_.reset();
    ::fcntl(stdout_.get(), F_SETFL, O_NONBLOCK);
    ::fcntl(stderr_.get(), F_SETFL, O_NONBLOCK);
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !exited_) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

void ChildProcess::collect(int timeoutMs) {
    pollfd fds[2] = {{holdStdout_ ? -1 : stdout_.get(), POLLIN, 0}, {stderr_.get(), POLLIN, 0}};
    if (::poll(fds, 2, timeoutMs) <= 0) return;
    char buffer[65536];
    for (auto [fd, into] : {std::pair{&stdout_, &out_}, std::pair{&stderr_, &err_}}) {
        if (!fd->valid() || (fd == &stdout_ && holdStdout_)) continue;
        for (;;) {
            const ssize_t n = ::read(fd->get(), buffer, sizeof buffer);
            if (n > 0) {
                into->append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            if (n == 0) fd->reset();  // end of output (poll then ignores fd -1)
            break;
        }
    }
}

bool ChildProcess::waitForOutput(std::string_view text, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (out_.find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() >= deadline || (!stdout_.valid() && !stderr_.valid()))
            return false;
        collect(10);
    }
    return true;
}

int ChildProcess::waitExit(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) return -1;
    if (exited_) return exitCode_;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        collect(5);
        int status = 0;
        const pid_t done = ::wait4(pid_, &status, WNOHANG, &usage_);
        if (done == pid_) {
            exited_ = true;
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            while ((stdout_.valid() && !holdStdout_) || stderr_.valid()) collect(100);  // the rest
            return exitCode_;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            ::wait4(pid_, &status, 0, &usage_);
            exited_ = true;
            exitCode_ = -1;
            return -1;
        }
    }
}

void ChildProcess::signal(int signo) const {
    if (pid_ > 0 && !exited_) ::kill(pid_, signo);
}

std::chrono::microseconds ChildProcess::cpuTime() const {
    auto us = [](const timeval& t) {
        return std::chrono::seconds(t.tv_sec) + std::chrono::microseconds(t.tv_usec);
    };
    return us(usage_.ru_utime) + us(usage_.ru_stime);
}

}  // namespace ostrel::headless::test
