// The settings file: types, merging with other writers, external edits,
// corrupt files, permissions, and surviving SIGKILL mid-write.
#include "engine/Log.h"
#include "platform/JsonSettingsStore.h"
#include "support/LogCapture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <random>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace quillmere {
namespace {

class JsonSettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        path = dir.path() + "/config/quillmere/defaults.json";
    }

    QJsonObject readBack() const {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        QJsonParseError error{};
        QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError);
        return doc.object();
    }
    void writeRaw(const QByteArray& bytes) const {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }

    QTemporaryDir dir;
    QString path;
    testing::LogCapture log;
};

TEST_F(JsonSettingsStoreTest, TypedValuesRoundTripWithTheReadingRules) {
    {
        JsonSettingsStore store(path);
        EXPECT_TRUE(std::holds_alternative<std::monostate>(store.object("scrollSpeed")));
        EXPECT_EQ(store.doubleValue("scrollSpeed"), 0.0);
        EXPECT_FALSE(store.string("language"));
        store.setObject("scrollSpeed", 7.46);
        store.setBool("reverseScroll", false);
        store.setObject("language", std::string("ko"));
        store.setObject("numberText", std::string(" 12.5 "));
        store.setObject("junkText", std::string("12.5px"));
    }
    JsonSettingsStore store(path);                     // a new process reads the same values back
    EXPECT_EQ(store.doubleValue("scrollSpeed"), 7.46); // unrounded
    EXPECT_EQ(store.boolValue("reverseScroll"), false);
    EXPECT_EQ(store.doubleValue("reverseScroll"), 0.0);
    EXPECT_EQ(store.string("language"), "ko");
    EXPECT_EQ(store.doubleValue("language"), 0.0);
    EXPECT_EQ(store.doubleValue("numberText"), 12.5);
    EXPECT_EQ(store.doubleValue("junkText"), 0.0);
    EXPECT_FALSE(store.boolValue("language"));    // a string is not a Boolean
    store.setObject("language", SettingsValue{}); // removal
    EXPECT_FALSE(store.string("language"));
    EXPECT_FALSE(readBack().contains("language"));
    // Non-finite numbers have no JSON form: refused, nothing written.
    store.setObject("scrollSpeed", std::numeric_limits<double>::infinity());
    EXPECT_EQ(readBack().value("scrollSpeed").toDouble(), 7.46);
    EXPECT_EQ(log.lines.size(), 1u);

    // Folder 0700, file 0600.
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(JsonSettingsStoreTest, WritesKeepKeysWrittenByOthersAndExternalEditsAreSeen) {
    JsonSettingsStore mine(path);
    mine.setBool("momentumScroll", false);
    {
        JsonSettingsStore other(path); // another process
        other.setObject("ga_client_id", std::string("ABC"));
    }
    // A hand edit with a value type we do not use: it must survive too.
    QJsonObject edited = readBack();
    edited.insert("handWritten", QJsonObject{{"nested", 1}});
    edited.insert("diagonalScroll", true);
    writeRaw(QJsonDocument(edited).toJson());

    ASSERT_TRUE(QTest::qWaitFor([&] { return mine.boolValue("diagonalScroll") == true; }, 5000));
    EXPECT_EQ(mine.string("ga_client_id"), "ABC");
    EXPECT_TRUE(std::holds_alternative<std::monostate>(mine.object("handWritten")));

    mine.setObject("scrollSpeed", 5.0);
    const QJsonObject after = readBack();
    EXPECT_EQ(after.value("ga_client_id").toString(), "ABC");
    EXPECT_EQ(after.value("handWritten").toObject().value("nested").toInt(), 1);
    EXPECT_EQ(after.value("diagonalScroll").toBool(), true);
    EXPECT_EQ(after.value("momentumScroll").toBool(), false);
    EXPECT_EQ(after.value("scrollSpeed").toDouble(), 5.0);
}

TEST_F(JsonSettingsStoreTest, CorruptFileReadsEmptyIsKeptAsideAndLoggedOnce) {
    writeRaw("{\"scrollSpeed\": 4, \"reverseScroll\": tru");
    JsonSettingsStore store(path);
    EXPECT_EQ(store.doubleValue("scrollSpeed"), 0.0);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_NE(log.lines[0].find("not a valid JSON object"), std::string::npos);
    QStringList aside =
        QDir(QFileInfo(path).absolutePath()).entryList({"defaults.json.corrupt-*"}, QDir::Files);
    ASSERT_EQ(aside.size(), 1);
    QFile kept(QFileInfo(path).absolutePath() + "/" + aside[0]);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("{\"scrollSpeed\": 4, \"reverseScroll\": tru"));

    store.setBool("reverseScroll", true); // a fresh file, the old one untouched
    store.reload();
    EXPECT_EQ(readBack().value("reverseScroll").toBool(), true);
    EXPECT_EQ(log.lines.size(), 1u);

    // JSON that is not an object is not ours either.
    writeRaw("[1, 2, 3]");
    store.reload();
    EXPECT_FALSE(store.boolValue("reverseScroll"));
    EXPECT_EQ(log.lines.size(), 2u);
}

// A file that could not be read (too large, or not a file at all) is never
// written over: changes hold in memory, and the problem is logged once, not
// once per write.
TEST_F(JsonSettingsStoreTest, AFileThatCannotBeReadIsNeverWrittenOver) {
    const QByteArray tooLarge =
        R"({"language": "de", "notes": ")" + QByteArray(4 * 1024 * 1024, 'n') + R"("})";
    const std::function<void()> unreadable[] = {
        [&] { writeRaw(tooLarge); },
        [&] { ASSERT_TRUE(QDir().mkpath(path)); },
    };
    for (const auto& make : unreadable) {
        ASSERT_TRUE(dir.remove() && dir.isValid() && QDir().mkpath(dir.path()));
        make();
        log.lines.clear();
        JsonSettingsStore store(path);
        store.setBool("reverseScroll", false);
        store.setObject("scrollSpeed", 5.0);
        store.setBool("reverseScroll", true);
        EXPECT_EQ(store.boolValue("reverseScroll"), true);
        EXPECT_EQ(store.doubleValue("scrollSpeed"), 5.0);
        EXPECT_EQ(log.lines.size(), 1u);
        QFile file(path);
        if (QFileInfo(path).isDir())
            EXPECT_TRUE(QDir(path).isEmpty());
        else
            EXPECT_TRUE(file.open(QIODevice::ReadOnly) && file.readAll() == tooLarge);
    }
}

TEST_F(JsonSettingsStoreTest, FileSurvivesSigkillDuringTenThousandWrites) {
    {
        JsonSettingsStore store(path);
        store.setObject("language", std::string("de"));
        store.setBool("reverseScroll", false);
    }
    std::mt19937 rng(7);
    long written = 0;
    int kills = 0;
    const QByteArray file = QFile::encodeName(path);
    // How many rounds the 10,000 writes take depends on the machine's load (a
    // writer killed while it starts writes nothing); the limit only stops a
    // writer that never writes.
    for (int round = 0; round < 20000 && written < 10000; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::execl(SETTINGS_WRITER, SETTINGS_WRITER, file.constData(), "counter", "10000",
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::uniform_int_distribution<int>(5, 60)(rng)));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        kills += WIFSIGNALED(status) ? 1 : 0;

        // Whatever moment the kill hit, the file is whole and nothing else is lost.
        const QJsonObject root = readBack();
        ASSERT_EQ(root.value("language").toString(), "de") << "round " << round;
        ASSERT_EQ(root.value("reverseScroll").toBool(true), false);
        if (root.contains("counter"))
            written += 1 + root.value("counter").toInt();
    }
    EXPECT_GT(kills, 10);
    EXPECT_GE(written, 10000) << "the writers should have gone through 10,000 writes";
    // No temporary files are left that later reads could mistake for data.
    JsonSettingsStore store(path);
    EXPECT_EQ(store.string("language"), "de");
}

} // namespace
} // namespace quillmere
