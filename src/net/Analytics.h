#pragma once
// Anonymous usage events over the GA4 Measurement Protocol: one POST per
// event, fire-and-forget, never waiting for or reading the reply.

#include <QJsonObject>
#include <QString>

namespace quillmere::Analytics {

// Sends one event; the parameters are the caller's (string values), to
// which "session_id" and "engagement_time_msec" are added.
void send(const QString& name, const QJsonObject& params = {});

// Starts (or restarts) the repeating "user_engagement" heartbeat.
void startHeartbeat(double intervalSeconds);

} // namespace quillmere::Analytics
