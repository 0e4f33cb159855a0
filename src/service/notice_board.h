#pragma once
// The notices of a run, newest last: what the operator was told without
// being asked. The window shows them in a bar and a list, the service prints
// each as it comes. Lives in the thread of the program's front.

#include <QObject>
#include <QVector>

#include "core/notice.h"

class NoticeBoard : public QObject {
  Q_OBJECT
 public:
  // The board keeps the newest this many.
  static constexpr int kKept = 200;

  explicit NoticeBoard(QObject* parent = nullptr);

  void add(const Notice& notice);
  const QVector<Notice>& notices() const { return notices_; }
  // The operator has seen them all.
  void clear();

 signals:
  void added(const Notice& notice);
  void cleared();

 private:
  QVector<Notice> notices_;
};
