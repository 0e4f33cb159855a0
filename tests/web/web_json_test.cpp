// What the pages receive of an average.

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonObject>

#include "web/web_json.h"

namespace {

// A completed average goes to the pages as measured (before the confidence
// interval) and as validated (as judged), each component with its validity.
TEST(WebJsonTest, AnAverageCarriesItsMeasuredAndItsValidatedMeans) {
  emissions::IntervalAverage a;
  a.resultCount = 1800;
  emissions::ComponentAverage& nox = a.components[size_t(emissions::index(emissions::Component::NOx))];
  nox.count = 1800;
  nox.valid = true;
  nox.measured = 150;
  nox.ci = 40;
  nox.mean = 110;
  const QJsonObject o = web::averageJson(web::shownAverage(a));
  const auto noxOf = [](const QJsonValue& components) {
    for (const QJsonValue& c : components.toArray())
      if (c.toObject().value(QStringLiteral("name")).toString() == QLatin1String("NOx")) return c.toObject();
    return QJsonObject();
  };
  EXPECT_EQ(noxOf(o.value(QStringLiteral("measured"))).value(QStringLiteral("mean")).toDouble(), 150);
  EXPECT_EQ(noxOf(o.value(QStringLiteral("validated"))).value(QStringLiteral("mean")).toDouble(), 110);
  EXPECT_TRUE(noxOf(o.value(QStringLiteral("validated"))).value(QStringLiteral("valid")).toBool());
}

}  // namespace
