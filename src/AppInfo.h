#pragma once
// Constants the whole application shares.

namespace quillmere::AppInfo {
inline constexpr const char* version = "1.0.2";
inline constexpr const char* productName = "Quillmere";
inline constexpr const char* versionTitle = "Quillmere v1.0.2";
inline constexpr const char* applicationId = "app.quillmere.Quillmere";
inline constexpr const char* websiteUrl = "https://quillmere.app";
inline constexpr const char* contactEmail = "support@quillmere.app";
inline constexpr const char* processName = "quillmere";
} // namespace quillmere::AppInfo
