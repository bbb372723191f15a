// The language list and interface texts: checked cell by cell against the
// reference data, with every language complete and its own, lookup from the
// stored code and the version substitution. (The change notice is checked
// where the preferences window sends it.)

#include "support/StoreTest.h"

#include "ui/Localization.h"
#include "ui/Translations.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace quillmere::testing {
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

// updateMessage with "%@" as the version hands back its text as it stands.
QString updateMessageAsIs() {
    return L10n::updateMessage(QStringLiteral("%@"));
}

using LocalizationTest = StoreTest;

// The reference data match; each stored code reaches its own complete,
// translated texts through every accessor, and its direction; anything else reads as English; the
// version goes into the update message as plain text.
TEST_F(LocalizationTest, ReferenceDataMatchesAndEveryStoredCodeReachesItsTexts) {
    using namespace L10n;
    // Every public text accessor, in the order of Translations::allKeys().
    QString (*const accessors[])() = {
        enabled,         preferences,     checkForUpdates,   quit,           subtitle,
        scrollDirection, verticalScroll,  momentumScroll,    diagonalScroll, horizontalScroll,
        behavior,        reverseScroll,   smoothScroll,      scrollSpeed,    languageLabel,
        launchAtLogin,   updateAvailable, updateMessageAsIs, noUpdateTitle,  noUpdateMessage,
        download,        later,           visitWebsite};
    const std::vector<Row> english = readTsv("english.tsv");
    ASSERT_EQ(english.size(), Translations::keyCount) << "reference data missing or incomplete";
    ASSERT_EQ(std::size(accessors), Translations::keyCount);
    for (std::size_t k = 0; k < english.size(); ++k) {
        EXPECT_EQ(Translations::allKeys()[k].name, english[k].at(0));
        EXPECT_EQ(Translations::table()[0].texts.*Translations::allKeys()[k].key, english[k].at(1));
    }
    const std::vector<Row> languages = readTsv("languages.tsv");
    ASSERT_EQ(languages.size(), Languages::count) << "reference data missing or incomplete";
    const auto table = Translations::table();
    ASSERT_EQ(table.size(), Languages::count);
    const std::set<std::string> rightToLeft{"ar", "he", "fa", "ur"};
    for (std::size_t i = 0; i < languages.size(); ++i) {
        const std::string& code = languages[i].at(2);
        SCOPED_TRACE(code);
        const Language language = Languages::allCases()[i];
        EXPECT_EQ(Languages::rawValue(language), code);
        EXPECT_EQ(Languages::displayName(language), languages[i].at(3));
        store.setObject("language", code);
        ASSERT_EQ(Languages::current(), language);
        EXPECT_EQ(Languages::isRightToLeft(language), rightToLeft.count(code) == 1);
        // Persian and Urdu write kaf and yeh in their own forms, Arabic in
        // its own: a mix-up renders but reads as a misspelling.
        const bool farsiForms = language == Language::persian || language == Language::urdu;
        const auto [kaf, yeh] = farsiForms ? std::pair{"\u0643", "\u064A"}  // Arabic's
                                           : std::pair{"\u06A9", "\u06CC"}; // Persian's
        const bool arabicScript = farsiForms || language == Language::arabic;
        std::set<std::string> distinct;
        for (std::size_t k = 0; k < Translations::keyCount; ++k) {
            const auto& [name, key] = Translations::allKeys()[k];
            // Looked at directly too: a missing text would otherwise hide
            // behind the English fall-back.
            const char* text = table[i].texts.*key;
            ASSERT_TRUE(text && *text) << name;
            EXPECT_EQ(accessors[k]().toStdString(), text) << name;
            distinct.insert(text);
            // A language may share a word with English ("Later" is Dutch too);
            // anything else equal to English is an untranslated text.
            const bool borrowed = language == Language::dutch && key == &Translations::Texts::later;
            EXPECT_TRUE(language == Language::english || borrowed ||
                        std::string_view(text) != table[0].texts.*key)
                << name << " left in English";
            EXPECT_FALSE(arabicScript &&
                         (QString(text).contains(kaf) || QString(text).contains(yeh)))
                << name;
        }
        // Two keys sharing one text means one was pasted into the wrong slot.
        EXPECT_EQ(distinct.size(), Translations::keyCount);
        EXPECT_EQ(QString(table[i].texts.updateMessage).count("%@"), 1);
    }
    // Only an exact code counts, English otherwise (a value that is not a
    // string reads as absent); reading never rewrites what is stored.
    using namespace std::string_literals;
    const SettingsValue others[] = {true, 1.0, "KO"s, "ko "s, "english"s, "ko\0"s};
    for (const SettingsValue& value : others) {
        store.setObject("language", value);
        EXPECT_EQ(quit(), QStringLiteral("Quit"));
        EXPECT_EQ(store.object("language"), value);
    }
    // A "%@" the version brings is not expanded again; format-like sequences
    // are no format.
    const QString tail = QStringLiteral(" is available. Would you like to download it?");
    for (const QString version : {"2.0.0", "%@-beta %@", "%1 %s %% %n", ""})
        EXPECT_EQ(updateMessage(version), "A new version " + version + tail);
}

} // namespace
} // namespace quillmere::testing
