#include "ui/Localization.h"

#include "engine/ScrollConfig.h"
#include "ui/Translations.h"

namespace quillmere {
namespace {

struct LanguageInfo {
    Language language;
    std::string_view code;
    std::string_view displayName;
};

// Popup order; each language named in its own script.
constexpr std::array<LanguageInfo, Languages::count> languageInfos{{
    {Language::english, "en", "English"},
    {Language::korean, "ko", "한국어"},
    {Language::chinese, "zh", "中文"},
    {Language::spanish, "es", "Español"},
    {Language::arabic, "ar", "العربية"},
    {Language::portuguese, "pt", "Português"},
    {Language::russian, "ru", "Русский"},
    {Language::japanese, "ja", "日本語"},
    {Language::german, "de", "Deutsch"},
    {Language::french, "fr", "Français"},
    {Language::turkish, "tr", "Türkçe"},
    {Language::vietnamese, "vi", "Tiếng Việt"},
    {Language::italian, "it", "Italiano"},
    {Language::thai, "th", "ไทย"},
    {Language::polish, "pl", "Polski"},
    {Language::dutch, "nl", "Nederlands"},
    {Language::indonesian, "id", "Bahasa Indonesia"},
    {Language::hindi, "hi", "हिन्दी"},
    {Language::hebrew, "he", "עברית"},
    {Language::persian, "fa", "فارسی"},
    {Language::romanian, "ro", "Română"},
    {Language::czech, "cs", "Čeština"},
    {Language::greek, "el", "Ελληνικά"},
    {Language::hungarian, "hu", "Magyar"},
    {Language::swedish, "sv", "Svenska"},
    {Language::danish, "da", "Dansk"},
    {Language::finnish, "fi", "Suomi"},
    {Language::norwegian, "no", "Norsk"},
    {Language::ukrainian, "uk", "Українська"},
    {Language::malay, "ms", "Bahasa Melayu"},
    {Language::filipino, "tl", "Filipino"},
    {Language::bengali, "bn", "বাংলা"},
    {Language::tamil, "ta", "தமிழ்"},
    {Language::telugu, "te", "తెలుగు"},
    {Language::urdu, "ur", "اردو"},
    {Language::swahili, "sw", "Kiswahili"},
    {Language::slovak, "sk", "Slovenčina"},
    {Language::croatian, "hr", "Hrvatski"},
    {Language::bulgarian, "bg", "Български"},
    {Language::serbian, "sr", "Српски"},
    {Language::lithuanian, "lt", "Lietuvių"},
    {Language::slovenian, "sl", "Slovenščina"},
    {Language::latvian, "lv", "Latviešu"},
    {Language::estonian, "et", "Eesti"},
    {Language::catalan, "ca", "Català"},
    {Language::marathi, "mr", "मराठी"},
    {Language::gujarati, "gu", "ગુજરાતી"},
    {Language::kannada, "kn", "ಕನ್ನಡ"},
    {Language::malayalam, "ml", "മലയാളം"},
    {Language::burmese, "my", "မြန်မာ"},
}};

// The enumerators are declared in popup order, so a case's value is its index.
constexpr bool infosFollowEnumOrder() {
    for (std::size_t i = 0; i < languageInfos.size(); ++i) {
        if (static_cast<std::size_t>(languageInfos[i].language) != i)
            return false;
    }
    return true;
}
static_assert(infosFollowEnumOrder(), "language list out of step with the enumeration");

const LanguageInfo& info(Language language) {
    const auto index = static_cast<std::size_t>(language);
    // An out-of-range value (only reachable by casting) reads as English.
    return index < languageInfos.size() ? languageInfos[index] : languageInfos[0];
}

QString tr(Translations::Key key) {
    return QString::fromUtf8(
        Translations::lookup(Translations::table(), Languages::current(), key));
}

} // namespace

namespace Languages {

const std::array<Language, count>& allCases() {
    static const std::array<Language, count> cases = [] {
        std::array<Language, count> all{};
        for (std::size_t i = 0; i < count; ++i)
            all[i] = languageInfos[i].language;
        return all;
    }();
    return cases;
}

std::string_view rawValue(Language language) {
    return info(language).code;
}

std::string_view displayName(Language language) {
    return info(language).displayName;
}

std::optional<Language> fromRawValue(std::string_view code) {
    for (const LanguageInfo& candidate : languageInfos) {
        if (candidate.code == code)
            return candidate.language;
    }
    return std::nullopt;
}

Language current() {
    // Read afresh each time: a language change needs no message to anyone.
    const std::optional<std::string> stored = ScrollConfig::defaults().string("language");
    return fromRawValue(stored.value_or("en")).value_or(Language::english);
}

bool isRightToLeft(Language language) {
    switch (language) {
    case Language::arabic:
    case Language::hebrew:
    case Language::persian:
    case Language::urdu:
        return true;
    default:
        return false;
    }
}

} // namespace Languages

namespace L10n {

using Translations::Texts;

QString enabled() {
    return tr(&Texts::enabled);
}
QString preferences() {
    return tr(&Texts::preferences);
}
QString checkForUpdates() {
    return tr(&Texts::checkForUpdates);
}
QString quit() {
    return tr(&Texts::quit);
}
QString subtitle() {
    return tr(&Texts::subtitle);
}
QString scrollDirection() {
    return tr(&Texts::scrollDirection);
}
QString verticalScroll() {
    return tr(&Texts::verticalScroll);
}
QString momentumScroll() {
    return tr(&Texts::momentumScroll);
}
QString diagonalScroll() {
    return tr(&Texts::diagonalScroll);
}
QString horizontalScroll() {
    return tr(&Texts::horizontalScroll);
}
QString behavior() {
    return tr(&Texts::behavior);
}
QString reverseScroll() {
    return tr(&Texts::reverseScroll);
}
QString smoothScroll() {
    return tr(&Texts::smoothScroll);
}
QString scrollSpeed() {
    return tr(&Texts::scrollSpeed);
}
QString languageLabel() {
    return tr(&Texts::languageLabel);
}
QString launchAtLogin() {
    return tr(&Texts::launchAtLogin);
}
QString updateAvailable() {
    return tr(&Texts::updateAvailable);
}

QString updateMessage(const QString& version) {
    // QString::replace scans only the original text, so a "%@" brought in by
    // the version stays as it is; no other "%" sequence is touched.
    QString text = tr(&Texts::updateMessage);
    text.replace(QStringLiteral("%@"), version);
    return text;
}

QString noUpdateTitle() {
    return tr(&Texts::noUpdateTitle);
}
QString noUpdateMessage() {
    return tr(&Texts::noUpdateMessage);
}
QString download() {
    return tr(&Texts::download);
}
QString later() {
    return tr(&Texts::later);
}
QString visitWebsite() {
    return tr(&Texts::visitWebsite);
}

} // namespace L10n

QString asButtonText(const QString& text) {
    QString doubled = text;
    return doubled.replace(u'&', QStringLiteral("&&"));
}

LanguageNotifier& LanguageNotifier::instance() {
    static LanguageNotifier notifier;
    return notifier;
}

void LanguageNotifier::post() {
    emit languageDidChange();
}

} // namespace quillmere
