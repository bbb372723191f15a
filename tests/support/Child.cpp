#include "Child.h"

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quillmere::testing {

Child::Child(const std::function<int()>& body) {
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
    if (pid_ > 0)
        exitFd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
}

Child::~Child() {
    if (pid_ > 0 && !status_) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (exitFd_ >= 0)
        ::close(exitFd_);
}

void Child::signal(int number) const {
    if (pid_ > 0 && !status_)
        ::kill(pid_, number);
}

std::optional<int> Child::waitForExit(std::chrono::milliseconds limit) {
    if (status_ || pid_ <= 0 || exitFd_ < 0)
        return status_;
    pollfd exited{exitFd_, POLLIN, 0};
    int status = 0;
    if (::poll(&exited, 1, static_cast<int>(limit.count())) == 1 &&
        ::waitpid(pid_, &status, 0) == pid_)
        status_ = status;
    return status_;
}

} // namespace quillmere::testing
