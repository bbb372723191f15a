#pragma once
// The update endpoint's reply and its strict decoding.

#include <QByteArray>
#include <QString>

#include <optional>

namespace quillmere {

struct UpdateResponse {
    bool updateAvailable = false;
    QString latestVersion;
    std::optional<QString> downloadUrl;
    std::optional<QString> releaseNotes;
};

namespace UpdateReplies {

// Replies above this size are failures, whatever they hold.
inline constexpr qint64 maximumBytes = 1024 * 1024;

// The body decoded as one JSON object with "updateAvailable" (Boolean) and
// "latestVersion" (string) present, and "downloadUrl" and "releaseNotes"
// each absent, null or a string. Anything else, including an empty or
// oversized body, is nothing. Other members are ignored.
std::optional<UpdateResponse> decode(const QByteArray& body);

// Server text made safe to show: control characters and the invisible
// characters that reorder or hide text (bidirectional controls, zero-width
// characters) are dropped; line feeds and tabs survive when keepLineBreaks
// is set, a CR LF pair or a lone CR then becoming a line feed.
QString displayText(const QString& text, bool keepLineBreaks);

} // namespace UpdateReplies
} // namespace quillmere
