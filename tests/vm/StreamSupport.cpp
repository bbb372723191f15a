#include "StreamSupport.h"

#include <linux/input.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <stdexcept>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace quillmere::vmtest {

namespace {
using Clock = std::chrono::steady_clock;

double millisSince(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// Reads numbered frames from one output until the writer is done and the
// output has been quiet for a while.
using Stamps = std::vector<std::atomic<Clock::rep>>;

void readNumbered(int output, long frames, const Stamps& writtenAt, Clock::time_point start,
                  const std::atomic<bool>& writerDone, StreamResult& result) {
    result.readAtMs.assign(static_cast<std::size_t>(frames), -1.0);
    result.delayOfFrameMs.assign(static_cast<std::size_t>(frames), -1.0);
    long expected = 0;
    std::vector<bool> seen(static_cast<std::size_t>(frames), false);
    pollfd ready{output, POLLIN, 0};
    input_event buffer[512];
    int x = 0;
    int y = 0;
    bool skipping = false;
    for (;;) {
        if (poll(&ready, 1, 500) <= 0) {
            if (writerDone)
                break;
            continue;
        }
        const ssize_t got = read(output, buffer, sizeof buffer);
        if (got <= 0)
            continue;
        const Clock::time_point now = Clock::now();
        for (long k = 0; k < got / static_cast<long>(sizeof(input_event)); ++k) {
            const input_event& ev = buffer[k];
            if (ev.type == EV_SYN && ev.code == SYN_DROPPED) {
                // What follows up to the next SYN_REPORT is part of a frame
                // the kernel cut: it counts as nothing.
                ++result.synDropped;
                skipping = true;
            } else if (skipping) {
                skipping = !(ev.type == EV_SYN && ev.code == SYN_REPORT);
                x = y = 0;
            } else if (ev.type == EV_REL) {
                (ev.code == REL_X ? x : y) = ev.value;
            } else if (ev.type == EV_SYN && ev.code == SYN_REPORT) {
                const long index = static_cast<long>(y - 1) * 1000 + (x - 1);
                x = y = 0;
                if (index < 0 || index >= frames)
                    continue;
                ++result.received;
                if (seen[static_cast<std::size_t>(index)])
                    ++result.duplicated;
                seen[static_cast<std::size_t>(index)] = true;
                if (index < expected)
                    ++result.reordered;
                else
                    expected = index + 1;
                const Clock::time_point at(
                    Clock::duration(writtenAt[static_cast<std::size_t>(index)].load()));
                result.readAtMs[static_cast<std::size_t>(index)] = millisSince(start, now);
                result.delayOfFrameMs[static_cast<std::size_t>(index)] = millisSince(at, now);
            }
        }
    }
    result.dropped = std::count(seen.begin(), seen.end(), false);
    // A stream that ended early sent fewer frames than it made room for.
    result.dropped -= std::count_if(writtenAt.begin(), writtenAt.end(),
                                    [](const auto& at) { return at.load() == 0; });
}
} // namespace

pid_t startPlainForwarder(const std::string& sourceNode, const std::string& outputPhys,
                          bool waitInEpoll) {
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    const int in = open(sourceNode.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0 || ioctl(in, EVIOCGRAB, 1) != 0)
        _exit(2);
    // Never destroyed: the forwarder runs until it is killed.
    const int out =
        (new FakeMouse("plain forwarder output", outputPhys, MouseShape{.rightButton = false}))
            ->fd();
    const int epoll = waitInEpoll ? epoll_create1(EPOLL_CLOEXEC) : -1;
    epoll_event watched{};
    watched.events = EPOLLIN;
    if (waitInEpoll && epoll_ctl(epoll, EPOLL_CTL_ADD, in, &watched) != 0)
        _exit(2);
    input_event buffer[256];
    for (;;) {
        epoll_event ready{};
        if (waitInEpoll && epoll_wait(epoll, &ready, 1, -1) < 0 && errno != EINTR)
            _exit(3);
        const ssize_t got = read(in, buffer, sizeof buffer);
        if (got <= 0)
            _exit(got == 0 ? 0 : 3);
        if (write(out, buffer, static_cast<size_t>(got)) != got)
            _exit(4);
    }
}

void pinToCpu(int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    sched_setaffinity(0, sizeof set, &set);
}

double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const auto index =
        static_cast<std::size_t>(p / 100.0 * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

std::vector<StreamResult> streamNumbered(const std::vector<Route>& routes, int hertz,
                                         double seconds,
                                         const std::function<bool(long)>& beforeFrame) {
    const long frames = static_cast<long>(hertz * seconds);
    std::vector<StreamResult> results(routes.size());
    Stamps writtenAt(static_cast<std::size_t>(frames));
    std::atomic<bool> writerDone{false};
    std::vector<std::thread> readers;
    const auto start = Clock::now();
    for (std::size_t r = 0; r < routes.size(); ++r)
        readers.emplace_back([&, r] {
            readNumbered(routes[r].output, frames, writtenAt, start, writerDone, results[r]);
        });

    const auto due = [&](long i) {
        return start + std::chrono::nanoseconds(i * 1'000'000'000LL / hertz);
    };
    std::vector<input_event> batch;
    long i = 0;
    bool going = true;
    while (i < frames && going) {
        const auto now = Clock::now();
        if (due(i) > now) {
            std::this_thread::sleep_until(due(i));
            continue;
        }
        const long first = i;
        batch.clear();
        for (int n = 0; n < 8 && i < frames && due(i) <= now; ++n, ++i) {
            if (beforeFrame && !(going = beforeFrame(i)))
                break;
            input_event ev[3]{};
            ev[0].type = EV_REL, ev[0].code = REL_X, ev[0].value = static_cast<int>(i % 1000 + 1);
            ev[1].type = EV_REL, ev[1].code = REL_Y, ev[1].value = static_cast<int>(i / 1000 + 1);
            ev[2].type = EV_SYN, ev[2].code = SYN_REPORT;
            batch.insert(batch.end(), ev, ev + 3);
        }
        if (batch.empty())
            break;
        const auto bytes = static_cast<ssize_t>(batch.size() * sizeof(input_event));
        for (std::size_t r = 0; r < routes.size(); ++r) {
            const Clock::time_point at = Clock::now();
            // The first route's stamp stands for all: they are written together.
            if (r == 0)
                for (long k = first; k < i; ++k)
                    writtenAt[static_cast<std::size_t>(k)] = at.time_since_epoch().count();
            if (write(routes[r].mouse, batch.data(), static_cast<size_t>(bytes)) != bytes)
                throw std::runtime_error(std::string("write to a fake mouse: ") +
                                         std::strerror(errno));
            results[r].sent += i - first;
            ++results[r].writes;
        }
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    writerDone = true;
    for (std::thread& reader : readers)
        reader.join();
    for (StreamResult& result : results)
        result.seconds = elapsed;
    return results;
}

} // namespace quillmere::vmtest
