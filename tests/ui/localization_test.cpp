// The language list and interface texts: checked cell by cell against the
// reference data taken from the design document, then for completeness of all
// 50 languages, lookup from the stored code, the version substitution and the
// change notification.

#include "engine/MemorySettingsStore.h"
#include "engine/ScrollConfig.h"
#include "ui/Localization.h"
#include "ui/Translations.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace quillmere {
namespace {

#ifndef QUILLMERE_UI_TEST_DATA_DIR
#error "QUILLMERE_UI_TEST_DATA_DIR must name tests/ui/data"
#endif

using Row = std::vector<std::string>;

// The rows of a tab-separated file, header line dropped.
std::vector<Row> readTsv(const std::string& name) {
    std::ifstream in(std::string(QUILLMERE_UI_TEST_DATA_DIR) + "/" + name);
    std::vector<Row> rows;
    std::string line;
    bool header = true;
    while (std::getline(in, line)) {
        if (header) {
            header = false;
            continue;
        }
        Row row;
        std::stringstream cells(line);
        std::string cell;
        while (std::getline(cells, cell, '\t'))
            row.push_back(cell);
        rows.push_back(row);
    }
    return rows;
}

std::string utf8(const QString& text) {
    return text.toStdString();
}

std::size_t countOf(std::string_view text, std::string_view needle) {
    std::size_t count = 0;
    for (auto at = text.find(needle); at != std::string_view::npos;
         at = text.find(needle, at + needle.size()))
        ++count;
    return count;
}

// Every public text accessor by its key name. updateMessage is asked with
// "%@" as the version, which hands back its text unchanged.
const std::map<std::string, std::function<QString()>>& accessors() {
    static const std::map<std::string, std::function<QString()>> all{
        {"enabled", L10n::enabled},
        {"preferences", L10n::preferences},
        {"checkForUpdates", L10n::checkForUpdates},
        {"quit", L10n::quit},
        {"subtitle", L10n::subtitle},
        {"scrollDirection", L10n::scrollDirection},
        {"verticalScroll", L10n::verticalScroll},
        {"momentumScroll", L10n::momentumScroll},
        {"diagonalScroll", L10n::diagonalScroll},
        {"horizontalScroll", L10n::horizontalScroll},
        {"behavior", L10n::behavior},
        {"reverseScroll", L10n::reverseScroll},
        {"smoothScroll", L10n::smoothScroll},
        {"scrollSpeed", L10n::scrollSpeed},
        {"languageLabel", L10n::languageLabel},
        {"launchAtLogin", L10n::launchAtLogin},
        {"updateAvailable", L10n::updateAvailable},
        {"updateMessage", [] { return L10n::updateMessage(QStringLiteral("%@")); }},
        {"noUpdateTitle", L10n::noUpdateTitle},
        {"noUpdateMessage", L10n::noUpdateMessage},
        {"download", L10n::download},
        {"later", L10n::later},
        {"visitWebsite", L10n::visitWebsite},
    };
    return all;
}

#define QUILLMERE_CASE(name)                                                                       \
    { #name, Language::name }
const std::map<std::string, Language> casesByName{
    QUILLMERE_CASE(english),   QUILLMERE_CASE(korean),     QUILLMERE_CASE(chinese),
    QUILLMERE_CASE(spanish),   QUILLMERE_CASE(arabic),     QUILLMERE_CASE(portuguese),
    QUILLMERE_CASE(russian),   QUILLMERE_CASE(japanese),   QUILLMERE_CASE(german),
    QUILLMERE_CASE(french),    QUILLMERE_CASE(turkish),    QUILLMERE_CASE(vietnamese),
    QUILLMERE_CASE(italian),   QUILLMERE_CASE(thai),       QUILLMERE_CASE(polish),
    QUILLMERE_CASE(dutch),     QUILLMERE_CASE(indonesian), QUILLMERE_CASE(hindi),
    QUILLMERE_CASE(hebrew),    QUILLMERE_CASE(persian),    QUILLMERE_CASE(romanian),
    QUILLMERE_CASE(czech),     QUILLMERE_CASE(greek),      QUILLMERE_CASE(hungarian),
    QUILLMERE_CASE(swedish),   QUILLMERE_CASE(danish),     QUILLMERE_CASE(finnish),
    QUILLMERE_CASE(norwegian), QUILLMERE_CASE(ukrainian),  QUILLMERE_CASE(malay),
    QUILLMERE_CASE(filipino),  QUILLMERE_CASE(bengali),    QUILLMERE_CASE(tamil),
    QUILLMERE_CASE(telugu),    QUILLMERE_CASE(urdu),       QUILLMERE_CASE(swahili),
    QUILLMERE_CASE(slovak),    QUILLMERE_CASE(croatian),   QUILLMERE_CASE(bulgarian),
    QUILLMERE_CASE(serbian),   QUILLMERE_CASE(lithuanian), QUILLMERE_CASE(slovenian),
    QUILLMERE_CASE(latvian),   QUILLMERE_CASE(estonian),   QUILLMERE_CASE(catalan),
    QUILLMERE_CASE(marathi),   QUILLMERE_CASE(gujarati),   QUILLMERE_CASE(kannada),
    QUILLMERE_CASE(malayalam), QUILLMERE_CASE(burmese),
};
#undef QUILLMERE_CASE

class LocalizationTest : public ::testing::Test {
protected:
    void SetUp() override { ScrollConfig::setDefaults(&store); }
    void TearDown() override { ScrollConfig::setDefaults(nullptr); }

    void storeLanguage(std::string code) { store.setObject("language", std::move(code)); }

    MemorySettingsStore store;
};

TEST_F(LocalizationTest, LanguageListMatchesReferenceCellByCell) {
    const std::vector<Row> rows = readTsv("languages.tsv");
    ASSERT_EQ(rows.size(), Languages::count) << "reference data missing or incomplete";
    const auto& cases = Languages::allCases();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        ASSERT_EQ(row.size(), 4u) << "row " << i;
        SCOPED_TRACE(row[1]);
        EXPECT_EQ(row[0], std::to_string(i));
        ASSERT_TRUE(casesByName.count(row[1])) << "unknown case name";
        EXPECT_EQ(cases[i], casesByName.at(row[1]));
        EXPECT_EQ(Languages::rawValue(cases[i]), row[2]);
        EXPECT_EQ(Languages::displayName(cases[i]), row[3]);
        EXPECT_EQ(Languages::fromRawValue(row[2]), cases[i]);
    }
}

TEST_F(LocalizationTest, EnglishTextsMatchReferenceCellByCell) {
    const std::vector<Row> rows = readTsv("english.tsv");
    ASSERT_EQ(rows.size(), Translations::keyCount) << "reference data missing or incomplete";
    ASSERT_EQ(accessors().size(), Translations::keyCount);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i].size(), 2u) << "row " << i;
        const std::string& key = rows[i][0];
        SCOPED_TRACE(key);
        // The table's keys come in the reference order.
        EXPECT_EQ(Translations::allKeys()[i].name, key);
        ASSERT_TRUE(accessors().count(key)) << "no accessor for this key";
        EXPECT_EQ(utf8(accessors().at(key)()), rows[i][1]);
    }
    // Explicit English gives the same as no stored language at all.
    storeLanguage("en");
    for (const Row& row : rows)
        EXPECT_EQ(utf8(accessors().at(row[0])()), row[1]) << row[0];
}

// The raw table, looked at directly: a missing text would otherwise hide
// behind the English fall-back.
TEST_F(LocalizationTest, EveryLanguageHasItsOwnCompleteTexts) {
    const auto table = Translations::table();
    ASSERT_EQ(table.size(), Languages::count);
    const Translations::Texts& english = table[0].texts;
    for (std::size_t i = 0; i < table.size(); ++i) {
        const Language language = Languages::allCases()[i];
        SCOPED_TRACE(std::string(Languages::rawValue(language)));
        ASSERT_EQ(table[i].language, language) << "entries out of popup order";

        std::set<std::string> distinct;
        for (const auto& [name, key] : Translations::allKeys()) {
            const char* text = table[i].texts.*key;
            ASSERT_NE(text, nullptr) << name;
            ASSERT_STRNE(text, "") << name;
            distinct.insert(text);
            // A language may share a word with English ("Later" is Dutch too);
            // anything else equal to English is an untranslated text.
            const bool borrowed = language == Language::dutch && key == &Translations::Texts::later;
            if (language != Language::english && !borrowed) {
                EXPECT_STRNE(text, english.*key) << name << " left in English";
            }
        }
        // Two keys sharing one text means one was pasted into the wrong slot.
        EXPECT_EQ(distinct.size(), Translations::keyCount);

        EXPECT_EQ(countOf(table[i].texts.updateMessage, "%@"), 1u);
        for (const char* text : {table[i].texts.preferences, table[i].texts.checkForUpdates}) {
            EXPECT_TRUE(std::string_view(text).ends_with("...")) << text;
            EXPECT_EQ(countOf(text, "\u2026"), 0u) << text;
        }
    }
}

TEST_F(LocalizationTest, EveryStoredCodeReachesItsLanguagesTexts) {
    const QString version = QStringLiteral("9.8.7-test");
    for (Language language : Languages::allCases()) {
        const std::string code(Languages::rawValue(language));
        SCOPED_TRACE(code);
        storeLanguage(code);
        ASSERT_EQ(Languages::current(), language);
        for (const auto& [name, key] : Translations::allKeys()) {
            const QString text = accessors().at(name)();
            EXPECT_FALSE(text.isEmpty()) << name;
            EXPECT_EQ(utf8(text),
                      Translations::table()[static_cast<std::size_t>(language)].texts.*key)
                << name;
        }
        const QString message = L10n::updateMessage(version);
        EXPECT_EQ(message.count(version), 1);
        EXPECT_FALSE(message.contains(QStringLiteral("%@")));
    }
}

// Persian and Urdu write kaf and yeh in their own forms; Arabic in its own.
// A mix-up renders but reads as a misspelling.
TEST_F(LocalizationTest, ArabicScriptLanguagesUseTheirOwnLetterForms) {
    const std::string arabicKaf = "\u0643", arabicYeh = "\u064A";
    const std::string farsiKaf = "\u06A9", farsiYeh = "\u06CC";
    for (const Translations::Entry& entry : Translations::table()) {
        for (const auto& [name, key] : Translations::allKeys()) {
            const std::string_view text = entry.texts.*key;
            if (entry.language == Language::persian || entry.language == Language::urdu) {
                EXPECT_EQ(countOf(text, arabicKaf) + countOf(text, arabicYeh), 0u) << name;
            } else if (entry.language == Language::arabic) {
                EXPECT_EQ(countOf(text, farsiKaf) + countOf(text, farsiYeh), 0u) << name;
            }
        }
    }
}

TEST_F(LocalizationTest, StoredCodeIsMatchedExactlyWithEnglishOtherwise) {
    // Nothing stored.
    EXPECT_EQ(Languages::current(), Language::english);
    EXPECT_EQ(L10n::enabled(), QStringLiteral("Enabled"));
    EXPECT_EQ(L10n::quit(), QStringLiteral("Quit"));

    storeLanguage("ko");
    EXPECT_EQ(Languages::current(), Language::korean);
    EXPECT_EQ(utf8(L10n::quit()), "종료");
    EXPECT_EQ(utf8(L10n::enabled()), "활성화");

    for (const char* code : {"KO", "ko-KR", "", " ko", "ko ", "k", "english", "zz"}) {
        storeLanguage(code);
        EXPECT_EQ(Languages::current(), Language::english) << '"' << code << '"';
        EXPECT_EQ(L10n::quit(), QStringLiteral("Quit")) << '"' << code << '"';
        // Reading never rewrites what is stored.
        EXPECT_EQ(store.string("language"), std::optional<std::string>(code));
    }
    // A code with a trailing NUL is not the code.
    storeLanguage(std::string("ko\0", 3));
    EXPECT_EQ(Languages::current(), Language::english);

    // A value that is not a string reads as absent.
    store.setBool("language", true);
    EXPECT_EQ(Languages::current(), Language::english);
    store.setObject("language", 1.0);
    EXPECT_EQ(L10n::quit(), QStringLiteral("Quit"));

    EXPECT_EQ(Languages::fromRawValue("Ko"), std::nullopt);
    EXPECT_EQ(Languages::fromRawValue("tl"), Language::filipino);
    EXPECT_EQ(Languages::fromRawValue("no"), Language::norwegian);
}

TEST_F(LocalizationTest, UpdateMessagePutsTheVersionInAsPlainText) {
    EXPECT_EQ(L10n::updateMessage(QStringLiteral("2.0.0")),
              QStringLiteral("A new version 2.0.0 is available. Would you like to download it?"));
    // A "%@" brought in by the version is not expanded again.
    EXPECT_EQ(
        L10n::updateMessage(QStringLiteral("%@-beta %@")),
        QStringLiteral("A new version %@-beta %@ is available. Would you like to download it?"));
    // Format-like sequences are no format.
    EXPECT_EQ(
        L10n::updateMessage(QStringLiteral("%1 %s %% %n")),
        QStringLiteral("A new version %1 %s %% %n is available. Would you like to download it?"));
    EXPECT_EQ(L10n::updateMessage(QString()),
              QStringLiteral("A new version  is available. Would you like to download it?"));

    storeLanguage("ja");
    EXPECT_EQ(utf8(L10n::updateMessage(QStringLiteral("2.0.0"))),
              "新しいバージョン 2.0.0 が利用可能です。ダウンロードしますか？");
}

TEST_F(LocalizationTest, LanguageChangeIsSeenAtTheNextAccessAndAnnouncedOnce) {
    storeLanguage("en");
    EXPECT_EQ(L10n::quit(), QStringLiteral("Quit"));

    LanguageNotifier& notifier = LanguageNotifier::instance();
    EXPECT_EQ(&notifier, &LanguageNotifier::instance());
    QSignalSpy spy(&notifier, &LanguageNotifier::languageDidChange);
    // An observer re-reading its texts when told, as the tray menu does.
    QString seenByObserver;
    const auto connection = QObject::connect(&notifier, &LanguageNotifier::languageDidChange,
                                             [&] { seenByObserver = L10n::quit(); });

    storeLanguage("de");
    EXPECT_EQ(L10n::quit(), QStringLiteral("Beenden"));
    EXPECT_EQ(spy.count(), 0) << "storing alone announces nothing";
    notifier.post();
    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(seenByObserver, QStringLiteral("Beenden"));
    QObject::disconnect(connection);
}

TEST_F(LocalizationTest, PopupListAndWritingDirection) {
    const auto& cases = Languages::allCases();
    ASSERT_EQ(cases.size(), 50u);
    EXPECT_EQ(Languages::displayName(cases[0]), "English");
    EXPECT_EQ(Languages::displayName(cases[1]), "한국어");
    EXPECT_EQ(Languages::displayName(cases[2]), "中文");
    EXPECT_EQ(Languages::displayName(cases[49]), "မြန်မာ");
    EXPECT_EQ(std::set<Language>(cases.begin(), cases.end()).size(), 50u);

    // Display names do not follow the interface language.
    storeLanguage("ko");
    EXPECT_EQ(Languages::displayName(Language::german), "Deutsch");

    const std::set<Language> rightToLeft{Language::arabic, Language::hebrew, Language::persian,
                                         Language::urdu};
    for (Language language : cases)
        EXPECT_EQ(Languages::isRightToLeft(language), rightToLeft.count(language) == 1)
            << Languages::rawValue(language);
}

// The English entry answers whatever a table lacks.
TEST_F(LocalizationTest, LookupFallsBackToEnglishForMissingTexts) {
    Translations::Texts english = Translations::table()[0].texts;
    Translations::Texts korean = Translations::table()[1].texts;
    korean.quit = nullptr;
    korean.later = "";
    const std::vector<Translations::Entry> partial{{Language::korean, korean},
                                                   {Language::english, english}};

    EXPECT_STREQ(Translations::lookup(partial, Language::korean, &Translations::Texts::quit),
                 "Quit");
    EXPECT_STREQ(Translations::lookup(partial, Language::korean, &Translations::Texts::later),
                 "Later");
    EXPECT_STREQ(Translations::lookup(partial, Language::korean, &Translations::Texts::enabled),
                 "활성화");
    // A language without an entry at all.
    EXPECT_STREQ(Translations::lookup(partial, Language::japanese, &Translations::Texts::enabled),
                 "Enabled");
    // Nothing to fall back on: an empty text, never a null pointer.
    const std::vector<Translations::Entry> noEnglish{{Language::korean, korean}};
    EXPECT_STREQ(Translations::lookup(noEnglish, Language::korean, &Translations::Texts::quit), "");
    EXPECT_STREQ(Translations::lookup({}, Language::english, &Translations::Texts::quit), "");
}

} // namespace
} // namespace quillmere
