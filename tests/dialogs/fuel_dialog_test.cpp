#include <gtest/gtest.h>

#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "device/fuel_table.h"
#include "dialogs/fuel_dialog.h"
#include "storage/settings_files.h"
#include "support/korvex_fixture.h"
#include "dialog_test_support.h"

using namespace dialog_test;

namespace {

class FuelDialogTest : public KorvexFixture {
 protected:
  void SetUp() override {
    KorvexFixture::SetUp();
    startWithDefaults();
    devicePath_ = inDir(QStringLiteral("Device-001.ini"));
  }

  FuelDialog* fuelDialog() const { return find<FuelDialog>("FormFuel"); }

  int openFuel(const std::function<void(FuelDialog*)>& use) {
    modal_ = dialog_test::working<FuelDialog>(use);
    int result = -1;
    const auto inner = modal_;
    modal_ = [&result, inner](QDialog* d) { return result = inner(d); };
    window().onFuelParametersTriggered();
    return result;
  }

  // The seven edits top to bottom: co2Max, T'max, P, C', K, B, O2.
  static QStringList shown(FuelDialog* f) {
    return {control<QLineEdit>(f, "EditCO2max")->text(), control<QLineEdit>(f, "EditTmax")->text(), control<QLineEdit>(f, "EditkfP")->text(), control<QLineEdit>(f, "EditkfC")->text(),
            control<QLineEdit>(f, "EditkfK")->text(),    control<QLineEdit>(f, "EditkfB")->text(),  control<QLineEdit>(f, "EditO2ref")->text()};
  }

  static void pick(FuelDialog* f, int index) {
    control<QComboBox>(f, "ComboBoxFuel")->setCurrentIndex(index);
    emit control<QComboBox>(f, "ComboBoxFuel")->activated(index);
  }

  static void replaceText(QLineEdit* edit, const QString& text) {
    edit->setFocus();
    edit->selectAll();
    typeText(edit, text);
  }

  const FuelTable& fuels() const { return settings().fuels(); }

  QString devicePath_;
};

const QStringList kNaturalGas = {"11,8", "2010", "1000", "0,833", "0,78", "0,81", "3"};
const QStringList kBlastFurnaceGas = {"24,5", "1470", "620", "0,844", "0,794", "0,98", "3"};

TEST_F(FuelDialogTest, ShowsTheFirstFuelAfterStartAndAllTwelveNames) {
  openFuel([](FuelDialog* f) {
    EXPECT_EQ(f->windowTitle(), QStringLiteral(u"Параметры топлива и расчетов"));
    EXPECT_EQ(control<QComboBox>(f, "ComboBoxFuel")->currentText(), QStringLiteral(u"ПРИРОДНЫЙ ГАЗ"));
    EXPECT_EQ(shown(f), kNaturalGas);
    EXPECT_EQ(f->selectedFuel(), 0);
    ASSERT_EQ(control<QComboBox>(f, "ComboBoxFuel")->count(), 12);
    for (int i = 0; i < 12; ++i)
      EXPECT_EQ(control<QComboBox>(f, "ComboBoxFuel")->itemText(i), builtInFuelTable()[size_t(i)].name);
    EXPECT_EQ(control<QComboBox>(f, "ComboBoxFuel")->itemText(8).at(0), QLatin1Char('A'));  // Latin A of "AНТРАЦИТ"
    EXPECT_EQ(control<QComboBox>(f, "ComboBoxUnits")->count(), 1);
    EXPECT_EQ(control<QComboBox>(f, "ComboBoxUnits")->currentText(), QStringLiteral("ppm"));
    EXPECT_EQ(control<QComboBox>(f, "ComboBoxBasis")->currentText(), QStringLiteral(u"без учета разбавления"));
    control<QPushButton>(f, "ButtonCancel")->click();
  });
}

TEST_F(FuelDialogTest, LabelsUseCyrillicAndLatinLettersWhereTheyBelong) {
  QStringList labels;
  for (QLineEdit* edit : {control<QLineEdit>(fuelDialog(), "EditCO2max"), control<QLineEdit>(fuelDialog(), "EditTmax"), control<QLineEdit>(fuelDialog(), "EditkfP"), control<QLineEdit>(fuelDialog(), "EditkfC"),
                          control<QLineEdit>(fuelDialog(), "EditkfK"), control<QLineEdit>(fuelDialog(), "EditkfB"), control<QLineEdit>(fuelDialog(), "EditO2ref")}) {
    QString text;
    for (QLabel* label : fuelDialog()->findChildren<QLabel*>())
      if (label->buddy() == edit) text = label->text();
    labels << text;
  }
  const QStringList expected = {
      QStringLiteral(u"\u0421\u041e2, максимальное"),
      QStringLiteral(u"T'max, жаропроизводительность"),
      QStringLiteral(u"\u0420, теплотворность"),
      QStringLiteral(u"C', соотношение теплоемкостей вл. и сух. газов"),
      QStringLiteral(u"\u041a, соотн. теплоем. воздуха и газа"),
      QStringLiteral(u"B, соотн. объемов влаж. и сухих газов"),
      QStringLiteral(u"\u041e2, образцовое"),
  };
  EXPECT_EQ(labels, expected);
  EXPECT_EQ(control<QLineEdit>(fuelDialog(), "EditCO2max")->width(), 57);
}

TEST_F(FuelDialogTest, PickingAFuelShowsItsRow) {
  const int result = openFuel([](FuelDialog* f) {
    pick(f, 5);
    EXPECT_EQ(control<QComboBox>(f, "ComboBoxFuel")->currentText(), QStringLiteral(u"ДОМЕННЫЙ ГАЗ"));
    EXPECT_EQ(shown(f), kBlastFurnaceGas);
    EXPECT_EQ(f->selectedFuel(), 5);
    control<QPushButton>(f, "ButtonApply")->click();
  });
  EXPECT_EQ(result, int(QDialog::Accepted));
  EXPECT_EQ(+deviceRecord().fuelIndex, 5);
  EXPECT_EQ(valueAt<int32_t>(fileBytes(devicePath_), 100), 5);
  // Nothing but the selection changed.
  EXPECT_EQ(fuels()[5].co2Max, 24500);
  EXPECT_EQ(fuels()[5].kfB, 980);

  openFuel([](FuelDialog* f) {
    EXPECT_EQ(control<QComboBox>(f, "ComboBoxFuel")->currentText(), QStringLiteral(u"ДОМЕННЫЙ ГАЗ"));
    EXPECT_EQ(shown(f), kBlastFurnaceGas);
    control<QPushButton>(f, "ButtonCancel")->click();
  });
}

TEST_F(FuelDialogTest, ApplyScalesAndRoundsTiesToEven) {
  openFuel([](FuelDialog* f) {
    replaceText(control<QLineEdit>(f, "EditCO2max"), QStringLiteral("11,85"));
    replaceText(control<QLineEdit>(f, "EditTmax"), QStringLiteral("1500,5"));
    replaceText(control<QLineEdit>(f, "EditkfP"), QStringLiteral("999,5"));
    replaceText(control<QLineEdit>(f, "EditkfC"), QStringLiteral("0,8445"));
    replaceText(control<QLineEdit>(f, "EditkfK"), QStringLiteral("0,7815"));
    replaceText(control<QLineEdit>(f, "EditkfB"), QStringLiteral("1"));
    replaceText(control<QLineEdit>(f, "EditO2ref"), QStringLiteral("4,4999"));
    control<QPushButton>(f, "ButtonApply")->click();
  });
  const FuelRow& row = fuels()[0];
  EXPECT_EQ(row.co2Max, 11850);
  EXPECT_EQ(row.tMax, 1500);
  EXPECT_EQ(row.kfP, 1000);
  EXPECT_EQ(row.kfC, 844);
  EXPECT_EQ(row.kfK, 782);
  EXPECT_EQ(row.kfB, 1000);
  EXPECT_EQ(row.o2Ref, 4);

  openFuel([](FuelDialog* f) {
    EXPECT_EQ(shown(f), QStringList({"11,85", "1500", "1000", "0,844", "0,782", "1", "4"}));
    replaceText(control<QLineEdit>(f, "EditTmax"), QStringLiteral("1501,5"));
    control<QPushButton>(f, "ButtonApply")->click();
  });
  EXPECT_EQ(fuels()[0].tMax, 1502);
}

TEST_F(FuelDialogTest, InvalidFieldsChangeNothingAndKeepTheDialogOpen) {
  const QDateTime deviceTime = fileTime(devicePath_);
  const QByteArray deviceBefore = fileBytes(devicePath_);
  struct Case {
    const char* edit;
    QString text;
    QString message;
  };
  const Case cases[] = {
      {"EditkfB", QString(), QStringLiteral("'' is not a valid floating point value")},
      {"EditkfC", QStringLiteral(","), QStringLiteral("',' is not a valid floating point value")},
      {"EditO2ref", QStringLiteral("1,2,3"), QStringLiteral("'1,2,3' is not a valid floating point value")},
      {"EditCO2max", QStringLiteral("2147484"), QStringLiteral("Range check error")},
      {"EditTmax", QStringLiteral("2147483648"), QStringLiteral("Range check error")},
  };
  for (const Case& c : cases) {
    const int result = openFuel([&](FuelDialog* f) {
      pick(f, 3);  // another fuel, so the index would change too
      replaceText(control<QLineEdit>(f, "EditTmax"), QStringLiteral("1234"));
      control<QLineEdit>(f, c.edit)->setText(c.text);
      control<QPushButton>(f, "ButtonApply")->click();
      EXPECT_TRUE(f->isVisible());
      const auto messages = takeMessages();
      ASSERT_EQ(messages.size(), 1u);
      EXPECT_EQ(messages[0].title, QStringLiteral("Error"));
      EXPECT_EQ(messages[0].text, c.message);
      EXPECT_EQ(f->focusWidget(), control<QLineEdit>(f, c.edit));
      control<QPushButton>(f, "ButtonCancel")->click();
    });
    EXPECT_EQ(result, int(QDialog::Rejected));
    EXPECT_EQ(+deviceRecord().fuelIndex, 0);
    EXPECT_EQ(fuels()[3].tMax, 2090);
    EXPECT_EQ(fuels()[3].co2Max, 10400);
  }
  EXPECT_EQ(fileTime(devicePath_), deviceTime);
  EXPECT_EQ(fileBytes(devicePath_), deviceBefore);

  // The largest values that fit are taken.
  openFuel([&](FuelDialog* f) {
    control<QLineEdit>(f, "EditCO2max")->setText(QStringLiteral("2147483,647"));
    control<QLineEdit>(f, "EditTmax")->setText(QStringLiteral("2147483647"));
    control<QPushButton>(f, "ButtonApply")->click();
    EXPECT_FALSE(f->isVisible());
  });
  EXPECT_EQ(fuels()[0].co2Max, 2147483647);
  EXPECT_EQ(fuels()[0].tMax, 2147483647);
}

TEST_F(FuelDialogTest, TypingABeginningSelectsTheFirstFuelSoNamed) {
  openFuel([](FuelDialog* f) {
    QComboBox* list = control<QComboBox>(f, "ComboBoxFuel");
    list->setFocus();
    list->lineEdit()->selectAll();
    typeText(list, QStringLiteral(u"д"));
    EXPECT_EQ(list->currentText(), QStringLiteral(u"ДОМЕННЫЙ ГАЗ"));
    EXPECT_EQ(list->lineEdit()->selectedText(), QStringLiteral(u"ОМЕННЫЙ ГАЗ"));
    EXPECT_EQ(f->selectedFuel(), 5);
    EXPECT_EQ(shown(f), kBlastFurnaceGas);
    typeText(list, QStringLiteral(u"и"));
    EXPECT_EQ(list->currentText(), QStringLiteral(u"ДИЗЕЛЬНОЕ ТОПЛИВО"));
    EXPECT_EQ(f->selectedFuel(), 6);
    EXPECT_EQ(control<QLineEdit>(f, "EditTmax")->text(), QStringLiteral("2098"));
    control<QPushButton>(f, "ButtonApply")->click();
  });
  EXPECT_EQ(+deviceRecord().fuelIndex, 6);
  EXPECT_EQ(fuels()[11].name, QStringLiteral(u"ТОРФ"));
}

TEST_F(FuelDialogTest, ATypedNewNameRenamesRowElevenAtOnceEvenWhenCancelled) {
  const int result = openFuel([](FuelDialog* f) {
    QComboBox* list = control<QComboBox>(f, "ComboBoxFuel");
    list->setFocus();
    list->lineEdit()->selectAll();
    typeText(list, QStringLiteral(u"Мой газ"));
    EXPECT_EQ(list->currentText(), QStringLiteral(u"Мой газ"));
    EXPECT_EQ(list->currentIndex(), -1);
    EXPECT_EQ(f->table()[11].name, QStringLiteral(u"Мой газ"));
    EXPECT_EQ(f->selectedFuel(), 11);
    // The edits keep what they showed: "М" had completed to МАЗУТ.
    EXPECT_EQ(control<QLineEdit>(f, "EditTmax")->text(), QStringLiteral("2115"));
    control<QPushButton>(f, "ButtonCancel")->click();
  });
  EXPECT_EQ(result, int(QDialog::Rejected));
  EXPECT_EQ(fuels()[11].name, QStringLiteral(u"Мой газ"));
  EXPECT_EQ(fuels()[11].tMax, 1970);
  EXPECT_EQ(+deviceRecord().fuelIndex, 0);
  // The list is filled once: its last item still reads ТОРФ.
  EXPECT_EQ(control<QComboBox>(fuelDialog(), "ComboBoxFuel")->itemText(11), QStringLiteral(u"ТОРФ"));
}

TEST_F(FuelDialogTest, ANewFuelTakesRowElevenWithItsValues) {
  openFuel([](FuelDialog* f) {
    QComboBox* list = control<QComboBox>(f, "ComboBoxFuel");
    list->setFocus();
    list->lineEdit()->selectAll();
    typeText(list, QStringLiteral(u"Биогаз"));
    replaceText(control<QLineEdit>(f, "EditCO2max"), QStringLiteral("15"));
    replaceText(control<QLineEdit>(f, "EditTmax"), QStringLiteral("1800"));
    control<QPushButton>(f, "ButtonApply")->click();
  });
  EXPECT_EQ(+deviceRecord().fuelIndex, 11);
  EXPECT_EQ(fuels()[11].name, QStringLiteral(u"Биогаз"));
  EXPECT_EQ(fuels()[11].co2Max, 15000);
  EXPECT_EQ(fuels()[11].tMax, 1800);

  // Picking the twelfth item shows row 11 under its current name.
  openFuel([](FuelDialog* f) {
    EXPECT_EQ(control<QComboBox>(f, "ComboBoxFuel")->currentText(), QStringLiteral(u"Биогаз"));
    pick(f, 0);
    pick(f, 11);
    EXPECT_EQ(control<QComboBox>(f, "ComboBoxFuel")->currentText(), QStringLiteral(u"Биогаз"));
    EXPECT_EQ(control<QLineEdit>(f, "EditCO2max")->text(), QStringLiteral("15"));
    control<QPushButton>(f, "ButtonCancel")->click();
  });
}

TEST_F(FuelDialogTest, DeletingInTheListDoesNotCompleteAgain) {
  openFuel([](FuelDialog* f) {
    QComboBox* list = control<QComboBox>(f, "ComboBoxFuel");
    list->setFocus();
    list->lineEdit()->selectAll();
    typeText(list, QStringLiteral(u"КА"));
    EXPECT_EQ(list->currentText(), QStringLiteral(u"КАМЕННЫЙ УГОЛЬ"));
    key(list, Qt::Key_Backspace, Qt::NoModifier, QStringLiteral("\b"));
    EXPECT_EQ(list->currentText(), QStringLiteral(u"КА"));
    key(list, Qt::Key_Backspace, Qt::NoModifier, QStringLiteral("\b"));
    EXPECT_EQ(list->currentText(), QStringLiteral(u"К"));
    EXPECT_EQ(f->selectedFuel(), 11);
    // Typing again completes again.
    typeText(list, QStringLiteral(u"О"));
    EXPECT_EQ(list->currentText(), QStringLiteral(u"КОКСОВЫЙ ГАЗ"));
    EXPECT_EQ(f->selectedFuel(), 3);
    control<QPushButton>(f, "ButtonCancel")->click();
  });
}

TEST_F(FuelDialogTest, EditsTakeDigitsAndTheCommaAndLetEditingKeysThrough) {
  openFuel([](FuelDialog* f) {
    QLineEdit* edit = control<QLineEdit>(f, "EditCO2max");
    replaceText(edit, QStringLiteral("1a2.b-+e,3 "));
    EXPECT_EQ(edit->text(), QStringLiteral("12,3"));
    key(edit, Qt::Key_Backspace, Qt::NoModifier, QStringLiteral("\b"));
    EXPECT_EQ(edit->text(), QStringLiteral("12,"));
    key(edit, Qt::Key_Home);
    key(edit, Qt::Key_Delete, Qt::NoModifier, QStringLiteral("\x7f"));
    EXPECT_EQ(edit->text(), QStringLiteral("2,"));
    // Clipboard shortcuts.
    QApplication::clipboard()->setText(QStringLiteral("7,5"));
    key(edit, Qt::Key_A, Qt::ControlModifier, QStringLiteral("\x01"));
    key(edit, Qt::Key_V, Qt::ControlModifier, QStringLiteral("\x16"));
    EXPECT_EQ(edit->text(), QStringLiteral("7,5"));
    control<QPushButton>(f, "ButtonApply")->click();
  });
  EXPECT_EQ(fuels()[0].co2Max, 7500);
}

TEST_F(FuelDialogTest, EnterConfirmsAndEscapeCancels) {
  int result = openFuel([](FuelDialog* f) {
    replaceText(control<QLineEdit>(f, "EditkfP"), QStringLiteral("990"));
    key(control<QLineEdit>(f, "EditkfP"), Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    EXPECT_FALSE(f->isVisible());
  });
  EXPECT_EQ(result, int(QDialog::Accepted));
  EXPECT_EQ(fuels()[0].kfP, 990);

  result = openFuel([](FuelDialog* f) {
    replaceText(control<QLineEdit>(f, "EditkfP"), QStringLiteral("880"));
    key(control<QLineEdit>(f, "EditkfP"), Qt::Key_Escape, Qt::NoModifier, QStringLiteral("\x1b"));
    EXPECT_FALSE(f->isVisible());
  });
  EXPECT_EQ(result, int(QDialog::Rejected));
  EXPECT_EQ(fuels()[0].kfP, 990);
}

}  // namespace
