#pragma once
// The 50 interface languages and the localised texts. Texts are looked up
// afresh on every access from the "language" setting, English as fall-back.

#include <QObject>
#include <QString>

#include <array>
#include <optional>
#include <string_view>

namespace quillmere {

enum class Language {
    english,
    korean,
    chinese,
    spanish,
    arabic,
    portuguese,
    russian,
    japanese,
    german,
    french,
    turkish,
    vietnamese,
    italian,
    thai,
    polish,
    dutch,
    indonesian,
    hindi,
    hebrew,
    persian,
    romanian,
    czech,
    greek,
    hungarian,
    swedish,
    danish,
    finnish,
    norwegian,
    ukrainian,
    malay,
    filipino,
    bengali,
    tamil,
    telugu,
    urdu,
    swahili,
    slovak,
    croatian,
    bulgarian,
    serbian,
    lithuanian,
    slovenian,
    latvian,
    estonian,
    catalan,
    marathi,
    gujarati,
    kannada,
    malayalam,
    burmese,
};

namespace Languages {
inline constexpr std::size_t count = 50;
// Every case in popup order (English first, Burmese last).
const std::array<Language, count>& allCases();
// The two-letter code, e.g. "en".
std::string_view rawValue(Language language);
// The language's own name for itself, e.g. "한국어".
std::string_view displayName(Language language);
// The case whose code equals the text exactly (case-sensitive, whole string).
std::optional<Language> fromRawValue(std::string_view code);
// The current interface language: the stored "language" code, English when
// absent or unknown.
Language current();
// Whether the language is written right to left.
bool isRightToLeft(Language language);
} // namespace Languages

namespace L10n {
QString enabled();
QString preferences();
QString checkForUpdates();
QString quit();
QString subtitle();
QString scrollDirection();
QString verticalScroll();
QString momentumScroll();
QString diagonalScroll();
QString horizontalScroll();
QString behavior();
QString reverseScroll();
QString smoothScroll();
QString scrollSpeed();
QString languageLabel();
QString launchAtLogin();
QString updateAvailable();
// The update message with every "%@" replaced by the version, as plain text.
QString updateMessage(const QString& version);
QString noUpdateTitle();
QString noUpdateMessage();
QString download();
QString later();
QString visitWebsite();
} // namespace L10n

// A text for a button, check box or menu item, where Qt takes a single '&'
// as a shortcut marker and hides it: every '&' doubled, so it shows as written.
QString asButtonText(const QString& text);

// The one process-wide sender of languageDidChange.
class LanguageNotifier : public QObject {
    Q_OBJECT
public:
    static LanguageNotifier& instance();
    // Emits languageDidChange().
    void post();

signals:
    void languageDidChange();

private:
    LanguageNotifier() = default;
};

} // namespace quillmere
