#include "view/results_table_view.h"

void ResultsTableView::follow(const QModelIndex& index) {
  following_ = true;
  setCurrentIndex(index);
  scrollTo(index);
  following_ = false;
}

void ResultsTableView::verticalScrollbarValueChanged(int value) {
  // The rows have no look of their own under the mouse, so a scroll the
  // program makes needs no hover update; the operator's own scrolling
  // still gets one.
  if (!following_) QTableView::verticalScrollbarValueChanged(value);
}
