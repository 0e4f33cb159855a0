#pragma once

#include <QTableView>

// The results table's view. It follows the newest row without asking the
// window system where the mouse is: the view asks after every scroll, to
// update the row under a resting mouse, and on X11 that is a round trip to
// the display server with every result.
class ResultsTableView : public QTableView {
  Q_OBJECT

 public:
  using QTableView::QTableView;

  // Makes `index` the current cell and scrolls it into view.
  void follow(const QModelIndex& index);

 protected:
  void verticalScrollbarValueChanged(int value) override;

 private:
  bool following_ = false;
};
