// The service without a window keeps the mode it was given: started when the
// analyzer is first ready, started again after the analyzer was lost and is
// back, a single measurement only once. The window can be told a mode to
// start as well, once.

#include <gtest/gtest.h>

#include <QToolButton>

#include "app/headless_service.h"
#include "support/korvex_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;
const Bytes kStartContinuous = {0x01, 0x06, 0x00, 0x00, 0x00, 0x02, 0x08, 0x0B};
const Bytes kStartSingle = {0x01, 0x06, 0x00, 0x00, 0x00, 0x01, 0x48, 0x0A};
const Bytes kStop = {0x01, 0x06, 0x00, 0x00, 0x00, 0x03, 0xC9, 0xCB};

class HeadlessServiceTest : public KorvexFixture {
 protected:
  void startService(const QStringList& arguments) {
    writeDefaultSettings();
    HeadlessOptions options;
    QString error;
    ASSERT_TRUE(HeadlessOptions::parse(arguments, &options, &error)) << error.toStdString();
    session_ = std::make_unique<Session>();
    service_ = std::make_unique<HeadlessService>(*session_, options, [this](const QString& l) { lines_ << l; });
    service_->start();
  }
  void TearDown() override {
    service_.reset();
    KorvexFixture::TearDown();
  }
  // Start-up against an idle analyzer: stop, its echo, an idle status; the
  // next idle status takes a requested mode over.
  void bringToIdle() {
    tick();
    tickWith(commandEcho(1, 3));
    tickWith(statusReply(1, 0));
    tickWith(statusReply(1, 0));
  }
  Bytes sent() const { return serial_.lastWrite(); }

  std::unique_ptr<HeadlessService> service_;
  QStringList lines_;
};

TEST_F(HeadlessServiceTest, ContinuousByDefaultAndAgainAfterTheAnalyzerWasLostAndFound) {
  startService({QStringLiteral("--headless")});
  bringToIdle();
  EXPECT_EQ(sent(), kStartContinuous);
  EXPECT_EQ(poll().workMode(), WorkMode::Continuous);

  // Silent past the link watch: the cycle stops it; the analyzer comes back idle.
  for (int i = 0; i <= kSilentTicksLimit + 1; ++i) tick();
  EXPECT_EQ(sent(), kStop);
  // The cycle's own stop goes out first, then the mode again.
  tickWith(commandEcho(1, 3));
  tickWith(statusReply(1, 0));
  tickWith(statusReply(1, 0));
  tickWith(statusReply(1, 0));
  EXPECT_EQ(sent(), kStartContinuous);
  EXPECT_EQ(lines_.filter(QStringLiteral(u"Начато: непрерывное измерение")).size(), 2);
  EXPECT_EQ(lines_.filter(QStringLiteral(u"Прибор не отвечает")).size(), 1);
  // Every line begins with its time.
  for (const QString& l : lines_) EXPECT_TRUE(l.startsWith(QStringLiteral("2026-12-06 "))) << l.toStdString();
}

TEST_F(HeadlessServiceTest, ASingleMeasurementRunsOnceAndNoneStartsNothing) {
  startService({QStringLiteral("--mode"), QStringLiteral("single")});
  bringToIdle();
  EXPECT_EQ(sent(), kStartSingle);
  emit poll().modeFinished();
  emit poll().analyzerReady();
  EXPECT_EQ(poll().modeRequest(), ModeRequest::None);

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

TEST_F(HeadlessServiceTest, TheWindowStartsAModeItWasToldOnceAsIfItsButtonWerePressed) {
  startWithDefaults();
  window().setStartMode(ModeRequest::Cyclic);
  bringToIdle();
  EXPECT_EQ(sent(), kStartSingle);
  EXPECT_EQ(poll().workMode(), WorkMode::Cyclic);
  EXPECT_TRUE(find<QToolButton>("SpeedButtonLedCikl")->isEnabled());
  EXPECT_TRUE(find<QToolButton>("BitBtnStop")->isEnabled());
  // Once: the operator is in charge afterwards.
  window().onStopClicked();
  emit poll().analyzerReady();
  EXPECT_EQ(poll().modeRequest(), ModeRequest::Stop);
}

}  // namespace
