#pragma once
// The analyzers of the line at a glance, above the table when there are
// several: a selector (address and name) that switches the window to one of
// them, and a tile for each with its state, its last result's time and its
// lamp (red: not answering, yellow: an emission alarm latched). A click on a
// tile selects its analyzer too. Hidden with one analyzer.

#include <QDateTime>
#include <QWidget>
#include <vector>

class QComboBox;
class QHBoxLayout;
class QToolButton;

class AnalyzerStrip : public QWidget {
  Q_OBJECT
 public:
  explicit AnalyzerStrip(QWidget* parent = nullptr);

  // One title for each analyzer ("1 — адрес 1, boiler-3"); the first selected.
  void setAnalyzers(const QStringList& titles);
  int count() const { return int(tiles_.size()); }
  int selected() const { return selected_; }
  void select(int index);

  void setState(int index, const QString& text);
  void setLinkAlarm(int index, bool alarm);
  void setEmissionAlarm(int index, bool alarm);
  void setLastResult(int index, const QDateTime& at);

 signals:
  void selectedChanged(int index);

 private:
  struct Tile {
    QToolButton* button = nullptr;
    QString title;
    QString state;
    QDateTime lastResult;
    bool linkAlarm = false;
    bool emissionAlarm = false;
    // What the button shows: set again only when it changes (every report
    // of every analyzer comes here, the lamp rarely changes).
    QString shownText;
    int shownLamp = -1;
  };
  void showTile(int index);

  QComboBox* selector_;
  QHBoxLayout* tilesRow_;
  std::vector<Tile> tiles_;
  int selected_ = 0;
};
