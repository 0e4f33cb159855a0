#include "service/notice_board.h"

NoticeBoard::NoticeBoard(QObject* parent) : QObject(parent) {}

void NoticeBoard::add(const Notice& notice) {
  notices_.append(notice);
  if (notices_.size() > kKept) notices_.remove(0, notices_.size() - kKept);
  emit added(notice);
}

void NoticeBoard::clear() {
  notices_.clear();
  emit cleared();
}
