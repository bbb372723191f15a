#include "Autostart.h"

#include "AppInfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace quillmere::Autostart {

QString entryPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/") + QString::fromLatin1(AppInfo::applicationId) +
           QStringLiteral(".desktop");
}

QString execValue(const QString& program) {
    // Reserved characters force quoting; inside quotes ", `, $ and \ are
    // escaped with a backslash, and % is doubled everywhere. The value is
    // then written as any string of a desktop entry: a backslash doubled,
    // tab, newline and carriage return as \t, \n and \r (readers undo that
    // first, and refuse an escape they do not know, such as \$).
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool quote = false;
    for (QChar c : program)
        quote = quote || reserved.contains(c);
    QString quoted;
    for (QChar c : program) {
        if (c == u'%')
            quoted += QStringLiteral("%%");
        else if (quote && (c == u'"' || c == u'`' || c == u'$' || c == u'\\'))
            quoted += u'\\' + QString(c);
        else
            quoted += c;
    }
    if (quote)
        quoted = u'"' + quoted + u'"';
    QString out;
    for (QChar c : quoted) {
        if (c == u'\\')
            out += QStringLiteral("\\\\");
        else if (c == u'\t')
            out += QStringLiteral("\\t");
        else if (c == u'\n')
            out += QStringLiteral("\\n");
        else if (c == u'\r')
            out += QStringLiteral("\\r");
        else
            out += c;
    }
    return out;
}

bool registerEntry(QString* error) {
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).absoluteFilePath();
    if (program.isEmpty()) {
        *error = QStringLiteral("the path of the running program is unknown");
        return false;
    }
    const QString path = entryPath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        *error = QStringLiteral("cannot create %1").arg(QFileInfo(path).absolutePath());
        return false;
    }
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Quillmere\n"
                                         "Comment=Scroll by dragging with the right mouse button\n"
                                         "Exec=%1\n"
                                         "Icon=%2\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(execValue(program), QString::fromLatin1(AppInfo::applicationId));
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly) || file.write(entry.toUtf8()) < 0 || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

bool unregisterEntry(QString* error) {
    QFile file(entryPath());
    if (!file.exists())
        return true;
    if (!file.remove()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

bool isEnabled() {
    QFile file(entryPath());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    bool inMainGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(u'[')) {
            inMainGroup = line == QStringLiteral("[Desktop Entry]");
            continue;
        }
        if (!inMainGroup)
            continue;
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (key == QStringLiteral("Hidden") && value == QStringLiteral("true"))
            return false;
        if (key == QStringLiteral("X-GNOME-Autostart-enabled") && value == QStringLiteral("false"))
            return false;
    }
    return true;
}

} // namespace quillmere::Autostart
