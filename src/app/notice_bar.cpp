#include "app/notice_bar.h"

#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/glyphs.h"
#include "ui/widget_seams.h"

namespace {

QDateTime localTime(const Notice& n) {
  return QDateTime::fromMSecsSinceEpoch(n.utcMs, Qt::OffsetFromUTC, n.utcOffset);
}

QColor background(NoticeLevel level) {
  switch (level) {
    case NoticeLevel::Error: return QColor(0xFF, 0xC0, 0xB8);
    case NoticeLevel::Warning: return QColor(0xFF, 0xE8, 0x90);
    case NoticeLevel::Info: break;
  }
  return QColor(0xE8, 0xF0, 0xFF);
}

}  // namespace

QString NoticeBar::listLine(const Notice& notice) {
  return localTime(notice).toString(QStringLiteral("dd.MM.yyyy hh:mm:ss")) + QStringLiteral("  ") + notice.line();
}

NoticeBar::NoticeBar(NoticeBoard& board, QWidget* parent) : QFrame(parent), board_(board) {
  setObjectName(QStringLiteral("NoticeBar"));
  setFrameShape(QFrame::StyledPanel);
  setAutoFillBackground(true);
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(4, 1, 4, 1);
  label_ = new QLabel(this);
  label_->setObjectName(QStringLiteral("LabelNotice"));
  label_->setTextFormat(Qt::PlainText);
  label_->setToolTip(QStringLiteral(u"Последнее сообщение программы; измерение продолжается"));
  row->addWidget(label_, 1);
  allButton_ = new QPushButton(this);
  allButton_->setObjectName(QStringLiteral("ButtonNotices"));
  row->addWidget(allButton_);
  auto* hide = new QPushButton(QStringLiteral(u"Скрыть"), this);
  hide->setObjectName(QStringLiteral("ButtonHideNotice"));
  row->addWidget(hide);
  setVisible(false);

  listWindow_ = new QDialog(parent);
  listWindow_->setObjectName(QStringLiteral("FormNotices"));
  listWindow_->setWindowTitle(QStringLiteral(u"Сообщения программы"));
  listWindow_->setWindowIcon(glyphs::windowIcon(glyphs::Window::Main));
  listWindow_->setModal(false);
  listWindow_->resize(640, 300);
  auto* box = new QVBoxLayout(listWindow_);
  list_ = new QListWidget(listWindow_);
  list_->setObjectName(QStringLiteral("ListNotices"));
  box->addWidget(list_);
  auto* buttons = new QDialogButtonBox(listWindow_);
  QPushButton* clear = buttons->addButton(QStringLiteral(u"Очистить"), QDialogButtonBox::ResetRole);
  clear->setObjectName(QStringLiteral("ButtonClearNotices"));
  QPushButton* close = buttons->addButton(QStringLiteral(u"Закрыть"), QDialogButtonBox::RejectRole);
  close->setObjectName(QStringLiteral("ButtonCloseNotices"));
  box->addWidget(buttons);

  connect(allButton_, &QPushButton::clicked, this, &NoticeBar::showList);
  connect(hide, &QPushButton::clicked, this, [this] { setVisible(false); });
  connect(clear, &QPushButton::clicked, &board_, &NoticeBoard::clear);
  connect(buttons, &QDialogButtonBox::rejected, listWindow_, &QDialog::hide);
  connect(&board_, &NoticeBoard::added, this, &NoticeBar::onAdded);
  connect(&board_, &NoticeBoard::cleared, this, [this] {
    list_->clear();
    label_->clear();
    setVisible(false);
  });
  for (const Notice& n : board_.notices()) onAdded(n);
}

QString NoticeBar::text() const { return label_->text(); }

void NoticeBar::onAdded(const Notice& notice) {
  list_->addItem(listLine(notice));
  while (list_->count() > NoticeBoard::kKept) delete list_->takeItem(0);
  list_->scrollToBottom();
  label_->setText(localTime(notice).toString(QStringLiteral("hh:mm:ss  ")) + notice.line());
  allButton_->setText(QStringLiteral(u"Все сообщения (%1)").arg(board_.notices().size()));
  QPalette p = palette();
  p.setColor(QPalette::Window, background(notice.level));
  setPalette(p);
  setVisible(true);
  if (notice.beep) seams::beep();
}

void NoticeBar::showList() {
  listWindow_->show();
  listWindow_->raise();
  listWindow_->activateWindow();
}
