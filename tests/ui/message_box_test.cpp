// The real message box behind seams::showMessage, built offscreen and shown
// without a message loop of its own.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSet>

#include "platform/seams.h"
#include "ui/widget_seams.h"

namespace {

const QString kPort = QStringLiteral("/dev/ttyS1");

seams::MessageRequest request(const QString& title, const QString& text,
                              seams::MsgButtons buttons = seams::MsgButtons::Ok) {
  return {nullptr, seams::MsgIcon::None, title, text, buttons};
}

TEST(MessageBoxTest, ThePortFailuresShowTheirWholeTitleInTheBoxAndCanBeToldApart) {
  const QString titles[] = {QStringLiteral(u"Не могу открыть порт"), QStringLiteral(u"Не могу получить статус порта"),
                            QStringLiteral(u"Не могу инициализировать порт")};
  QSet<QString> texts;
  for (const QString& title : titles) {
    const auto box = seams::messageBox(request(title, kPort));
    EXPECT_EQ(box->windowTitle(), title);
    EXPECT_EQ(box->text(), title + QLatin1Char('\n') + kPort);
    texts.insert(box->text());

    // Shown, the box's own text starts with the title on a line of its own,
    // wide enough for it, whatever the window manager makes of the title bar.
    box->show();
    QApplication::processEvents();
    const auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    ASSERT_NE(label, nullptr);
    EXPECT_TRUE(label->isVisible());
    EXPECT_EQ(label->text().split(QLatin1Char('\n')).constFirst(), title);
    EXPECT_GE(label->contentsRect().width(), label->fontMetrics().horizontalAdvance(title)) << title.toStdString();
    // And the box is wide enough for the window manager to show the title
    // whole in its title bar ("Не…орт" otherwise).
    EXPECT_GE(box->width(), seams::titleBarWidth(title, box->font())) << title.toStdString();
    box->hide();
  }
  EXPECT_EQ(texts.size(), 3);
}

TEST(MessageBoxTest, TheStandardTitlesAreNotRepeatedInTheText) {
  for (const QString& title : {QStringLiteral("Error"), QStringLiteral("Warning"), QStringLiteral("Confirm")}) {
    const auto box = seams::messageBox(request(title, QStringLiteral(u"Ошибка печати!")));
    EXPECT_EQ(box->windowTitle(), title);
    EXPECT_EQ(box->text(), QStringLiteral(u"Ошибка печати!"));
  }
  EXPECT_EQ(seams::messageBox(request(QString(), kPort))->text(), kPort);
}

TEST(MessageBoxTest, TheBoxHasTheButtonsAsked) {
  const auto ok = seams::messageBox(request(QStringLiteral("Error"), kPort));
  ASSERT_EQ(ok->buttons().size(), 1);
  EXPECT_EQ(ok->buttons()[0]->text(), QStringLiteral("OK"));
  EXPECT_EQ(ok->defaultButton(), ok->buttons()[0]);
  EXPECT_EQ(ok->escapeButton(), ok->buttons()[0]);

  const auto question = seams::messageBox(request(QStringLiteral("Confirm"), kPort, seams::MsgButtons::YesNo));
  ASSERT_EQ(question->buttons().size(), 2);
  QPushButton* yes = question->defaultButton();
  ASSERT_NE(yes, nullptr);
  EXPECT_EQ(question->buttonRole(yes), QMessageBox::YesRole);
  EXPECT_EQ(question->buttonRole(question->escapeButton()), QMessageBox::NoRole);
}

TEST(MessageBoxTest, AHandlerGetsTitleAndTextAsGiven) {
  seams::MessageRequest seen{};
  seams::setMessageHandler([&](const seams::MessageRequest& r) {
    seen = r;
    return seams::MsgResult::Ok;
  });
  seams::showMessage(nullptr, seams::MsgIcon::None, QStringLiteral(u"Не могу открыть порт"), kPort);
  EXPECT_EQ(seen.title, QStringLiteral(u"Не могу открыть порт"));
  EXPECT_EQ(seen.text, kPort);
  seams::resetAll();
  seams::resetWidgetSeams();
}

}  // namespace
