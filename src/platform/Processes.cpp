#include "Processes.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

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
        out.push_back(
            {static_cast<pid_t>(pid), readLink(dir + QStringLiteral("/exe")), readName(dir)});
    }
    std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.pid < b.pid; });
    return out;
}

std::vector<ProcessInfo> otherInstances(const std::vector<ProcessInfo>& processes,
                                        const QString& ownExe, pid_t ownPid, const QString& name) {
    std::vector<ProcessInfo> out;
    for (const ProcessInfo& p : processes) {
        if (p.pid == ownPid)
            continue;
        if (p.exe.isEmpty() && p.name.isEmpty())
            continue;
        const bool sameExe = !p.exe.isEmpty() && !ownExe.isEmpty() && p.exe == ownExe;
        if (sameExe || p.name == name)
            out.push_back(p);
    }
    return out;
}

QString ownExecutable() {
    return readLink(QStringLiteral("/proc/self/exe"));
}

bool requestQuit(pid_t pid) {
    return pid > 0 && ::kill(pid, SIGTERM) == 0;
}

} // namespace quillmere::Processes
