#pragma once
// A forked child for tests that need another process: it runs a task, tells
// the parent it is done (one byte on a pipe) and then waits until the parent
// ends it (SIGKILL) or the parent goes away. The child never returns into the
// test framework.

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace ostrel::platform::test {

class ChildProcess {
public:
    // `task` runs in the child; false makes the child exit at once with
    // status 1. `name` becomes the child's /proc/PID/comm.
    ChildProcess(const std::string& name, const std::function<bool()>& task) {
        int ready[2];
        if (::pipe2(ready, O_CLOEXEC) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            ::prctl(PR_SET_NAME, name.c_str());
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (!task()) ::_exit(1);
            const char done = 1;
            if (::write(ready[1], &done, 1) != 1) ::_exit(1);
            for (;;) ::pause();
        }
        ::close(ready[1]);
        char done = 0;
        ready_ = pid_ > 0 && ::read(ready[0], &done, 1) == 1;
        ::close(ready[0]);
    }
    ~ChildProcess() { kill(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool ready() const { return ready_; }  // the task ran and succeeded
    int pid() const { return pid_; }
    // Ends the child with SIGKILL and reaps it.
    void kill() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }

private:
    int pid_ = -1;
    bool ready_ = false;
};

// The pid of a process that has ended and been reaped.
inline int deadPid() {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(0);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return pid;
}

}  // namespace ostrel::platform::test
