#include "UpdateResponse.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

namespace quillmere::UpdateReplies {
namespace {

// Absent and null mean none; a string is kept; any other type fails the
// whole reply (outer nullopt).
std::optional<std::optional<QString>> optionalString(const QJsonObject& object,
                                                     const QString& key) {
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return std::optional<QString>{};
    if (!value.isString())
        return std::nullopt;
    return std::optional<QString>{value.toString()};
}

bool isControl(char16_t c) {
    return c < 0x20 || (c >= 0x7f && c <= 0x9f);
}

// Characters that reorder or hide text without showing themselves: the
// bidirectional embeddings, overrides and isolates, the Arabic letter mark,
// and the zero-width spaces, joiners and direction marks.
bool isInvisibleFormatting(char16_t c) {
    return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) ||
           (c >= 0x200B && c <= 0x200F) || c == 0x061C;
}

} // namespace

std::optional<UpdateResponse> decode(const QByteArray& body) {
    if (body.isEmpty() || body.size() > maximumBytes)
        return std::nullopt;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();

    const QJsonValue available = object.value(QStringLiteral("updateAvailable"));
    const QJsonValue version = object.value(QStringLiteral("latestVersion"));
    if (!available.isBool() || !version.isString())
        return std::nullopt;
    const auto url = optionalString(object, QStringLiteral("downloadUrl"));
    const auto notes = optionalString(object, QStringLiteral("releaseNotes"));
    if (!url || !notes)
        return std::nullopt;

    UpdateResponse response;
    response.updateAvailable = available.toBool();
    response.latestVersion = version.toString();
    response.downloadUrl = *url;
    response.releaseNotes = *notes;
    return response;
}

QString displayText(const QString& text, bool keepLineBreaks) {
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c == u'\r') {
            if (i + 1 < text.size() && text.at(i + 1) == u'\n')
                continue; // the LF that follows stands for both
            if (keepLineBreaks)
                result.append(u'\n');
            continue;
        }
        if ((c == u'\n' || c == u'\t') && keepLineBreaks) {
            result.append(QChar(c));
            continue;
        }
        if (isControl(c) || isInvisibleFormatting(c))
            continue;
        result.append(QChar(c));
    }
    return result;
}

} // namespace quillmere::UpdateReplies
