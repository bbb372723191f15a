#include "Processes.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace quillmere::Processes {

namespace {

QString readLink(const QString& path) {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(QFile::encodeName(path).constData(), buffer, sizeof buffer - 1);
    if (n <= 0)
        return {};
    QString target = QFile::decodeName(QByteArray(buffer, static_cast<int>(n)));
    // A binary replaced by an upgrade still names its old path.
    static const QString deleted = QStringLiteral(" (deleted)");
    if (target.endsWith(deleted))
        target.chop(deleted.size());
    return target;
}

QString readName(const QString& procDir) {
    QFile file(procDir + QStringLiteral("/comm"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).trimmed();
}

// Field 22 of stat, the start time in clock ticks since boot. The name
// (field 2) may hold spaces and parentheses, so counting starts after its
// closing parenthesis, with field 3.
std::uint64_t readStartTime(const QString& procDir) {
    QFile file(procDir + QStringLiteral("/stat"));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray stat = file.readAll();
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return fields.value(22 - 3).toULongLong();
}

ProcessInfo readProcess(pid_t pid, const QString& procDir) {
    return {pid, readLink(procDir + QStringLiteral("/exe")), readName(procDir),
            readStartTime(procDir)};
}

} // namespace

std::vector<ProcessInfo> sameUserProcesses() {
    std::vector<ProcessInfo> out;
    const uid_t me = ::getuid();
    const QStringList entries =
        QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool isNumber = false;
        const long pid = entry.toLong(&isNumber);
        if (!isNumber || pid <= 0)
            continue;
        const QString dir = QStringLiteral("/proc/") + entry;
        struct stat st {};
        if (::stat(QFile::encodeName(dir).constData(), &st) != 0 || st.st_uid != me)
            continue;
        out.push_back(readProcess(static_cast<pid_t>(pid), dir));
    }
    std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.pid < b.pid; });
    return out;
}

std::vector<ProcessInfo> olderInstances(const std::vector<ProcessInfo>& processes,
                                        const ProcessInfo& self, const QString& name) {
    std::vector<ProcessInfo> out;
    for (const ProcessInfo& p : processes) {
        if (p.pid == self.pid)
            continue;
        if (p.exe.isEmpty() && p.name.isEmpty())
            continue;
        if (std::pair(p.startTime, p.pid) > std::pair(self.startTime, self.pid))
            continue;
        const bool sameExe = !p.exe.isEmpty() && !self.exe.isEmpty() && p.exe == self.exe;
        if (sameExe || p.name == name)
            out.push_back(p);
    }
    return out;
}

ProcessInfo self() {
    return readProcess(::getpid(), QStringLiteral("/proc/self"));
}

bool requestQuit(pid_t pid) {
    return pid > 0 && ::kill(pid, SIGTERM) == 0;
}

} // namespace quillmere::Processes
