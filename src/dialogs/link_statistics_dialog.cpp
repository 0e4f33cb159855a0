#include "dialogs/link_statistics_dialog.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "dialogs/dialog_controls.h"

LinkStatisticsDialog::LinkStatisticsDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("FormLinkStatistics"));
  setWindowTitle(QStringLiteral(u"Статистика связи"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);

  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(6, 6, 6, 6);
  root->setSpacing(6);
  root->addWidget(headingPanel(QStringLiteral(u"Обмен с газоанализатором"), this));
  auto* grid = new QGridLayout;
  grid->setContentsMargins(5, 0, 5, 0);
  grid->setHorizontalSpacing(12);
  grid->setVerticalSpacing(4);
  root->addLayout(grid);

  int row = 0;
  const auto addRow = [&](const QString& text, const char* name) {
    auto* value = new QLabel(this);
    value->setObjectName(QLatin1String(name));
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont bold = value->font();
    bold.setBold(true);
    value->setFont(bold);
    auto* label = new QLabel(text, this);
    label->setBuddy(value);
    grid->addWidget(label, row, 0);
    grid->addWidget(value, row, 1);
    ++row;
    return value;
  };
  since_ = addRow(QStringLiteral(u"Счёт ведётся с"), "LabelSince");
  requests_ = addRow(QStringLiteral(u"Запросов"), "LabelRequests");
  replies_ = addRow(QStringLiteral(u"Принятых ответов"), "LabelReplies");
  errors_ = addRow(QStringLiteral(u"Ошибок CRC и формата"), "LabelErrors");
  silences_ = addRow(QStringLiteral(u"Без ответа"), "LabelSilences");
  reconnects_ = addRow(QStringLiteral(u"Переподключений"), "LabelReconnects");
  bytesSent_ = addRow(QStringLiteral(u"Передано байт"), "LabelBytesSent");
  bytesReceived_ = addRow(QStringLiteral(u"Принято байт"), "LabelBytesReceived");
  lastReply_ = addRow(QStringLiteral(u"Время ответа последнее, мс"), "LabelLastReply");
  meanReply_ = addRow(QStringLiteral(u"Время ответа среднее, мс"), "LabelMeanReply");
  maxReply_ = addRow(QStringLiteral(u"Время ответа наибольшее, мс"), "LabelMaxReply");
  root->addStretch(1);

  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(8);
  auto* reset = new QPushButton(QStringLiteral(u"Сбросить"), this);
  reset->setObjectName(QStringLiteral("ButtonReset"));
  reset->setToolTip(QStringLiteral(u"Начать счёт заново"));
  auto* close = new QPushButton(QStringLiteral(u"Закрыть"), this);
  close->setObjectName(QStringLiteral("ButtonClose"));
  close->setDefault(true);
  for (QPushButton* b : {reset, close}) b->setFixedSize(82, 27);
  buttons->addWidget(reset);
  buttons->addStretch(1);
  buttons->addWidget(close);
  root->addLayout(buttons);

  connect(reset, &QPushButton::clicked, this, &LinkStatisticsDialog::resetRequested);
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  showStatistics(LinkStatistics{});
  setFixedSize(sizeHint().expandedTo(QSize(300, 0)));
}

void LinkStatisticsDialog::showStatistics(const LinkStatistics& s) {
  since_->setText(s.since.isValid() ? s.since.toString(QStringLiteral("dd.MM.yyyy hh:mm:ss"))
                                    : QString());
  requests_->setText(QString::number(s.requests));
  replies_->setText(QString::number(s.replies));
  errors_->setText(QString::number(s.errors));
  silences_->setText(QString::number(s.silences));
  reconnects_->setText(QString::number(s.reconnects));
  bytesSent_->setText(QString::number(s.bytesSent));
  bytesReceived_->setText(QString::number(s.bytesReceived));
  lastReply_->setText(replyTimeText(s, s.lastReplyMs));
  meanReply_->setText(replyTimeText(s, s.meanReplyMs()));
  maxReply_->setText(replyTimeText(s, s.maxReplyMs));
}
