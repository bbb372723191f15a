#include "Libinput.h"

#include <QRegularExpression>

#include <chrono>

namespace quillmere::vmtest {

LibinputLog parseLibinput(const QString& output) {
    LibinputLog log;
    static const QRegularExpression vert(QStringLiteral("vert\\s+(-?[0-9.]+)/(-?[0-9.]+)"));
    static const QRegularExpression horiz(QStringLiteral("horiz\\s+(-?[0-9.]+)/(-?[0-9.]+)"));
    for (const QString& line : output.split(QLatin1Char('\n'))) {
        if (line.contains(QLatin1String("POINTER_SCROLL_WHEEL"))) {
            if (log.rightPressed > 0)
                log.clickAfterScrolls = false;
            if (auto m = vert.match(line); m.hasMatch() && m.captured(2).toDouble() != 0.0)
                log.verticalV120.push_back(static_cast<int>(m.captured(2).toDouble()));
            if (auto m = horiz.match(line); m.hasMatch() && m.captured(2).toDouble() != 0.0)
                log.horizontalV120.push_back(static_cast<int>(m.captured(2).toDouble()));
        } else if (line.contains(QLatin1String("POINTER_BUTTON")) &&
                   line.contains(QLatin1String("BTN_RIGHT"))) {
            if (line.contains(QLatin1String("released")))
                ++log.rightReleased;
            else if (line.contains(QLatin1String("pressed")))
                ++log.rightPressed;
        }
    }
    return log;
}

LibinputEvents::LibinputEvents(const std::string& node) {
    // libinput only takes devices udev has finished with.
    std::system("udevadm settle -t 10");
    // Line-buffered, or nothing arrives before libinput exits.
    process_ = std::make_unique<ChildProcess>(
        "libinput", QStringList{"stdbuf", "-oL", "libinput", "debug-events", "--device",
                                QString::fromStdString(node)});
}

bool LibinputEvents::started() {
    return pumpUntil([&] { return output().find("DEVICE_ADDED") != std::string::npos; },
                     std::chrono::seconds(15));
}

std::string LibinputEvents::output() {
    std::string text;
    for (const Report& line : process_->reports())
        text += line.line + "\n";
    return text;
}

std::vector<std::string> libinputSettings(const std::string& node) {
    const QString text = QString::fromStdString(outputOf({"libinput", "list-devices"}));
    std::vector<std::string> settings;
    bool inDevice = false;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("Device:")))
            inDevice = false;
        if (line.startsWith(QLatin1String("Kernel:")))
            inDevice = line.contains(QString::fromStdString(node));
        // Identity lines differ between a mouse and its virtual pointer.
        const bool identity = line.startsWith(QLatin1String("Kernel:")) ||
                              line.startsWith(QLatin1String("Group:")) ||
                              line.startsWith(QLatin1String("Id:"));
        if (inDevice && !identity && !line.trimmed().isEmpty())
            settings.push_back(line.simplified().toStdString());
    }
    return settings;
}

} // namespace quillmere::vmtest
