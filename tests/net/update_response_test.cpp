#include "net/UpdateDownload.h"
#include "net/UpdateResponse.h"

#include <gtest/gtest.h>

namespace quillmere {
namespace {

using UpdateReplies::decode;

TEST(UpdateReplyDecoding, AcceptsTheFourMembersAndIgnoresOthers) {
    const auto full = decode(R"({"updateAvailable":true,"latestVersion":"1.1.0",
        "downloadUrl":"https://h/Q.dmg","releaseNotes":"Faster","extra":[1,2,{"x":null}]})");
    ASSERT_TRUE(full);
    EXPECT_TRUE(full->updateAvailable);
    EXPECT_EQ(full->latestVersion, "1.1.0");
    EXPECT_EQ(full->downloadUrl, QString("https://h/Q.dmg"));
    EXPECT_EQ(full->releaseNotes, QString("Faster"));

    // Null and absent optional members both mean none; an empty string is kept.
    const auto sparse = decode(
        R"({"updateAvailable":false,"latestVersion":"","downloadUrl":null,"releaseNotes":""})");
    ASSERT_TRUE(sparse);
    EXPECT_FALSE(sparse->updateAvailable);
    EXPECT_FALSE(sparse->downloadUrl);
    ASSERT_TRUE(sparse->releaseNotes);
    EXPECT_TRUE(sparse->releaseNotes->isEmpty());
}

TEST(UpdateReplyDecoding, RefusesAnythingButTheStrictShape) {
    const char* bad[] = {
        "",
        "<html><body><h1>502 Bad Gateway</h1></body></html>",
        R"(["updateAvailable", true])",
        R"({"updateAvailable":true,"latestVersion":"1.1.0")", // truncated
        R"({"latestVersion":"1.1.0"})",                       // missing Boolean
        R"({"updateAvailable":true})",                        // missing version
        R"({"updateAvailable":null,"latestVersion":"1.1.0"})",
        R"({"updateAvailable":"true","latestVersion":"1.1.0"})",
        R"({"updateAvailable":true,"latestVersion":110})",
        R"({"updateAvailable":true,"latestVersion":"1.1.0","downloadUrl":{"href":"x"}})",
        R"({"updateAvailable":true,"latestVersion":"1.1.0","releaseNotes":false})",
    };
    for (const char* body : bad)
        EXPECT_FALSE(decode(body)) << body;
}

TEST(UpdateReplyDecoding, RefusesOversizedBodiesEvenWhenValid) {
    const QByteArray head = R"({"updateAvailable":true,"latestVersion":"1.1.0","releaseNotes":")";
    const QByteArray tail = R"("})";
    const qint64 fits = UpdateReplies::maximumBytes - head.size() - tail.size();
    EXPECT_TRUE(decode(head + QByteArray(fits, 'a') + tail));
    EXPECT_FALSE(decode(head + QByteArray(fits + 1, 'a') + tail));
}

TEST(UpdateReplyDisplay, DropsControlCharactersAndNormalisesLineBreaks) {
    const QString notes = QString::fromUtf8("a\r\nb\rc\n\td\x1b[31me\x7f") + QChar(0) +
                          QChar(0x85) + QString::fromUtf8("<b>é</b>");
    EXPECT_EQ(UpdateReplies::displayText(notes, true),
              QString::fromUtf8("a\nb\nc\n\td[31me<b>é</b>"));
    EXPECT_EQ(UpdateReplies::displayText(notes, false), QString::fromUtf8("abcd[31me<b>é</b>"));
    EXPECT_EQ(UpdateReplies::displayText("1.1.0\n\nInstall now!", false), "1.1.0Install now!");

    // Bidirectional and zero-width controls could reorder or hide text on
    // screen: all of them go too.
    QString hidden = "2.0";
    for (char16_t c : {0x202A, 0x202B, 0x202C, 0x202D, 0x202E, 0x2066, 0x2067, 0x2068, 0x2069,
                       0x200B, 0x200C, 0x200D, 0x200E, 0x200F, 0x061C})
        hidden += QChar(c) + QString("x");
    for (bool keepLineBreaks : {true, false})
        EXPECT_EQ(UpdateReplies::displayText(hidden, keepLineBreaks), "2.0" + QString(15, u'x'));
}

TEST(DownloadFileName, TakesTheLastSegmentAndRefusesUnsafeNames) {
    using UpdateDownload::fileNameFor;
    EXPECT_EQ(fileNameFor(QUrl("https://h/rel/Quillmere-1.1.0.dmg?x=1#f")),
              QString("Quillmere-1.1.0.dmg"));
    EXPECT_EQ(fileNameFor(QUrl("https://h/Quill%20mere.dmg")), QString("Quill mere.dmg"));

    const char* refused[] = {
        "http://h/Quillmere.dmg", // not https
        "file:///tmp/Quillmere.dmg",
        "https:///Quillmere.dmg",
        "https://h/",
        "https://h/a/..",
        "https://h/a/%2e%2e",
        "https://h/a%2Fb.dmg",
        "https://h/a%5Cb.dmg",
        "https://h/a%00b.dmg",
        "https://h/a%0Ab.dmg",
        // A dotfile could replace a shell's or a tool's settings when the
        // Downloads folder is the home folder.
        "https://h/.bashrc",
        "https://h/dir/%2Eprofile",
    };
    for (const char* text : refused)
        EXPECT_FALSE(fileNameFor(QUrl(text))) << text;
}

TEST(DownloadFileName, DestinationIsTheNameInTheFolder) {
    using UpdateDownload::destinationFor;
    EXPECT_EQ(destinationFor(QUrl("https://h/x/Q.dmg"), "/home/u/Downloads"),
              QString("/home/u/Downloads/Q.dmg"));
    EXPECT_EQ(destinationFor(QUrl("https://h/x/Q.dmg"), "/home/u/Downloads/"),
              QString("/home/u/Downloads/Q.dmg"));
    EXPECT_FALSE(destinationFor(QUrl("https://h/x/Q.dmg"), ""));
    // Names that would leave the folder are refused by fileNameFor (above).
}

} // namespace
} // namespace quillmere
