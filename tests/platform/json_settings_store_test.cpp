// The settings file: types, merging with other writers, external edits,
// corrupt and unreadable files, permissions, and surviving SIGKILL mid-write.
#include "platform/JsonSettingsStore.h"
#include "support/LogCapture.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <random>
#include <sys/prctl.h>
#include <sys/stat.h>

namespace quillmere {
namespace {

class JsonSettingsStoreTest : public ::testing::Test {
protected:
    QJsonObject readBack() const {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
        return doc.object();
    }
    void writeRaw(const QByteArray& bytes) const {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }
    static mode_t modeOf(const QString& file) {
        struct stat st {};
        return ::stat(QFile::encodeName(file).constData(), &st) == 0 ? st.st_mode & 0777 : 0;
    }

    QTemporaryDir dir;
    const QString path = dir.path() + "/config/quillmere/defaults.json";
    testing::LogCapture log;
};

TEST_F(JsonSettingsStoreTest, TypedValuesRoundTripWithTheReadingRules) {
    {
        JsonSettingsStore store(path);
        store.setObject("scrollSpeed", 7.46);
        store.setBool("reverseScroll", false);
        store.setObject("language", std::string("ko"));
        store.setObject("numberText", std::string(" 12.5 "));
        store.setObject("junkText", std::string("12.5px"));
    }
    JsonSettingsStore store(path);                     // a new process reads the same values back
    EXPECT_EQ(store.doubleValue("scrollSpeed"), 7.46); // unrounded
    EXPECT_EQ(store.boolValue("reverseScroll"), false);
    EXPECT_EQ(store.string("language"), "ko");
    EXPECT_FALSE(store.boolValue("language")); // a string is not a Boolean
    EXPECT_EQ(store.doubleValue("numberText"), 12.5);
    EXPECT_EQ(store.doubleValue("junkText"), 0.0);
    store.setObject("language", SettingsValue{}); // removal
    EXPECT_FALSE(readBack().contains("language"));
    // Non-finite numbers have no JSON form: refused with one line, nothing written.
    store.setObject("scrollSpeed", std::numeric_limits<double>::infinity());
    EXPECT_EQ(readBack().value("scrollSpeed").toDouble(), 7.46);
    EXPECT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(modeOf(path), 0600u);
    EXPECT_EQ(modeOf(QFileInfo(path).absolutePath()), 0700u);
}

TEST_F(JsonSettingsStoreTest, WritesKeepKeysWrittenByOthersAndExternalEditsAreSeen) {
    JsonSettingsStore mine(path);
    mine.setBool("momentumScroll", false);
    JsonSettingsStore(path).setObject("ga_client_id", std::string("ABC")); // another process
    mine.setObject("scrollSpeed", 5.0); // before any change notice came in
    // A hand edit with a value type we do not use: seen, and kept by later writes.
    QJsonObject edited = readBack();
    EXPECT_EQ(edited.value("ga_client_id").toString(), "ABC");
    edited.insert("handWritten", QJsonObject{{"nested", 1}});
    edited.insert("diagonalScroll", true);
    writeRaw(QJsonDocument(edited).toJson());
    ASSERT_TRUE(QTest::qWaitFor([&] { return mine.boolValue("diagonalScroll") == true; }, 5000));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(mine.object("handWritten")));
    mine.setBool("reverseScroll", false);
    edited.insert("reverseScroll", false);
    EXPECT_EQ(readBack(), edited);
}

// A file that is no JSON object is kept aside and a fresh one started; one
// that cannot be read (too large, a folder) is never written over, changes
// then holding in memory. Either is logged once, not once per write.
TEST_F(JsonSettingsStoreTest, BadFilesAreKeptAsideOrLeftAloneAndLoggedOnce) {
    const QByteArray tooLarge =
        R"({"language": "de", "notes": ")" + QByteArray(4 * 1024 * 1024, 'n') + R"("})";
    const QByteArray folder; // stands for a folder in place of the file
    for (const QByteArray& bad : {QByteArray("{\"scrollSpeed\": 4, \"reverseScroll\": tru"),
                                  QByteArray("[1, 2, 3]"), tooLarge, folder}) {
        SCOPED_TRACE(bad.left(20).toStdString());
        ASSERT_TRUE(dir.remove() && QDir().mkpath(dir.path()));
        bad == folder ? void(QDir().mkpath(path)) : writeRaw(bad);
        log.lines.clear();
        JsonSettingsStore store(path);
        EXPECT_EQ(store.doubleValue("scrollSpeed"), 0.0);
        store.setBool("reverseScroll", true);
        store.setObject("scrollSpeed", 5.0);
        EXPECT_EQ(store.doubleValue("scrollSpeed"), 5.0);
        EXPECT_EQ(log.lines.size(), 1u);
        const QDir config = QFileInfo(path).absoluteDir();
        const QStringList aside = config.entryList({"defaults.json.corrupt-*"}, QDir::Files);
        const bool keptAside = bad != tooLarge && bad != folder;
        EXPECT_EQ(aside.size(), keptAside ? 1 : 0);
        QFile file(keptAside ? config.filePath(aside.value(0)) : path);
        EXPECT_TRUE(bad == folder ? QDir(path).isEmpty()
                                  : file.open(QIODevice::ReadOnly) && file.readAll() == bad);
        if (keptAside) {
            EXPECT_EQ(readBack(), QJsonObject({{"reverseScroll", true}, {"scrollSpeed", 5.0}}));
        }
    }
}

// A writer process counts a key up and is killed after a random number of
// its writes: whenever the kill lands, the file is whole (also while it is
// being replaced), no other key is lost and the count never goes back. Each
// round waits for the count in the file, never for a time.
TEST_F(JsonSettingsStoreTest, FileSurvivesSigkillAtRandomWrites) {
    JsonSettingsStore(path).setObject("language", std::string("de"));
    std::mt19937 rng(7);
    int count = 0;
    const auto counted = [&] {
        const QJsonObject root = readBack();
        EXPECT_EQ(root.value("language").toString(), "de");
        EXPECT_GE(root.value("counter").toInt(), count);
        return count = root.value("counter").toInt();
    };
    for (int round = 0; round < 50; ++round) {
        SCOPED_TRACE(round);
        const int target = count + std::uniform_int_distribution<int>(1, 20)(rng);
        QProcess writer;
        writer.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        writer.start(QStringLiteral(SETTINGS_WRITER), {path, QStringLiteral("counter")});
        ASSERT_TRUE(QTest::qWaitFor([&] { return counted() >= target; }, 120'000));
        writer.kill(); // SIGKILL
        ASSERT_TRUE(writer.waitForFinished(60'000));
        counted();
        ASSERT_FALSE(HasFailure());
    }
}

} // namespace
} // namespace quillmere
