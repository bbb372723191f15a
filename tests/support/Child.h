#pragma once
// A process of the test's own: forked, it runs a function (which may exec a
// program) and exits with what the function returns. It dies with the test,
// writes nothing into the test's output, and is killed and reaped when this
// object goes.

#include <chrono>
#include <functional>
#include <optional>
#include <sys/types.h>

namespace quillmere::testing {

class Child {
public:
    explicit Child(const std::function<int()>& body);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    void signal(int number) const;
    // Waits up to the limit for the process to end; its wait status once it
    // has (the process is reaped then), nothing while it runs.
    std::optional<int> waitForExit(std::chrono::milliseconds limit);

private:
    pid_t pid_ = -1;
    int exitFd_ = -1;
    std::optional<int> status_;
};

} // namespace quillmere::testing
