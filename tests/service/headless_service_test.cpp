// The service without a window keeps the mode it was given: started when the
// analyzer is first ready, started again after the analyzer was lost and is
// back, a single measurement only once. It runs the same start-up as the
// window, and prints a line per notice and per event.

#include <gtest/gtest.h>

#include "service/headless_service.h"
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
