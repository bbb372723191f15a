#pragma once
// Realtime priority for the input thread, asked of rtkit
// (org.freedesktop.RealtimeKit1 on the system bus), the way audio servers
// ask for theirs: a modest round-robin priority, never root, never required.
// Everything is asynchronous, so start-up and input never wait for the
// answer; where rtkit is absent, slow or refuses, one line is logged and the
// thread runs on at normal priority.

#include <QDBusConnection>

#include <sys/types.h>

namespace quillmere::Realtime {

// Above ordinary threads, below audio servers (which ask for 20 and more).
inline constexpr unsigned wantedPriority = 10;

// Sends the request for one thread of this process; returns at once.
void request(pid_t thread, const QDBusConnection& bus = QDBusConnection::systemBus());

} // namespace quillmere::Realtime
