#pragma once
// A process of the test's own: forked, it runs a function (which may exec a
// program) and exits with what the function returns. It dies with the test,
// writes nothing into the test's output, and is killed and reaped when this
// object goes.

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quillmere::testing {

class Child {
public:
    explicit Child(const std::function<int()>& body) {
        const pid_t parent = ::getpid();
        pid_ = ::fork();
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent)
                ::_exit(127); // the test is gone already
            // No pipe of the test runner stays open in the child.
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
            ::_exit(body());
        }
        exitFd_ = pid_ > 0 ? static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0)) : -1;
    }
    ~Child() {
        if (pid_ > 0 && !status_ && ::kill(pid_, SIGKILL) == 0)
            ::waitpid(pid_, nullptr, 0);
        if (exitFd_ >= 0)
            ::close(exitFd_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    // Waits up to the limit for the process to end; its wait status once it
    // has (the process is reaped then), nothing while it runs.
    std::optional<int> waitForExit(std::chrono::milliseconds limit) {
        pollfd exited{exitFd_, POLLIN, 0};
        int status = 0;
        if (!status_ && exitFd_ >= 0 && ::poll(&exited, 1, static_cast<int>(limit.count())) == 1 &&
            ::waitpid(pid_, &status, 0) == pid_)
            status_ = status;
        return status_;
    }

private:
    pid_t pid_ = -1;
    int exitFd_ = -1;
    std::optional<int> status_;
};

} // namespace quillmere::testing
