#pragma once
// "Журнал аудита": the audit trail's entries of a range of days, filtered
// by user and kind, the check of the whole trail, and the entries shown
// exported as CSV (UTF-8, ';', with both hashes, for an auditor's tools).

#include <QDialog>
#include <QVector>

#include "data/audit_trail.h"
#include "dialogs/day_range.h"

class QComboBox;
class QLabel;
class QTableWidget;

class AuditLogDialog : public QDialog {
  Q_OBJECT
 public:
  explicit AuditLogDialog(QWidget* parent = nullptr);

  // The trail to show (none: nothing to show); the range starts as today.
  void setTrail(const AuditTrail* trail);

  // "Показать": the entries of the range and filters.
  void refresh();
  // "Проверить": the whole trail checked, the result in the dialog.
  void check();
  // "Экспорт в CSV...": the entries shown.
  void exportCsv();

  const QVector<AuditEntry>& shown() const { return shown_; }

  // The CSV text of entries.
  static QByteArray csv(const QVector<AuditEntry>& entries);

 private:
  const AuditTrail* trail_ = nullptr;
  DayRange range_;
  QComboBox* user_;
  QComboBox* kind_;
  QTableWidget* table_;
  QLabel* status_;
  QVector<AuditEntry> shown_;
};
