// The service without a window keeps the mode it was given: started when the
// analyzer is first ready, started again after the analyzer was lost and is
// back, a single measurement only once. It runs the same start-up as the
// window, and prints a line per notice and per event.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>

#include "service/headless_service.h"
#include "storage/settings_files.h"
#include "support/session_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;
const Bytes kStartContinuous = {0x01, 0x06, 0x00, 0x00, 0x00, 0x02, 0x08, 0x0B};
const Bytes kStartSingle = {0x01, 0x06, 0x00, 0x00, 0x00, 0x01, 0x48, 0x0A};
const Bytes kStop = {0x01, 0x06, 0x00, 0x00, 0x00, 0x03, 0xC9, 0xCB};

class HeadlessServiceTest : public SessionFixture {
 protected:
  void startService(const QStringList& arguments) {
    writeDefaultSettings();
    HeadlessOptions options;
    QString error;
    ASSERT_TRUE(HeadlessOptions::parse(arguments, &options, &error)) << error.toStdString();
    service_ = std::make_unique<HeadlessService>(options, [this](const QString& l) { lines_ << l; });
    service_->start();
  }
  void TearDown() override {
    service_.reset();
    SessionFixture::TearDown();
  }
  Session& serviceSession() const { return *service_->host().session(); }
  void serviceTick(const Frame& reply = {}) {
    if (!reply.empty()) serviceSession().link().receive(reply.data(), int(reply.size()));
    serviceSession().pollTimer()->fire();
  }
  // Start-up against an idle analyzer: stop, its echo, an idle status; the
  // next idle status takes a requested mode over.
  void bringToIdle() {
    serviceTick();
    serviceTick(commandEcho(1, 3));
    serviceTick(statusReply(1, 0));
    serviceTick(statusReply(1, 0));
  }
  Bytes sent() const { return serial_.lastWrite(); }

  std::unique_ptr<HeadlessService> service_;
  QStringList lines_;
};

TEST_F(HeadlessServiceTest, ContinuousByDefaultAndAgainAfterTheAnalyzerWasLostAndFound) {
  startService({QStringLiteral("--headless")});
  bringToIdle();
  EXPECT_EQ(sent(), kStartContinuous);
  EXPECT_EQ(serviceSession().pollCycle().workMode(), WorkMode::Continuous);

  // Silent past the link watch: the cycle stops it; the analyzer comes back idle.
  for (int i = 0; i <= kSilentTicksLimit + 1; ++i) serviceTick();
  EXPECT_EQ(sent(), kStop);
  // The cycle's own stop goes out first, then the mode again.
  serviceTick(commandEcho(1, 3));
  serviceTick(statusReply(1, 0));
  serviceTick(statusReply(1, 0));
  serviceTick(statusReply(1, 0));
  EXPECT_EQ(sent(), kStartContinuous);
  EXPECT_EQ(lines_.filter(QStringLiteral(u"Начато: непрерывное измерение")).size(), 2);
  EXPECT_EQ(lines_.filter(QStringLiteral(u"Прибор не отвечает")).size(), 1);
  // The window's notice of the lost analyzer is a line too.
  EXPECT_EQ(lines_.filter(QStringLiteral(u"ВНИМАНИЕ! СБОЙ В РАБОТЕ ПРИБОРА!")).size(), 1);
  // Every line begins with its time.
  for (const QString& l : lines_) EXPECT_TRUE(l.startsWith(QStringLiteral("2026-12-06 "))) << l.toStdString();
}

TEST_F(HeadlessServiceTest, ASingleMeasurementRunsOnceAndNoneStartsNothing) {
  startService({QStringLiteral("--mode"), QStringLiteral("single")});
  bringToIdle();
  EXPECT_EQ(sent(), kStartSingle);
  emit serviceSession().pollCycle().modeFinished();
  emit serviceSession().pollCycle().analyzerReady();
  EXPECT_EQ(serviceSession().pollCycle().modeRequest(), ModeRequest::None);

  HeadlessOptions none;
  QString error;
  ASSERT_TRUE(HeadlessOptions::parse({QStringLiteral("--mode"), QStringLiteral("none")}, &none, &error));
  EXPECT_EQ(none.mode, ModeRequest::None);
  EXPECT_TRUE(none.modeGiven);
  EXPECT_FALSE(HeadlessOptions::parse({QStringLiteral("--mode"), QStringLiteral("fast")}, &none, &error));
  EXPECT_EQ(error, QStringLiteral(u"Неизвестный режим: fast"));
  EXPECT_FALSE(HeadlessOptions::parse({QStringLiteral("--dir")}, &none, &error));
  EXPECT_FALSE(HeadlessOptions::parse({QStringLiteral("--dir"), inDir(QStringLiteral("none"))}, &none, &error));
}

TEST_F(HeadlessServiceTest, StartUpProblemsArePrintedAndLoggedAsEvents) {
  // No settings files: reset with defaults, told on a line and in the event log.
  HeadlessOptions options;
  service_ = std::make_unique<HeadlessService>(options, [this](const QString& l) { lines_ << l; });
  service_->start();
  EXPECT_EQ(lines_.filter(QStringLiteral(u"Файл конфигурации отсутствует! Сброс конфигурации!")).size(), 1);
  QVector<StoredEvent> settingsEvents;
  for (const StoredEvent& e : serviceSession().store().events(0, std::numeric_limits<qint64>::max()))
    if (e.kind == EventKind::SettingsProblem) settingsEvents << e;
  ASSERT_EQ(settingsEvents.size(), 1);
  EXPECT_EQ(settingsEvents[0].text, QStringLiteral(u"Файл конфигурации отсутствует! Сброс конфигурации!"));
  service_->stop();
  EXPECT_TRUE(lines_.last().endsWith(QStringLiteral(u"Остановлено")));
}

}  // namespace

namespace {

// The web view of a line of two analyzers: both on the overview under their
// names, each with its own history, and a result of the second one shown as
// its own.
TEST_F(HeadlessServiceTest, TheWebViewShowsEveryAnalyzerOfTheLineUnderItsName) {
  writeDefaultSettings();
  QString error;
  ASSERT_TRUE(SettingsFiles().addLineAnalyzer(2, 9, &error)) << error.toStdString();
  QFile ini(inDir(QStringLiteral("korvex-service.ini")));
  ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
  ini.write("[Service]\nMode=none\n[Analyzer]\nSite=plant-7\nName=boiler-3\n[Web]\nEnabled=true\nPort=0\n");
  ini.close();
  startService({QStringLiteral("--headless")});
  ASSERT_TRUE(service_->web().service().isRunning()) << lines_.join('\n').toStdString();
  ASSERT_EQ(serviceSession().analyzerCount(), 2);

  Result r;
  r.utcMs = now().toMSecsSinceEpoch();
  r.utcOffset = now().offsetFromUtc();
  r.values[channel::Tg] = 222;
  emit serviceSession().analyzer(1)->pollCycle().resultTaken(r);
  QCoreApplication::processEvents();

  const std::vector<web::LiveSnapshot> all = service_->web().service().hub().all();
  ASSERT_EQ(all.size(), size_t(2));
  EXPECT_EQ(all[0].id, QStringLiteral("plant-7-boiler-3"));
  EXPECT_EQ(all[1].id, QStringLiteral("plant-7-boiler-3-2"));
  EXPECT_EQ(all[1].address, 9);
  EXPECT_FALSE(all[0].last.has_value());
  ASSERT_TRUE(all[1].last.has_value());
  EXPECT_EQ(all[1].last->result.values[channel::Tg], 222);
  EXPECT_EQ(all[1].last->seq, 1);
}

}  // namespace
