#include "dialogs/audit_log_dialog.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "data/trail_check.h"
#include "ui/glyphs.h"
#include "platform/seams.h"
#include "ui/widget_seams.h"
#include "storage/atomic_file.h"

namespace {

QString localText(const AuditEntry& e) {
  return QDateTime::fromMSecsSinceEpoch(e.utcMs + qint64(e.utcOffset) * 1000, Qt::UTC)
      .toString(QStringLiteral("dd.MM.yyyy hh:mm:ss"));
}

QString isoText(const AuditEntry& e) {
  QDateTime t = QDateTime::fromMSecsSinceEpoch(e.utcMs, Qt::OffsetFromUTC, e.utcOffset);
  return t.toString(Qt::ISODateWithMs);
}

QString csvField(const QString& f) {
  if (!f.contains(QLatin1Char(';')) && !f.contains(QLatin1Char('"')) && !f.contains(QLatin1Char('\n')) &&
      !f.contains(QLatin1Char('\r')))
    return f;
  return QLatin1Char('"') + QString(f).replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
}

// The seal's digest is for the check, not for reading: a short form.
QString shownValue(const AuditEntry& e, const QString& value) {
  if ((e.kind == AuditKind::DaySealed || e.kind == AuditKind::DayResealed) && value.size() > 40)
    return value.left(40) + QStringLiteral(u"…");
  return value;
}

}  // namespace

AuditLogDialog::AuditLogDialog(QWidget* parent)
    : QDialog(parent),
      range_(this),
      user_(new QComboBox(this)),
      kind_(new QComboBox(this)),
      table_(new QTableWidget(0, 8, this)),
      status_(new QLabel(this)) {
  setObjectName(QStringLiteral("FormAuditLog"));
  setWindowTitle(QStringLiteral(u"Журнал аудита"));
  setWindowIcon(glyphs::windowIcon(glyphs::Window::Main));
  resize(960, 520);
  auto* root = new QVBoxLayout(this);
  auto* filters = new QHBoxLayout;
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral(u"с"), range_.fromEdit());
  form->addRow(QStringLiteral(u"по"), range_.toEdit());
  filters->addLayout(form);
  auto* form2 = new QFormLayout;
  user_->setObjectName(QStringLiteral("AuditUser"));
  kind_->setObjectName(QStringLiteral("AuditKind"));
  kind_->addItem(QStringLiteral(u"все"), 0);
  for (AuditKind k : allAuditKinds()) kind_->addItem(auditKindText(k), int(k));
  form2->addRow(QStringLiteral(u"Пользователь"), user_);
  form2->addRow(QStringLiteral(u"Вид"), kind_);
  filters->addLayout(form2);
  auto* show = new QPushButton(QStringLiteral(u"Показать"), this);
  show->setObjectName(QStringLiteral("ButtonApply"));
  show->setDefault(true);
  connect(show, &QPushButton::clicked, this, &AuditLogDialog::refresh);
  filters->addWidget(show, 0, Qt::AlignBottom);
  filters->addStretch(1);
  root->addLayout(filters);
  range_.daysLabel()->setVisible(false);

  table_->setObjectName(QStringLiteral("AuditTable"));
  table_->setHorizontalHeaderLabels({QStringLiteral(u"№"), QStringLiteral(u"Время"), QStringLiteral(u"Пользователь"),
                                     QStringLiteral(u"Вид"), QStringLiteral(u"Что"), QStringLiteral(u"Было"),
                                     QStringLiteral(u"Стало"), QStringLiteral(u"Описание")});
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->verticalHeader()->setVisible(false);
  table_->horizontalHeader()->setStretchLastSection(true);
  root->addWidget(table_, 1);
  status_->setObjectName(QStringLiteral("AuditStatus"));
  status_->setWordWrap(true);
  root->addWidget(status_);

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* checkButton = buttons->addButton(QStringLiteral(u"Проверить журнал"), QDialogButtonBox::ActionRole);
  QPushButton* exportButton = buttons->addButton(QStringLiteral(u"Экспорт в CSV..."), QDialogButtonBox::ActionRole);
  QPushButton* close = buttons->addButton(QStringLiteral(u"Закрыть"), QDialogButtonBox::RejectRole);
  checkButton->setObjectName(QStringLiteral("ButtonCheck"));
  exportButton->setObjectName(QStringLiteral("ButtonExport"));
  close->setObjectName(QStringLiteral("ButtonClose"));
  for (QPushButton* b : {checkButton, exportButton, close}) b->setAutoDefault(false);
  connect(checkButton, &QPushButton::clicked, this, &AuditLogDialog::check);
  connect(exportButton, &QPushButton::clicked, this, &AuditLogDialog::exportCsv);
  connect(buttons, &QDialogButtonBox::rejected, this, &AuditLogDialog::reject);
  root->addWidget(buttons);
}

void AuditLogDialog::setTrail(const AuditTrail* trail) {
  trail_ = trail;
  const QDate today = seams::currentDateTime().date();
  range_.setDays({today});
  user_->clear();
  user_->addItem(QStringLiteral(u"все"), QString());
  if (trail_)
    for (const QString& u : trail_->users()) user_->addItem(u, u);
  kind_->setCurrentIndex(0);
  status_->clear();
  refresh();
}

void AuditLogDialog::refresh() {
  shown_.clear();
  if (trail_) {
    const QDate from = range_.from(), to = range_.to();
    // A day of the local clock as each entry's own offset had it: a margin of a day each side, then each entry's own date.
    const qint64 start = QDateTime(from.addDays(-1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    const qint64 end = QDateTime(to.addDays(2), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    const QString user = user_->currentData().toString();
    const int kind = kind_->currentData().toInt();
    for (const AuditEntry& e : trail_->entriesBetween(start, end)) {
      const QDate day = QDateTime::fromMSecsSinceEpoch(e.utcMs + qint64(e.utcOffset) * 1000, Qt::UTC).date();
      if (day < from || day > to) continue;
      if (!user.isEmpty() && e.user != user) continue;
      if (kind != 0 && int(e.kind) != kind) continue;
      shown_.append(e);
    }
  }
  table_->setRowCount(int(shown_.size()));
  for (int i = 0; i < shown_.size(); ++i) {
    const AuditEntry& e = shown_[i];
    const QString who = e.user.isEmpty() ? QStringLiteral(u"(%1)").arg(e.osUser) : e.user;
    const QStringList cells{QString::number(e.id), localText(e), who, auditKindText(e.kind), e.subject,
                            shownValue(e, e.before), shownValue(e, e.after), e.text};
    for (int c = 0; c < cells.size(); ++c) table_->setItem(i, c, new QTableWidgetItem(cells[c]));
  }
  table_->resizeColumnsToContents();
}

void AuditLogDialog::check() {
  if (!trail_) {
    status_->setText(QStringLiteral(u"Журнал аудита не ведётся: нет базы данных результатов"));
    return;
  }
  const TrailCheck c = checkTrail(trail_->databasePath(), TrailCheckScope());
  QPalette p = status_->palette();
  p.setColor(QPalette::WindowText, c.isWhole() ? palette().color(QPalette::WindowText) : QColor(Qt::red));
  status_->setPalette(p);
  status_->setText(c.line);
}

QByteArray AuditLogDialog::csv(const QVector<AuditEntry>& entries) {
  QString text;
  const QStringList header{QStringLiteral("id"),     QStringLiteral("time"),    QStringLiteral("user"),
                           QStringLiteral("osUser"), QStringLiteral("kind"),    QStringLiteral("kindText"),
                           QStringLiteral("subject"), QStringLiteral("before"), QStringLiteral("after"),
                           QStringLiteral("text"),   QStringLiteral("prevSha256"), QStringLiteral("sha256")};
  text += header.join(QLatin1Char(';')) + QStringLiteral("\r\n");
  for (const AuditEntry& e : entries) {
    QStringList f{QString::number(e.id), isoText(e), e.user, e.osUser, auditKindName(e.kind), auditKindText(e.kind),
                  e.subject, e.before, e.after, e.text, QString::fromLatin1(e.prevHash.toHex()),
                  QString::fromLatin1(e.hash.toHex())};
    for (QString& s : f) s = csvField(s);
    text += f.join(QLatin1Char(';')) + QStringLiteral("\r\n");
  }
  return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

void AuditLogDialog::exportCsv() {
  const QString proposed = QFileInfo(seams::executablePath())
                               .absoluteDir()
                               .filePath(QStringLiteral("audit-%1-%2.csv")
                                             .arg(range_.from().toString(QStringLiteral("yyyyMMdd")),
                                                  range_.to().toString(QStringLiteral("yyyyMMdd"))));
  const QString name = seams::getSaveFileName(this, QStringLiteral(u"Файлы CSV(*.csv)|*.csv"), proposed);
  if (name.isEmpty()) return;
  QString error;
  if (!writeFileAtomically(name, csv(shown_), &error))
    seams::errorBox(this, QStringLiteral(u"Журнал не сохранён:\r\n%1\r\n%2").arg(name, error));
}
