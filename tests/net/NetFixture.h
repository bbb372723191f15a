#pragma once
// Common set-up for the network tests: a memory settings store, local HTTPS
// servers standing in for the update and analytics hosts, a gate that
// refuses (and fails the test on) any request to another host, and
// recorders for opened URLs and the update alerts.

#include "TestHttpsServer.h"
#include "engine/MemorySettingsStore.h"
#include "net/NetTesting.h"
#include "net/UpdateChecker.h"

#include <QList>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>

namespace quillmere::nettest {

// An alert the update check asked for: an offer, or the absence of one.
struct ShownAlert {
    std::optional<UpdateChecker::Offer> offer;
};

// Hooks that refuse every request and fail the running test on any request,
// opened URL or alert: in force outside the fixture's tests.
void installLockdown();

class NetFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Installs hooks again after a test changed hooks_.
    void applyHooks();
    // Waits until the shared manager has finished this many replies in
    // total, then lets queued work run.
    bool waitForFinished(int count, int timeoutMs = 10'000);
    bool waitForAlerts(int count, int timeoutMs = 10'000);
    // Runs queued events for a short while (lets a queued alert appear).
    static void settle();

    MemorySettingsStore store;
    std::unique_ptr<TestHttpsServer> updateServer;
    std::unique_ptr<TestHttpsServer> analyticsServer;
    QTemporaryDir downloads;
    NetTesting::Hooks hooks;

    QList<QUrl> requested; // every request the gate saw
    QList<QUrl> opened;
    QList<ShownAlert> alerts;
    // The user's answer to the next update alerts.
    UpdateChecker::Answer answer = UpdateChecker::Answer::later;
    int finishedReplies = 0;
};

} // namespace quillmere::nettest
