#pragma once
// Downloads a new release into the user's Downloads folder and opens it.

#include <QString>
#include <QUrl>

#include <optional>

namespace quillmere::UpdateDownload {

// The file name a download URL saves under: the last segment of its path,
// percent-decoded. Nothing when that name is empty, starts with a dot (".",
// "..", dotfiles), holds a separator ('/' or '\\') or a control character,
// or when the URL is not https.
std::optional<QString> fileNameFor(const QUrl& url);

// The destination inside the folder, or nothing when the name is refused or
// the path would leave the folder.
std::optional<QString> destinationFor(const QUrl& url, const QString& folder);

// The Downloads folder: an existing directory, or nothing.
std::optional<QString> downloadsFolder();

// Downloads larger than this are cut off and leave nothing behind.
inline constexpr qint64 maximumBytes = 100 * 1024 * 1024;

// Starts the download. The file is written to a temporary file in the same
// folder and renamed onto the destination only after a complete 2xx answer
// of at most maximumBytes; only then is it opened. An existing destination
// is replaced only when it is a plain file (not a directory or a symbolic
// link). Failures are silent.
void start(const QUrl& url, qint64 limit = maximumBytes);

} // namespace quillmere::UpdateDownload
