// What a result and an event look like on the wire.

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "emissions/conversion.h"
#include "publish/messages.h"
#include "publish_support.h"

using namespace publish;

TEST(MessagesTest, ResultCarriesTimeValuesCodesAndEmissionsAtTheReferenceO2) {
  Result r = publish_test::boilerResult(0);
  r.utcMs = 1742030430123;  // 2025-03-15 09:20:30.123 UTC
  r.values[channel::CO] = kCodeOverload;
  r.values[channel::SO2] = kCodeError;
  r.values[channel::H2S] = kCodeNoValue;
  r.values[channel::Qa] = std::nan("");
  r.faultBits = 0x0005;
  r.address = 7;
  r.fuelIndex = 1;
  const std::vector<double> refs = {3.0, 6.0};
  const AnalyzerIdentity id{QStringLiteral("plant-7"), QStringLiteral("boiler-3"), 7};

  const QString store = QStringLiteral("0123456789abcdef0123456789abcdef");
  const QJsonObject o = QJsonDocument::fromJson(resultJson({42, r, true, store}, id, refs)).object();
  EXPECT_EQ(o.value(QStringLiteral("seq")).toInteger(), 42);
  EXPECT_EQ(o.value(QStringLiteral("store")).toString(), store);
  EXPECT_EQ(o.value(QStringLiteral("time")).toString(), QStringLiteral("2025-03-15T09:20:30.123Z"));
  EXPECT_EQ(o.value(QStringLiteral("utcOffset")).toInt(), 10800);
  EXPECT_EQ(o.value(QStringLiteral("site")).toString(), QStringLiteral("plant-7"));
  EXPECT_EQ(o.value(QStringLiteral("analyzer")).toString(), QStringLiteral("boiler-3"));
  EXPECT_EQ(o.value(QStringLiteral("address")).toInt(), 7);
  EXPECT_EQ(o.value(QStringLiteral("faultBits")).toInt(), 5);
  EXPECT_EQ(o.value(QStringLiteral("mode")).toString(), QStringLiteral("continuous"));
  // The status decided when it was taken, raised by what it shows: a result
  // stored before statuses were kept gets the one its fault word shows.
  const auto statusOf = [&](const Result& x, bool hasStatus) {
    return QJsonDocument::fromJson(resultJson({43, x, hasStatus, store}, id, refs))
        .object()
        .value(QStringLiteral("status"))
        .toString();
  };
  EXPECT_EQ(o.value(QStringLiteral("status")).toString(), QStringLiteral("fault"));
  EXPECT_EQ(statusOf(r, false), QStringLiteral("fault"));
  Result clean = publish_test::boilerResult(0);
  EXPECT_EQ(statusOf(clean, false), QStringLiteral("valid"));
  clean.status = ResultStatus::Maintenance;
  EXPECT_EQ(statusOf(clean, true), QStringLiteral("maintenance"));

  const QJsonObject ch = o.value(QStringLiteral("channels")).toObject();
  ASSERT_EQ(ch.size(), kChannelCount);
  EXPECT_EQ(ch.value(QStringLiteral("Tg")).toObject().value(QStringLiteral("value")).toDouble(), 180.0);
  EXPECT_EQ(ch.value(QStringLiteral("Tg")).toObject().value(QStringLiteral("unit")).toString(), QStringLiteral("degC"));
  EXPECT_FALSE(ch.value(QStringLiteral("Tg")).toObject().contains(QStringLiteral("code")));
  EXPECT_EQ(ch.value(QStringLiteral("O2")).toObject().value(QStringLiteral("value")).toDouble(), 5.0);
  const QJsonObject co = ch.value(QStringLiteral("CO")).toObject();
  EXPECT_TRUE(co.value(QStringLiteral("value")).isNull());
  EXPECT_EQ(co.value(QStringLiteral("code")).toString(), QStringLiteral("overload"));
  EXPECT_EQ(co.value(QStringLiteral("unit")).toString(), QStringLiteral("ppm"));
  EXPECT_EQ(ch.value(QStringLiteral("SO2")).toObject().value(QStringLiteral("code")).toString(), QStringLiteral("error"));
  EXPECT_EQ(ch.value(QStringLiteral("H2S")).toObject().value(QStringLiteral("code")).toString(), QStringLiteral("novalue"));
  EXPECT_EQ(ch.value(QStringLiteral("Qa")).toObject().value(QStringLiteral("code")).toString(), QStringLiteral("invalid"));

  // mg/m3 at the O2 of fuel row 1 (6 %), NOx as NO2; none where a code stands.
  const QJsonObject em = o.value(QStringLiteral("emissions")).toObject();
  EXPECT_EQ(em.value(QStringLiteral("o2Ref")).toDouble(), 6.0);
  EXPECT_EQ(em.value(QStringLiteral("unit")).toString(), QStringLiteral("mg/m3"));
  const double factor = (21.0 - 6.0) / (21.0 - 5.0);
  EXPECT_NEAR(em.value(QStringLiteral("NOx")).toDouble(), (100.0 + 5.0) * emissions::kMgPerPpmNO2 * factor, 1e-9);
  EXPECT_TRUE(em.value(QStringLiteral("CO")).isNull());
  EXPECT_TRUE(em.value(QStringLiteral("SO2")).isNull());
  EXPECT_TRUE(em.value(QStringLiteral("H2S")).isNull());

  EXPECT_EQ(resultTopic(id), QStringLiteral("korvex/plant-7/boiler-3/result"));
  EXPECT_EQ(statusTopic(id), QStringLiteral("korvex/plant-7/boiler-3/status"));

  const StoredEvent e{17, 1742030430123, 10800, EventKind::LinkLost, QStringLiteral("Нет связи \"COM2\""), store};
  const QJsonObject ev = QJsonDocument::fromJson(eventJson(e, id)).object();
  EXPECT_EQ(ev.value(QStringLiteral("id")).toInteger(), 17);
  EXPECT_EQ(ev.value(QStringLiteral("store")).toString(), store);
  EXPECT_EQ(ev.value(QStringLiteral("kind")).toString(), QStringLiteral("linkLost"));
  EXPECT_EQ(ev.value(QStringLiteral("kindCode")).toInt(), 1);
  EXPECT_EQ(ev.value(QStringLiteral("text")).toString(), e.text);
  EXPECT_EQ(ev.value(QStringLiteral("time")).toString(), QStringLiteral("2025-03-15T09:20:30.123Z"));
}
