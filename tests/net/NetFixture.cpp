#include "NetFixture.h"

#include "engine/ScrollConfig.h"
#include "net/Network.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QPushButton>
#include <QTest>

namespace quillmere::nettest {

void NetFixture::SetUp() {
    ASSERT_TRUE(TestHttpsServer::certificateReady())
        << "openssl could not make the test certificate";
    ScrollConfig::setDefaults(&store);
    updateServer = std::make_unique<TestHttpsServer>();
    analyticsServer = std::make_unique<TestHttpsServer>();
    ASSERT_TRUE(updateServer->isListening());
    ASSERT_TRUE(analyticsServer->isListening());
    ASSERT_TRUE(downloads.isValid());

    hooks.updateOrigin = updateServer->origin();
    hooks.analyticsOrigin = analyticsServer->origin();
    hooks.sslConfiguration = TestHttpsServer::clientConfiguration();
    hooks.downloadsFolder = downloads.path();
    hooks.requestGate = [this](const QNetworkRequest& request) {
        requested.append(request.url());
        const bool local = request.url().host() == QLatin1String("127.0.0.1");
        EXPECT_TRUE(local) << "request to a non-local host: "
                           << request.url().toString().toStdString();
        return local;
    };
    hooks.urlOpener = [this](const QUrl& url) { opened.append(url); };
    hooks.messageBoxHook = [this](QMessageBox& box) {
        ShownBox shown;
        shown.windowTitle = box.windowTitle();
        shown.text = box.text();
        shown.informativeText = box.informativeText();
        for (QAbstractButton* button : box.buttons())
            shown.buttons.append(button->text());
        shown.defaultButton = box.defaultButton() ? box.defaultButton()->text() : QString();
        shown.escapeButton = box.escapeButton() ? box.escapeButton()->text() : QString();
        shown.allLabelsPlain = true;
        for (const QLabel* label : box.findChildren<QLabel*>()) {
            if (!label->text().isEmpty() && label->textFormat() != Qt::PlainText)
                shown.allLabelsPlain = false;
        }
        boxes.append(shown);

        QAbstractButton* target = box.escapeButton();
        for (QAbstractButton* button : box.buttons()) {
            if (button->text() == pressButton)
                target = button;
        }
        // Pressed from inside the box's own modal loop, as a user would.
        QPointer<QAbstractButton> guarded = target;
        QMetaObject::invokeMethod(
            &box,
            [guarded] {
                if (guarded)
                    guarded->click();
            },
            Qt::QueuedConnection);
    };
    applyHooks();
    QObject::connect(&Network::manager(), &QNetworkAccessManager::finished, updateServer.get(),
                     [this] { ++finishedReplies; });
}

void NetFixture::TearDown() {
    // Replies still running (stalled servers) end here, not in the next test.
    for (QNetworkReply* reply : Network::manager().findChildren<QNetworkReply*>())
        reply->abort();
    settle();
    installLockdown();
    ScrollConfig::setDefaults(nullptr);
    updateServer.reset();
    analyticsServer.reset();
    settle();
}

void installLockdown() {
    NetTesting::Hooks hooks;
    hooks.requestGate = [](const QNetworkRequest& request) {
        ADD_FAILURE() << "request outside a network test: "
                      << request.url().toString().toStdString();
        return false;
    };
    hooks.urlOpener = [](const QUrl& url) {
        ADD_FAILURE() << "URL opened outside a network test: " << url.toString().toStdString();
    };
    hooks.messageBoxHook = [](QMessageBox& box) {
        ADD_FAILURE() << "message box outside a network test: " << box.text().toStdString();
        QMetaObject::invokeMethod(
            &box, [&box] { box.done(0); }, Qt::QueuedConnection);
    };
    NetTesting::install(std::move(hooks));
}

void NetFixture::applyHooks() {
    NetTesting::install(hooks);
}

bool NetFixture::waitForFinished(int count, int timeoutMs) {
    const bool done = waitUntil([&] { return finishedReplies >= count; }, timeoutMs);
    settle();
    return done;
}

bool NetFixture::waitForBoxes(int count, int timeoutMs) {
    return waitUntil([&] { return boxes.size() >= count; }, timeoutMs);
}

void NetFixture::settle() {
    QTest::qWait(30);
}

} // namespace quillmere::nettest
