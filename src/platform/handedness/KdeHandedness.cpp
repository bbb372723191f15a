#include "KdeHandedness.h"

#include "engine/Log.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <vector>

namespace quillmere {

namespace {

// Far above any real kcminputrc; a larger file is not read.
constexpr qint64 maximumFileSize = 1024 * 1024;

std::string_view trimmed(std::string_view s) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!s.empty() && space(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && space(s.back()))
        s.remove_suffix(1);
    return s;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// KConfig's escapes: \s \t \n \r \\ and \xNN; others stay as written.
std::string unescaped(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        const char c = s[++i];
        switch (c) {
        case 's':
            out += ' ';
            break;
        case 't':
            out += '\t';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case '\\':
            out += '\\';
            break;
        case 'x':
            if (i + 2 < s.size() && hexDigit(s[i + 1]) >= 0 && hexDigit(s[i + 2]) >= 0) {
                out += static_cast<char>(hexDigit(s[i + 1]) * 16 + hexDigit(s[i + 2]));
                i += 2;
                break;
            }
            [[fallthrough]];
        default:
            out += '\\';
            out += c;
        }
    }
    return out;
}

std::string lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

// KConfig's Boolean words; anything else is malformed.
std::optional<bool> boolean(std::string_view value) {
    const std::string word = lower(value);
    if (word == "true" || word == "on" || word == "yes" || word == "1")
        return true;
    if (word == "false" || word == "off" || word == "no" || word == "0")
        return false;
    return std::nullopt;
}

// A vendor or product number as KWin writes it: decimal, no leading zero.
bool deviceNumber(const std::string& s) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
    return error == std::errc() && end == s.data() + s.size() && value <= 0xffff &&
           std::to_string(value) == s;
}

// The parts of a group header "[a][b][c]"; nullopt when it is malformed.
std::optional<std::vector<std::string>> groupParts(std::string_view line) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start < line.size() && line[start] == '[') {
        const std::size_t end = line.find(']', start + 1);
        if (end == std::string_view::npos)
            return std::nullopt;
        const std::string_view part = line.substr(start + 1, end - start - 1);
        if (part != "$i") // immutable: read as any other group
            parts.push_back(unescaped(part));
        start = end + 1;
    }
    return parts;
}

} // namespace

KdeMouseSettings parseKcminputrc(std::string_view text) {
    KdeMouseSettings result;
    std::vector<std::string> group;
    std::optional<bool> defaultsPlain, defaultsPointer;
    bool pointerDefaults = false; // KWin takes [Libinput][Defaults][Pointer] when it has entries
    std::optional<bool> libinputDriver, buttonMapping;
    int lineNumber = 0;
    const auto malformed = [&] {
        if (result.malformedLines++ == 0)
            result.firstMalformedLine = lineNumber;
    };

    while (!text.empty()) {
        ++lineNumber;
        const std::size_t newline = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, newline));
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
        if (line.empty() || line.front() == '#')
            continue;
        if (line.front() == '[') {
            // KConfig keeps the previous group after a malformed header.
            if (auto parts = groupParts(line))
                group = std::move(*parts);
            else
                malformed();
            continue;
        }

        // "key=value", or "key[$d]" alone: the key is deleted.
        const std::size_t equals = line.find('=');
        std::string_view key = trimmed(line.substr(0, equals));
        bool deleted = false, localised = false, bad = key.empty();
        while (!bad && key.back() == ']') {
            const std::size_t open = key.rfind('[');
            if (open == std::string_view::npos) {
                bad = true;
                break;
            }
            const std::string_view marker = key.substr(open + 1, key.size() - open - 2);
            if (!marker.empty() && marker.front() == '$')
                deleted = deleted || marker.find('d') != std::string_view::npos;
            else
                localised = true;
            key = key.substr(0, open);
        }
        if (bad || (equals == std::string_view::npos && !deleted)) {
            malformed();
            continue;
        }
        if (localised)
            continue; // a translation; handedness has none
        const std::string name = unescaped(trimmed(key));
        const std::string value = equals == std::string_view::npos
                                      ? std::string()
                                      : unescaped(trimmed(line.substr(equals + 1)));
        const bool libinputGroup = group.size() >= 2 && group[0] == "Libinput";
        if (libinputGroup && group[1] == "Defaults" && group.size() == 3 && group[2] == "Pointer")
            pointerDefaults = true;

        std::optional<bool>* target = nullptr;
        std::optional<bool> device;
        if (group.size() == 1 && group[0] == "Mouse" && name == "XLbInptLeftHanded") {
            target = &libinputDriver;
        } else if (group.size() == 1 && group[0] == "Mouse" && name == "MouseButtonMapping") {
            if (deleted)
                buttonMapping.reset();
            else if (value == "LeftHanded" || value == "RightHanded")
                buttonMapping = value == "LeftHanded";
            else {
                buttonMapping = false;
                malformed();
            }
            continue;
        } else if (!libinputGroup || name != "LeftHanded") {
            continue;
        } else if (group.size() == 2 && group[1] == "Defaults") {
            target = &defaultsPlain;
        } else if (group.size() == 3 && group[1] == "Defaults" && group[2] == "Pointer") {
            target = &defaultsPointer;
        } else if (group.size() == 4 && deviceNumber(group[1]) && deviceNumber(group[2])) {
            target = &device;
        } else {
            continue;
        }

        if (deleted) {
            target->reset();
        } else if (const auto flag = boolean(value)) {
            *target = flag;
        } else {
            *target = false;
            malformed();
        }
        if (target == &device) {
            const std::string deviceKey = group[1] + ':' + group[2] + ':' + group[3];
            if (device)
                result.perDevice[deviceKey] = *device;
            else
                result.perDevice.erase(deviceKey);
        }
    }

    result.waylandDefault = pointerDefaults ? defaultsPointer : defaultsPlain;
    if (libinputDriver || buttonMapping)
        result.x11 = libinputDriver.value_or(false) || buttonMapping.value_or(false);
    return result;
}

KdeHandedness::KdeHandedness(const QString& configHome, std::function<void()> onChange)
    : folder_(configHome), path_(configHome + QStringLiteral("/kcminputrc")),
      onChange_(std::move(onChange)) {
    // A save replaces the file, which ends a watch on the file itself; the
    // folder's watch sees the new one arrive.
    QObject::connect(&watcher_, &QFileSystemWatcher::directoryChanged, &watcher_,
                     [this] { reload(); });
    QObject::connect(&watcher_, &QFileSystemWatcher::fileChanged, &watcher_, [this] { reload(); });
    reload();
}

void KdeHandedness::watch() {
    if (QFileInfo::exists(folder_) && !watcher_.directories().contains(folder_))
        watcher_.addPath(folder_);
    if (QFileInfo::exists(path_) && !watcher_.files().contains(path_))
        watcher_.addPath(path_);
}

void KdeHandedness::reload() {
    watch();
    const std::string path = path_.toStdString();
    KdeMouseSettings settings;
    std::string problem;
    QFile file(path_);
    if (!file.exists()) {
        problem = "[Quillmere] no " + path + ": KDE's mouse settings read as right-handed";
    } else if (!file.open(QIODevice::ReadOnly) || file.size() > maximumFileSize) {
        problem = "[Quillmere] cannot read " + path + " (" +
                  (file.isOpen() ? std::string("too large") : file.errorString().toStdString()) +
                  "): KDE's mouse settings read as right-handed";
    } else {
        const QByteArray text = file.read(maximumFileSize);
        settings = parseKcminputrc(std::string_view(text.constData(), text.size()));
        if (settings.malformedLines > 0)
            problem = "[Quillmere] " + path + ": " + std::to_string(settings.malformedLines) +
                      " malformed line(s) ignored, the first is line " +
                      std::to_string(settings.firstMalformedLine) +
                      "; what they set reads as right-handed";
    }
    // One line per problem, not one per re-read: the folder changes often.
    if (problem != reported_ && !problem.empty())
        Log::write(problem);
    reported_ = problem;

    if (settings == settings_)
        return;
    settings_ = std::move(settings);
    if (onChange_)
        onChange_();
}

} // namespace quillmere
