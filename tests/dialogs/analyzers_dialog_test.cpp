// "Анализаторы...": the line's further analyzers as device files for the
// next start. Ticked slots get their files with the address, unticked ones
// lose theirs, and an address taken twice (or the first analyzer's) keeps OK
// disabled.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QPushButton>
#include <QSpinBox>

#include "dialog_test_support.h"
#include "dialogs/analyzers_dialog.h"
#include "storage/settings_files.h"
#include "support/korvex_fixture.h"

namespace {

class AnalyzersDialogTest : public KorvexFixture {
 protected:
  void SetUp() override {
    KorvexFixture::SetUp();
    startWithDefaults();
  }
  void open(const std::function<void(AnalyzersDialog*)>& use) {
    modal_ = dialog_test::working<AnalyzersDialog>(use);
    window().onAnalyzersTriggered();
  }
  static QPushButton* ok(AnalyzersDialog* d) {
    return d->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
  }
  static void tick(AnalyzersDialog* d, int slot, int address) {
    d->findChild<QCheckBox*>(QStringLiteral("AnalyzerUsed%1").arg(slot))->setChecked(true);
    d->findChild<QSpinBox*>(QStringLiteral("AnalyzerAddress%1").arg(slot))->setValue(address);
  }
};

TEST_F(AnalyzersDialogTest, TickedSlotsBecomeDeviceFilesAndATakenAddressIsRefused) {
  open([](AnalyzersDialog* d) {
    tick(d, 2, 1);  // the first analyzer's address
    EXPECT_FALSE(ok(d)->isEnabled());
    tick(d, 2, 5);
    tick(d, 4, 5);
    EXPECT_FALSE(ok(d)->isEnabled());
    tick(d, 4, 6);
    ASSERT_TRUE(ok(d)->isEnabled());
    ok(d)->click();
  });
  const QVector<LineAnalyzer> line = SettingsFiles().lineAnalyzers(settings().measuring());
  ASSERT_EQ(line.size(), 2);
  EXPECT_EQ(line[0].slot, 2);
  EXPECT_EQ(line[0].measuring.address, 5);
  EXPECT_EQ(line[1].slot, 4);
  EXPECT_EQ(line[1].measuring.address, 6);

  // Shown as they are; slot 2 unticked: its file goes, the others stay.
  open([](AnalyzersDialog* d) {
    EXPECT_EQ(d->findChild<QSpinBox*>(QStringLiteral("AnalyzerAddress4"))->value(), 6);
    d->findChild<QCheckBox*>(QStringLiteral("AnalyzerUsed2"))->setChecked(false);
    ok(d)->click();
  });
  EXPECT_FALSE(QFile::exists(inDir(QStringLiteral("Device-002.ini"))));
  EXPECT_TRUE(QFile::exists(inDir(QStringLiteral("Device-004.ini"))));
  EXPECT_TRUE(QFile::exists(inDir(QStringLiteral("Device-001.ini"))));
}

}  // namespace
