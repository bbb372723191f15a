// The language list and interface texts: checked cell by cell against the
// reference data, then for completeness of all 50 languages, lookup from the
// stored code and the version substitution. (The change notice is checked
// where the preferences window sends it.)

#include "engine/MemorySettingsStore.h"
#include "engine/ScrollConfig.h"
#include "ui/Localization.h"
#include "ui/Translations.h"

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

using Row = std::vector<std::string>;

// The rows of a tab-separated file in tests/ui/data, header line dropped.
std::vector<Row> readTsv(const std::string& name) {
    std::ifstream in(std::string(QUILLMERE_UI_TEST_DATA_DIR) + "/" + name);
    std::vector<Row> rows;
    std::string line;
    for (std::getline(in, line); std::getline(in, line);) {
        std::stringstream cells(line);
        Row& row = rows.emplace_back();
        for (std::string cell; std::getline(cells, cell, '\t');)
            row.push_back(cell);
    }
    return rows;
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
const std::map<std::string, std::function<QString()>> accessors{
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

class LocalizationTest : public ::testing::Test {
protected:
    void SetUp() override { ScrollConfig::setDefaults(&store); }
    void TearDown() override { ScrollConfig::setDefaults(nullptr); }
    void storeLanguage(std::string code) { store.setObject("language", std::move(code)); }

    MemorySettingsStore store;
};

TEST_F(LocalizationTest, LanguageListAndEnglishTextsMatchTheReferenceCellByCell) {
    const std::vector<Row> languages = readTsv("languages.tsv");
    ASSERT_EQ(languages.size(), Languages::count) << "reference data missing or incomplete";
    for (std::size_t i = 0; i < languages.size(); ++i) {
        ASSERT_EQ(languages[i].size(), 4u) << "row " << i;
        const Language language = Languages::allCases()[i];
        EXPECT_EQ(Languages::rawValue(language), languages[i][2]);
        EXPECT_EQ(Languages::displayName(language), languages[i][3]);
        EXPECT_EQ(Languages::fromRawValue(languages[i][2]), language);
    }
    const std::vector<Row> english = readTsv("english.tsv");
    ASSERT_EQ(english.size(), Translations::keyCount) << "reference data missing or incomplete";
    for (std::size_t i = 0; i < english.size(); ++i) {
        ASSERT_EQ(english[i].size(), 2u) << "row " << i;
        const std::string& key = english[i][0];
        EXPECT_EQ(Translations::allKeys()[i].name, key); // the table's keys in reference order
        ASSERT_TRUE(accessors.count(key)) << key;
        EXPECT_EQ(accessors.at(key)().toStdString(), english[i][1]) << key;
    }
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
        for (const char* text : {table[i].texts.preferences, table[i].texts.checkForUpdates})
            EXPECT_TRUE(std::string_view(text).ends_with("...") && !countOf(text, "\u2026"))
                << text;
    }
}

// Persian and Urdu write kaf and yeh in their own forms; Arabic in its own.
// A mix-up renders but reads as a misspelling.
TEST_F(LocalizationTest, ArabicScriptLanguagesUseTheirOwnLetterForms) {
    for (const Translations::Entry& entry : Translations::table()) {
        const bool farsiForms =
            entry.language == Language::persian || entry.language == Language::urdu;
        if (!farsiForms && entry.language != Language::arabic)
            continue;
        for (const auto& [name, key] : Translations::allKeys()) {
            const std::string_view text = entry.texts.*key;
            const auto [kaf, yeh] = farsiForms ? std::pair{"\u0643", "\u064A"}  // Arabic's
                                               : std::pair{"\u06A9", "\u06CC"}; // Persian's
            EXPECT_EQ(countOf(text, kaf) + countOf(text, yeh), 0u) << name;
        }
    }
}

// Each stored code reaches its own texts, its direction and the version in
// its update message; display names stay in their own language.
TEST_F(LocalizationTest, EveryStoredCodeReachesItsLanguagesTexts) {
    const std::set<std::string_view> rightToLeft{"ar", "he", "fa", "ur"};
    for (Language language : Languages::allCases()) {
        const std::string code(Languages::rawValue(language));
        SCOPED_TRACE(code);
        storeLanguage(code);
        ASSERT_EQ(Languages::current(), language);
        EXPECT_EQ(Languages::isRightToLeft(language), rightToLeft.count(code) == 1);
        for (const auto& [name, key] : Translations::allKeys())
            EXPECT_EQ(accessors.at(name)().toStdString(),
                      Translations::table()[static_cast<std::size_t>(language)].texts.*key)
                << name;
        EXPECT_EQ(L10n::updateMessage("9.8.7").count("9.8.7"), 1);
    }
    EXPECT_EQ(Languages::displayName(Language::german), "Deutsch");
}

TEST_F(LocalizationTest, StoredCodeIsMatchedExactlyWithEnglishOtherwise) {
    EXPECT_EQ(Languages::current(), Language::english); // nothing stored
    for (const char* code : {"KO", "ko-KR", "", " ko", "ko ", "k", "english", "zz"}) {
        storeLanguage(code);
        EXPECT_EQ(Languages::current(), Language::english) << '"' << code << '"';
        EXPECT_EQ(L10n::quit(), QStringLiteral("Quit")) << '"' << code << '"';
        // Reading never rewrites what is stored.
        EXPECT_EQ(store.string("language"), std::optional<std::string>(code));
    }
    storeLanguage(std::string("ko\0", 3)); // a trailing NUL is not the code
    EXPECT_EQ(Languages::current(), Language::english);
    // A value that is not a string reads as absent.
    store.setBool("language", true);
    EXPECT_EQ(Languages::current(), Language::english);
    store.setObject("language", 1.0);
    EXPECT_EQ(L10n::quit(), QStringLiteral("Quit"));
}

TEST_F(LocalizationTest, UpdateMessagePutsTheVersionInAsPlainText) {
    const QString tail = QStringLiteral(" is available. Would you like to download it?");
    // A "%@" the version brings is not expanded again; format-like sequences are no format.
    for (const QString version : {"2.0.0", "%@-beta %@", "%1 %s %% %n", ""})
        EXPECT_EQ(L10n::updateMessage(version), "A new version " + version + tail);
    storeLanguage("ja");
    EXPECT_EQ(L10n::updateMessage(QStringLiteral("2.0.0")).toStdString(),
              "新しいバージョン 2.0.0 が利用可能です。ダウンロードしますか？");
}

// The English entry answers whatever a table lacks.
TEST_F(LocalizationTest, LookupFallsBackToEnglishForMissingTexts) {
    using Translations::lookup, Translations::Texts;
    Translations::Texts korean = Translations::table()[1].texts;
    korean.quit = nullptr;
    korean.later = "";
    const std::vector<Translations::Entry> partial{
        {Language::korean, korean}, {Language::english, Translations::table()[0].texts}};
    EXPECT_STREQ(lookup(partial, Language::korean, &Texts::quit), "Quit");
    EXPECT_STREQ(lookup(partial, Language::korean, &Texts::later), "Later");
    EXPECT_STREQ(lookup(partial, Language::korean, &Texts::enabled), "활성화");
    EXPECT_STREQ(lookup(partial, Language::japanese, &Texts::enabled),
                 "Enabled"); // no entry at all
    // Nothing to fall back on: an empty text, never a null pointer.
    EXPECT_STREQ(lookup(std::vector{partial[0]}, Language::korean, &Texts::quit), "");
    EXPECT_STREQ(lookup({}, Language::english, &Texts::quit), "");
}

} // namespace
} // namespace quillmere
