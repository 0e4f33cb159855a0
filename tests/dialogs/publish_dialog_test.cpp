// "Сервис" > "Публикация результатов...": what cannot work is refused with
// its reasons and nothing is written; what can is written (for its owner only
// when it holds a password) and taken into use at once, and the broker coming
// and going shows in the status bar, never in a box.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "service/publishing.h"
#include "dialog_test_support.h"
#include "dialogs/dialog_controls.h"
#include "dialogs/publish_dialog.h"
#include "publish/messages.h"
#include "publish/service_settings.h"
#include "support/korvex_fixture.h"
#include "support/mosquitto_server.h"
#include "support/mqtt_subscriber.h"
#include "support/sim_process.h"

using namespace dialog_test;

namespace {

constexpr int kWaitMs = 30000;

class PublishDialogTest : public KorvexFixture {
 protected:
  void SetUp() override {
    KorvexFixture::SetUp();
    startWithDefaults();
    path_ = inDir(QStringLiteral("korvex-service.ini"));
  }

  void openPublish(const std::function<void(PublishDialog*)>& use) {
    modal_ = dialog_test::working<PublishDialog>(use);
    window().onPublishTriggered();
  }

  static void set(PublishDialog* f, const char* name, const QString& text) {
    control<QLineEdit>(f, name)->setText(text);
  }
  static void tick(PublishDialog* f, const char* name, bool on) { control<QCheckBox>(f, name)->setChecked(on); }
  static void apply(PublishDialog* f) { control<QPushButton>(f, "ButtonApply")->click(); }

  // The one error box shown since the last call; empty when none or more.
  QString errorText() {
    const std::vector<RecordedMessage> shown = takeMessages();
    EXPECT_EQ(shown.size(), 1u);
    if (shown.size() != 1) return {};
    EXPECT_EQ(shown[0].icon, seams::MsgIcon::Error);
    return shown[0].text;
  }

  QLabel* statusLabel() const { return find<QLabel>("LabelPublishing"); }

  QString path_;
};

TEST_F(PublishDialogTest, WhatCannotWorkIsRefusedWithTheReasonsAndNothingIsWritten) {
  const QString password = QStringLiteral("Pw-Never-Shown-17");
  bool closedOnApply = true;
  openPublish([&](PublishDialog* f) {
    EXPECT_EQ(f->objectName(), QStringLiteral("FormPublish"));
    EXPECT_EQ(f->windowTitle(), QStringLiteral(u"Публикация результатов"));
    // Names that cannot be topic levels, and no broker address.
    set(f, "EditSite", QStringLiteral("plant/7"));
    set(f, "EditAnalyzer", QStringLiteral("boiler-3"));
    tick(f, "CheckBoxMqtt", true);
    set(f, "EditMqttHost", QString());
    apply(f);
    QString text = errorText();
    EXPECT_TRUE(text.startsWith(QStringLiteral(u"Настройки публикации не приняты:"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral(u"Analyzer/Site: пусто или содержит"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral(u"Mqtt/Host: не задан"))) << text.toStdString();
    EXPECT_TRUE(f->isVisible());

    // A password without a user, and a CA file that is not there.
    set(f, "EditSite", QStringLiteral("plant-7"));
    set(f, "EditMqttHost", QStringLiteral("127.0.0.1"));
    set(f, "EditMqttPassword", password);
    tick(f, "CheckBoxTls", true);
    set(f, "EditCaFile", inDir(QStringLiteral("missing-ca.pem")));
    apply(f);
    text = errorText();
    EXPECT_TRUE(text.contains(QStringLiteral("Mqtt/User"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral(u"Mqtt/CaFile: нет такого файла"))) << text.toStdString();
    EXPECT_FALSE(text.contains(password));

    // The CA file through the file dialog; skipping the check is warned of
    // only while it is chosen.
    const QString ca = inDir(QStringLiteral("ca.pem"));
    ASSERT_TRUE(test_files::writeAll(ca, "-----BEGIN CERTIFICATE-----\n"));
    fileDialog_ = [&](const seams::FileDialogRequest& r) {
      EXPECT_FALSE(r.save);
      return ca;
    };
    control<QPushButton>(f, "ButtonCaFile")->click();
    EXPECT_EQ(QDir::fromNativeSeparators(control<QLineEdit>(f, "EditCaFile")->text()), ca);
    EXPECT_FALSE(control<QLabel>(f, "LabelInsecureWarning")->isVisible());
    tick(f, "CheckBoxInsecure", true);
    EXPECT_TRUE(control<QLabel>(f, "LabelInsecureWarning")->isVisible());
    EXPECT_TRUE(control<QLabel>(f, "LabelInsecureWarning")->text().startsWith(QStringLiteral(u"ВНИМАНИЕ!")));
    tick(f, "CheckBoxTls", false);
    EXPECT_FALSE(control<QLabel>(f, "LabelInsecureWarning")->isVisible());
    set(f, "EditMqttUser", QStringLiteral("boiler"));

    // A connection string libpq cannot read, its password not repeated.
    tick(f, "CheckBoxCentral", true);
    set(f, "EditConnection", QStringLiteral("host=db password='") + password);
    EXPECT_FALSE(control<QLabel>(f, "LabelConnection")->text().contains(password));
    apply(f);
    text = errorText();
    EXPECT_TRUE(text.contains(QStringLiteral(u"Central/Connection: не строка подключения libpq"))) << text.toStdString();
    EXPECT_FALSE(text.contains(password));
    EXPECT_FALSE(text.contains(QStringLiteral("Mqtt/")));
    closedOnApply = !f->isVisible();
    control<QPushButton>(f, "ButtonCancel")->click();
  });
  EXPECT_FALSE(closedOnApply);
  EXPECT_FALSE(QFile::exists(path_));
  EXPECT_FALSE(session().publishing().mqtt());
  EXPECT_FALSE(session().publishing().central());
}

TEST_F(PublishDialogTest, AppliedAtOnceForItsOwnerOnlyAndTheBrokerComingAndGoingShowsInTheStatusBar) {
  const QString password = QStringLiteral("Mq-Dialog-Pass-3");
  MosquittoServer::Options options;
  options.user = QStringLiteral("boiler");
  options.password = password;
  MosquittoServer broker(options);
  // Started once for its port, then away: the first attempts fail.
  ASSERT_TRUE(broker.start()) << broker.lastError().toStdString();
  broker.kill();
  EXPECT_TRUE(statusLabel()->isHidden());

  openPublish([&](PublishDialog* f) {
    set(f, "EditSite", QStringLiteral("plant-7"));
    set(f, "EditAnalyzer", QStringLiteral("boiler-3"));
    control<QComboBox>(f, "ComboBoxServiceMode")->setCurrentIndex(1);  // single
    tick(f, "CheckBoxMqtt", true);
    set(f, "EditMqttHost", QStringLiteral("127.0.0.1"));
    control<SpinEdit>(f, "SpinEditMqttPort")->setValue(broker.port());
    set(f, "EditMqttUser", QStringLiteral("boiler"));
    set(f, "EditMqttPassword", password);
    apply(f);
    EXPECT_FALSE(f->isVisible());
  });

  // Written for its owner only, read back as typed.
  ASSERT_TRUE(QFile::exists(path_));
  EXPECT_EQ(QFile::permissions(path_) & (QFileDevice::ReadGroup | QFileDevice::ReadOther), QFileDevice::Permissions());
  const publish::ServiceSettingsLoad saved = publish::loadServiceSettings(path_);
  ASSERT_EQ(saved.status, publish::ServiceSettingsStatus::Loaded) << saved.message().toStdString();
  EXPECT_EQ(saved.settings.mode, QStringLiteral("single"));
  EXPECT_EQ(saved.settings.mqtt.port, broker.port());
  EXPECT_EQ(saved.settings.mqtt.password, password);

  // In use at once, the broker away: said in the status bar, no box.
  ASSERT_NE(session().publishing().mqtt(), nullptr);
  ASSERT_TRUE(SimProcess::waitFor([&] { return statusLabel()->text().contains(QStringLiteral(u"MQTT: нет связи")); },
                                  kWaitMs))
      << statusLabel()->text().toStdString();
  EXPECT_FALSE(statusLabel()->isHidden());
  EXPECT_TRUE(statusLabel()->toolTip().contains(QStringLiteral(u"MQTT: не могу подключиться к 127.0.0.1:%1")
                                                    .arg(broker.port())))
      << statusLabel()->toolTip().toStdString();
  // A notice in the bar and the event log, no box.
  EXPECT_TRUE(takeMessages().empty());
  ASSERT_FALSE(notices_.empty());
  EXPECT_EQ(notices_.back().topic, NoticeTopic::Publishing);
  EXPECT_FALSE(events(EventKind::PublishingProblem).isEmpty());

  // The broker back: connected by itself, "online" and a result delivered.
  ASSERT_TRUE(broker.start()) << broker.lastError().toStdString();
  MqttSubscriber sub({broker.port(), {}, QStringLiteral("boiler"), password, {}});
  ASSERT_TRUE(sub.start({QStringLiteral("korvex/#")})) << sub.lastError().toStdString();
  ASSERT_TRUE(SimProcess::waitFor([&] { return statusLabel()->text() == QStringLiteral(u"Публикация: MQTT: на связи"); },
                                  kWaitMs))
      << statusLabel()->text().toStdString();
  addResult(Measurement{});
  const publish::AnalyzerIdentity id{QStringLiteral("plant-7"), QStringLiteral("boiler-3"), 1};
  ASSERT_TRUE(sub.waitForCount(publish::resultTopic(id), 1, kWaitMs));
  EXPECT_EQ(QJsonDocument::fromJson(sub.messages(publish::resultTopic(id)).front().payload)
                .object()
                .value(QStringLiteral("seq"))
                .toInteger(),
            1);
  ASSERT_TRUE(sub.waitFor(
      [&](const std::vector<MqttMessage>&) {
        const auto status = sub.messages(publish::statusTopic(id));
        return !status.empty() && status.back().payload == "online";
      },
      kWaitMs));

  // Gone again while measuring goes on: the status bar says so, still no box.
  broker.kill();
  ASSERT_TRUE(SimProcess::waitFor([&] { return statusLabel()->text().contains(QStringLiteral(u"MQTT: нет связи")); },
                                  kWaitMs))
      << statusLabel()->text().toStdString();
  EXPECT_TRUE(takeMessages().empty());
  EXPECT_FALSE(statusLabel()->text().contains(password));
  EXPECT_FALSE(statusLabel()->toolTip().contains(password));
}

}  // namespace

namespace {

TEST_F(PublishDialogTest, TheConnectionStringIsMaskedOnlyWhileItHoldsAPasswordAndDescribedAsItIs) {
  openPublish([](PublishDialog* f) {
    auto* edit = control<QLineEdit>(f, "EditConnection");
    auto* label = control<QLabel>(f, "LabelConnection");
    tick(f, "CheckBoxCentral", true);

    edit->setText(QStringLiteral("host=db dbname=central user=korvex password=Pg-Secret-9"));
    EXPECT_EQ(edit->echoMode(), QLineEdit::PasswordEchoOnEdit);
    EXPECT_EQ(label->text(), QStringLiteral(u"Подключение: host=db dbname=central user=korvex, с паролем"));

    // The password taken out: nothing left to hide.
    edit->setText(QStringLiteral("host=db dbname=central user=korvex"));
    EXPECT_EQ(edit->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(label->text(), QStringLiteral(u"Подключение: host=db dbname=central user=korvex"));

    // Not a connection string: said so, and nothing about a password it has not.
    edit->setText(QStringLiteral("garbage"));
    EXPECT_EQ(edit->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(label->text(), QStringLiteral(u"Подключение: (неверная строка подключения)"));
    // One that names a password stays masked, readable or not.
    edit->setText(QStringLiteral("host=db password='Pg-Secret"));
    EXPECT_EQ(edit->echoMode(), QLineEdit::PasswordEchoOnEdit);
    EXPECT_FALSE(label->text().contains(QStringLiteral("Pg-Secret")));
  });
}

}  // namespace
