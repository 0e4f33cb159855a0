#include <gtest/gtest.h>

#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/Korvex_ModbusRTU_MainChat.h"
#include "device/fuel_table.h"
#include "dialogs/Korvex_ModbusRTU_SetFuel.h"
#include "storage/settings_files.h"
#include "support/korvex_fixture.h"
#include "dialog_test_support.h"

using namespace dialog_test;

namespace {

class FuelDialogTest : public KorvexFixture {
 protected:
  void SetUp() override {
    KorvexFixture::SetUp();
    StartWithDefaults();
    devicePath_ = InDir(QStringLiteral("Device-001.ini"));
  }

  int OpenFuel(const std::function<void(TFormFuel*)>& use) {
    modal_ = dialog_test::Working<TFormFuel>(use);
    int result = -1;
    const auto inner = modal_;
    modal_ = [&result, inner](QDialog* d) { return result = inner(d); };
    Form1->N7Click();
    return result;
  }

  // The seven edits top to bottom: CO2max, T'max, P, C', K, B, O2.
  static QStringList Shown(TFormFuel* f) {
    return {f->EditCO2max->text(), f->EditTmax->text(), f->EditkfP->text(), f->EditkfC->text(),
            f->EditkfK->text(),    f->EditkfB->text(),  f->EditO2ref->text()};
  }

  static void Pick(TFormFuel* f, int index) {
    f->ComboBoxFuel->setCurrentIndex(index);
    emit f->ComboBoxFuel->activated(index);
  }

  static void Replace(QLineEdit* edit, const QString& text) {
    edit->setFocus();
    edit->selectAll();
    Type(edit, text);
  }

  QString devicePath_;
};

const QStringList kNaturalGas = {"11,8", "2010", "1000", "0,833", "0,78", "0,81", "3"};
const QStringList kBlastFurnaceGas = {"24,5", "1470", "620", "0,844", "0,794", "0,98", "3"};

TEST_F(FuelDialogTest, ShowsTheFirstFuelAfterStartAndAllTwelveNames) {
  OpenFuel([](TFormFuel* f) {
    EXPECT_EQ(f->windowTitle(), QStringLiteral(u"Параметры топлива и расчетов"));
    EXPECT_EQ(f->ComboBoxFuel->currentText(), QStringLiteral(u"ПРИРОДНЫЙ ГАЗ"));
    EXPECT_EQ(Shown(f), kNaturalGas);
    EXPECT_EQ(f->SelectedFuel, 0);
    ASSERT_EQ(f->ComboBoxFuel->count(), 12);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(f->ComboBoxFuel->itemText(i), FuelTable[i].Name);
    EXPECT_EQ(f->ComboBoxFuel->itemText(8).at(0), QLatin1Char('A'));  // Latin A of "AНТРАЦИТ"
    EXPECT_EQ(f->ComboBoxUnits->count(), 1);
    EXPECT_EQ(f->ComboBoxUnits->currentText(), QStringLiteral("ppm"));
    EXPECT_EQ(f->ComboBoxBasis->currentText(), QStringLiteral(u"без учета разбавления"));
    f->ButtonCancel->click();
  });
}

TEST_F(FuelDialogTest, LabelsUseCyrillicAndLatinLettersWhereTheyBelong) {
  QStringList labels;
  for (QLineEdit* edit : {FormFuel->EditCO2max, FormFuel->EditTmax, FormFuel->EditkfP, FormFuel->EditkfC,
                          FormFuel->EditkfK, FormFuel->EditkfB, FormFuel->EditO2ref}) {
    QString text;
    for (QLabel* label : FormFuel->findChildren<QLabel*>())
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
  EXPECT_EQ(FormFuel->EditCO2max->width(), 57);
}

TEST_F(FuelDialogTest, PickingAFuelShowsItsRow) {
  const int result = OpenFuel([](TFormFuel* f) {
    Pick(f, 5);
    EXPECT_EQ(f->ComboBoxFuel->currentText(), QStringLiteral(u"ДОМЕННЫЙ ГАЗ"));
    EXPECT_EQ(Shown(f), kBlastFurnaceGas);
    EXPECT_EQ(f->SelectedFuel, 5);
    f->ButtonApply->click();
  });
  EXPECT_EQ(result, int(QDialog::Accepted));
  EXPECT_EQ(+DeviceRecord.FuelIndex, 5);
  EXPECT_EQ(ValueAt<int32_t>(FileBytes(devicePath_), 100), 5);
  // Nothing but the selection changed.
  EXPECT_EQ(FuelTable[5].CO2max, 24500);
  EXPECT_EQ(FuelTable[5].kfB, 980);

  OpenFuel([](TFormFuel* f) {
    EXPECT_EQ(f->ComboBoxFuel->currentText(), QStringLiteral(u"ДОМЕННЫЙ ГАЗ"));
    EXPECT_EQ(Shown(f), kBlastFurnaceGas);
    f->ButtonCancel->click();
  });
}

TEST_F(FuelDialogTest, ApplyScalesAndRoundsTiesToEven) {
  OpenFuel([](TFormFuel* f) {
    Replace(f->EditCO2max, QStringLiteral("11,85"));
    Replace(f->EditTmax, QStringLiteral("1500,5"));
    Replace(f->EditkfP, QStringLiteral("999,5"));
    Replace(f->EditkfC, QStringLiteral("0,8445"));
    Replace(f->EditkfK, QStringLiteral("0,7815"));
    Replace(f->EditkfB, QStringLiteral("1"));
    Replace(f->EditO2ref, QStringLiteral("4,4999"));
    f->ButtonApply->click();
  });
  const TFuelRow& row = FuelTable[0];
  EXPECT_EQ(row.CO2max, 11850);
  EXPECT_EQ(row.Tmax, 1500);
  EXPECT_EQ(row.kfP, 1000);
  EXPECT_EQ(row.kfC, 844);
  EXPECT_EQ(row.kfK, 782);
  EXPECT_EQ(row.kfB, 1000);
  EXPECT_EQ(row.O2ref, 4);

  OpenFuel([](TFormFuel* f) {
    EXPECT_EQ(Shown(f), QStringList({"11,85", "1500", "1000", "0,844", "0,782", "1", "4"}));
    Replace(f->EditTmax, QStringLiteral("1501,5"));
    f->ButtonApply->click();
  });
  EXPECT_EQ(FuelTable[0].Tmax, 1502);
}

TEST_F(FuelDialogTest, InvalidFieldsChangeNothingAndKeepTheDialogOpen) {
  const QDateTime deviceTime = FileTime(devicePath_);
  const QByteArray deviceBefore = FileBytes(devicePath_);
  struct Case {
    QLineEdit* TFormFuel::*edit;
    QString text;
    QString message;
  };
  const Case cases[] = {
      {&TFormFuel::EditkfB, QString(), QStringLiteral("'' is not a valid floating point value")},
      {&TFormFuel::EditkfC, QStringLiteral(","), QStringLiteral("',' is not a valid floating point value")},
      {&TFormFuel::EditO2ref, QStringLiteral("1,2,3"), QStringLiteral("'1,2,3' is not a valid floating point value")},
      {&TFormFuel::EditCO2max, QStringLiteral("2147484"), QStringLiteral("Range check error")},
      {&TFormFuel::EditTmax, QStringLiteral("2147483648"), QStringLiteral("Range check error")},
  };
  for (const Case& c : cases) {
    const int result = OpenFuel([&](TFormFuel* f) {
      Pick(f, 3);  // another fuel, so the index would change too
      Replace(f->EditTmax, QStringLiteral("1234"));
      (f->*c.edit)->setText(c.text);
      f->ButtonApply->click();
      EXPECT_TRUE(f->isVisible());
      const auto messages = TakeMessages();
      ASSERT_EQ(messages.size(), 1u);
      EXPECT_EQ(messages[0].title, QStringLiteral("Error"));
      EXPECT_EQ(messages[0].text, c.message);
      EXPECT_EQ(f->focusWidget(), f->*c.edit);
      f->ButtonCancel->click();
    });
    EXPECT_EQ(result, int(QDialog::Rejected));
    EXPECT_EQ(+DeviceRecord.FuelIndex, 0);
    EXPECT_EQ(FuelTable[3].Tmax, 2090);
    EXPECT_EQ(FuelTable[3].CO2max, 10400);
  }
  EXPECT_EQ(FileTime(devicePath_), deviceTime);
  EXPECT_EQ(FileBytes(devicePath_), deviceBefore);

  // The largest values that fit are taken.
  OpenFuel([&](TFormFuel* f) {
    f->EditCO2max->setText(QStringLiteral("2147483,647"));
    f->EditTmax->setText(QStringLiteral("2147483647"));
    f->ButtonApply->click();
    EXPECT_FALSE(f->isVisible());
  });
  EXPECT_EQ(FuelTable[0].CO2max, 2147483647);
  EXPECT_EQ(FuelTable[0].Tmax, 2147483647);
}

TEST_F(FuelDialogTest, TypingABeginningSelectsTheFirstFuelSoNamed) {
  OpenFuel([](TFormFuel* f) {
    QComboBox* list = f->ComboBoxFuel;
    list->setFocus();
    list->lineEdit()->selectAll();
    Type(list, QStringLiteral(u"д"));
    EXPECT_EQ(list->currentText(), QStringLiteral(u"ДОМЕННЫЙ ГАЗ"));
    EXPECT_EQ(list->lineEdit()->selectedText(), QStringLiteral(u"ОМЕННЫЙ ГАЗ"));
    EXPECT_EQ(f->SelectedFuel, 5);
    EXPECT_EQ(Shown(f), kBlastFurnaceGas);
    Type(list, QStringLiteral(u"и"));
    EXPECT_EQ(list->currentText(), QStringLiteral(u"ДИЗЕЛЬНОЕ ТОПЛИВО"));
    EXPECT_EQ(f->SelectedFuel, 6);
    EXPECT_EQ(f->EditTmax->text(), QStringLiteral("2098"));
    f->ButtonApply->click();
  });
  EXPECT_EQ(+DeviceRecord.FuelIndex, 6);
  EXPECT_EQ(FuelTable[11].Name, QStringLiteral(u"ТОРФ"));
}

TEST_F(FuelDialogTest, ATypedNewNameRenamesRowElevenAtOnceEvenWhenCancelled) {
  const int result = OpenFuel([](TFormFuel* f) {
    QComboBox* list = f->ComboBoxFuel;
    list->setFocus();
    list->lineEdit()->selectAll();
    Type(list, QStringLiteral(u"Мой газ"));
    EXPECT_EQ(list->currentText(), QStringLiteral(u"Мой газ"));
    EXPECT_EQ(list->currentIndex(), -1);
    EXPECT_EQ(FuelTable[11].Name, QStringLiteral(u"Мой газ"));
    EXPECT_EQ(f->SelectedFuel, 11);
    // The edits keep what they showed: "М" had completed to МАЗУТ.
    EXPECT_EQ(f->EditTmax->text(), QStringLiteral("2115"));
    f->ButtonCancel->click();
  });
  EXPECT_EQ(result, int(QDialog::Rejected));
  EXPECT_EQ(FuelTable[11].Name, QStringLiteral(u"Мой газ"));
  EXPECT_EQ(FuelTable[11].Tmax, 1970);
  EXPECT_EQ(+DeviceRecord.FuelIndex, 0);
  // The list is filled once: its last item still reads ТОРФ.
  EXPECT_EQ(FormFuel->ComboBoxFuel->itemText(11), QStringLiteral(u"ТОРФ"));
}

TEST_F(FuelDialogTest, ANewFuelTakesRowElevenWithItsValues) {
  OpenFuel([](TFormFuel* f) {
    QComboBox* list = f->ComboBoxFuel;
    list->setFocus();
    list->lineEdit()->selectAll();
    Type(list, QStringLiteral(u"Биогаз"));
    Replace(f->EditCO2max, QStringLiteral("15"));
    Replace(f->EditTmax, QStringLiteral("1800"));
    f->ButtonApply->click();
  });
  EXPECT_EQ(+DeviceRecord.FuelIndex, 11);
  EXPECT_EQ(FuelTable[11].Name, QStringLiteral(u"Биогаз"));
  EXPECT_EQ(FuelTable[11].CO2max, 15000);
  EXPECT_EQ(FuelTable[11].Tmax, 1800);

  // Picking the twelfth item shows row 11 under its current name.
  OpenFuel([](TFormFuel* f) {
    EXPECT_EQ(f->ComboBoxFuel->currentText(), QStringLiteral(u"Биогаз"));
    Pick(f, 0);
    Pick(f, 11);
    EXPECT_EQ(f->ComboBoxFuel->currentText(), QStringLiteral(u"Биогаз"));
    EXPECT_EQ(f->EditCO2max->text(), QStringLiteral("15"));
    f->ButtonCancel->click();
  });
}

TEST_F(FuelDialogTest, DeletingInTheListDoesNotCompleteAgain) {
  OpenFuel([](TFormFuel* f) {
    QComboBox* list = f->ComboBoxFuel;
    list->setFocus();
    list->lineEdit()->selectAll();
    Type(list, QStringLiteral(u"КА"));
    EXPECT_EQ(list->currentText(), QStringLiteral(u"КАМЕННЫЙ УГОЛЬ"));
    Key(list, Qt::Key_Backspace, Qt::NoModifier, QStringLiteral("\b"));
    EXPECT_EQ(list->currentText(), QStringLiteral(u"КА"));
    Key(list, Qt::Key_Backspace, Qt::NoModifier, QStringLiteral("\b"));
    EXPECT_EQ(list->currentText(), QStringLiteral(u"К"));
    EXPECT_EQ(f->SelectedFuel, 11);
    // Typing again completes again.
    Type(list, QStringLiteral(u"О"));
    EXPECT_EQ(list->currentText(), QStringLiteral(u"КОКСОВЫЙ ГАЗ"));
    EXPECT_EQ(f->SelectedFuel, 3);
    f->ButtonCancel->click();
  });
}

TEST_F(FuelDialogTest, EditsTakeDigitsAndTheCommaAndLetEditingKeysThrough) {
  OpenFuel([](TFormFuel* f) {
    QLineEdit* edit = f->EditCO2max;
    Replace(edit, QStringLiteral("1a2.b-+e,3 "));
    EXPECT_EQ(edit->text(), QStringLiteral("12,3"));
    Key(edit, Qt::Key_Backspace, Qt::NoModifier, QStringLiteral("\b"));
    EXPECT_EQ(edit->text(), QStringLiteral("12,"));
    Key(edit, Qt::Key_Home);
    Key(edit, Qt::Key_Delete, Qt::NoModifier, QStringLiteral("\x7f"));
    EXPECT_EQ(edit->text(), QStringLiteral("2,"));
    // Clipboard shortcuts.
    QApplication::clipboard()->setText(QStringLiteral("7,5"));
    Key(edit, Qt::Key_A, Qt::ControlModifier, QStringLiteral("\x01"));
    Key(edit, Qt::Key_V, Qt::ControlModifier, QStringLiteral("\x16"));
    EXPECT_EQ(edit->text(), QStringLiteral("7,5"));
    f->ButtonApply->click();
  });
  EXPECT_EQ(FuelTable[0].CO2max, 7500);
}

TEST_F(FuelDialogTest, EnterConfirmsAndEscapeCancels) {
  int result = OpenFuel([](TFormFuel* f) {
    Replace(f->EditkfP, QStringLiteral("990"));
    Key(f->EditkfP, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    EXPECT_FALSE(f->isVisible());
  });
  EXPECT_EQ(result, int(QDialog::Accepted));
  EXPECT_EQ(FuelTable[0].kfP, 990);

  result = OpenFuel([](TFormFuel* f) {
    Replace(f->EditkfP, QStringLiteral("880"));
    Key(f->EditkfP, Qt::Key_Escape, Qt::NoModifier, QStringLiteral("\x1b"));
    EXPECT_FALSE(f->isVisible());
  });
  EXPECT_EQ(result, int(QDialog::Rejected));
  EXPECT_EQ(FuelTable[0].kfP, 990);
}

}  // namespace
