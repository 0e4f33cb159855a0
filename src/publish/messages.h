#pragma once
// What the central places receive of a result and of an event: the JSON
// documents published over MQTT, their topics, and the names used for codes,
// modes and event kinds there and in the central database.
//
// A result:
//   {"seq": 1234, "store": "9f3c...", "site": "plant-7", "analyzer": "boiler-3", "address": 1,
//    "time": "2025-03-15T09:20:30.000Z", "utcOffset": 10800,
//    "mode": "continuous", "fuel": 0, "faultBits": 0, "status": "valid",
//    "channels": {"Tg": {"value": 182.5, "unit": "degC"},
//                 "CO": {"value": null, "unit": "ppm", "code": "overload"}, ...},
//    "emissions": {"unit": "mg/m3", "o2Ref": 3, "CO": 12.5, "NOx": 151.2, "SO2": null, "H2S": 0}}
// An event:
//   {"id": 17, "store": "9f3c...", "site": ..., "analyzer": ..., "time": ..., "utcOffset": ...,
//    "kind": "linkLost", "kindCode": 1, "text": "..."}
// "status" is the one decided when the result was taken, raised by what it
// shows (a fault word, a code in O2): all a result stored before statuses
// were kept has.
// "seq" and "id" are the local database's numbers: a message sent again after
// a reconnect carries the same one. "store" is the identity of the database
// they were numbered in (32 hex digits, all zeros for results of an older
// database): a database begun anew, or found to have lost results, numbers
// under a new one, so "store" and "seq" together never name two different
// results.

#include <QByteArray>
#include <QString>
#include <vector>

#include "data/result_store.h"
#include "core/measurement.h"
#include "publish/service_settings.h"

namespace publish {

// "korvex/<site>/<analyzer>/<leaf>".
QString topic(const AnalyzerIdentity& id, const QString& leaf);
inline QString resultTopic(const AnalyzerIdentity& id) { return topic(id, QStringLiteral("result")); }
inline QString eventTopic(const AnalyzerIdentity& id) { return topic(id, QStringLiteral("event")); }
inline QString statusTopic(const AnalyzerIdentity& id) { return topic(id, QStringLiteral("status")); }

// Why a channel has no number: "overload", "error", "novalue", or
// "invalid" for a value that is not finite; empty when it has one.
QString codeName(int ch, double value);
const char* modeName(WorkMode mode);
// "valid", "outOfRange", "substitute", "maintenance", "fault", "plantOff", "test".
const char* statusName(ResultStatus status);
const char* eventKindName(EventKind kind);

QByteArray resultJson(const StoredResult& stored, const AnalyzerIdentity& id,
                      const std::vector<double>& o2RefByFuel);
QByteArray eventJson(const StoredEvent& event, const AnalyzerIdentity& id);

// ISO 8601 in UTC with milliseconds: "2025-03-15T09:20:30.000Z".
QString utcText(qint64 utcMs);

}  // namespace publish
