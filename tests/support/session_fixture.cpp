#include "support/session_fixture.h"

#include <QDir>
#include <limits>

#include "support/test_settings.h"

void SessionFixture::SetUp() {
  ASSERT_TRUE(dir_.isValid());
  exePath_ = QDir(dir_.path()).filePath(QStringLiteral("korvex"));
  seams::setExecutablePath(exePath_);
  seams::setLocale(QLocale(QLocale::Russian, QLocale::Russia));
  now_ = QDateTime(QDate(2026, 12, 6), QTime(10, 0, 0));
  seams::setClock([this] { return now_; });
  installFakeSerial(serial_);
  hostOptions_ = SessionHost::Options();
  hostOptions_.threading = SessionHost::Threading::CallerThread;
  hostOptions_.helperThreading = SessionHost::Threading::CallerThread;
}

void SessionFixture::TearDown() {
  stopProgram();
  clearFakeSerial();
  seams::resetAll();
}

void SessionFixture::stopProgram() { host_.reset(); }

QString SessionFixture::inDir(const QString& name) const { return QDir(dir_.path()).filePath(name); }

void SessionFixture::writeDefaultSettings(const QString& portName) {
  ASSERT_TRUE(test_settings::writeDefaults(portName));
}

void SessionFixture::follow(bool table) {
  QObject::connect(&host_->notices(), &NoticeBoard::added, &table_,
                   [this](const Notice& n) { notices_.push_back(n); });
  if (!table) return;
  const Session* s = host_->session();
  QObject::connect(s, &Session::resultsRestored, &table_, [this](const QVector<Result>& results) {
    table_.beginLoad();
    for (const Result& r : results) table_.append(r);
    table_.endLoad();
  });
  QObject::connect(s, &Session::resultRecorded, &table_, [this](qint64, const Result& r) { table_.append(r); });
  QObject::connect(s, &Session::newDay, &table_, [this](bool clear) {
    if (clear) table_.clear();
  });
}

void SessionFixture::startSession() {
  table_.clear();
  host_ = std::make_unique<SessionHost>(hostOptions_);
  follow();
  host_->start();
}

void SessionFixture::startSessionWithDefaults() {
  writeDefaultSettings();
  startSession();
  ASSERT_TRUE(takeNotices().empty());
}

void SessionFixture::changeMeasuring(const std::function<void(MeasuringSettings&)>& change) {
  MeasuringSettings m = settings().measuring();
  change(m);
  settings().setMeasuring(m);
}

void SessionFixture::changeView(const std::function<void(ViewSettings&)>& change) {
  ViewSettings v = settings().view();
  change(v);
  settings().setView(v);
}

void SessionFixture::changePrint(const std::function<void(PrintSettings&)>& change) {
  PrintSettings p = settings().print();
  change(p);
  settings().setPrint(p);
}

QVector<StoredEvent> SessionFixture::events(EventKind kind) const {
  QVector<StoredEvent> out;
  for (const StoredEvent& e : session().store().events(0, std::numeric_limits<qint64>::max()))
    if (e.kind == kind) out << e;
  return out;
}

std::vector<Notice> SessionFixture::takeNotices() {
  std::vector<Notice> out;
  out.swap(notices_);
  return out;
}

int SessionFixture::lamp() const { return int(session().emissions().state().lamp); }

QString SessionFixture::cell(int column, int gridRow) const {
  if (gridRow == 0) return results().header(column);
  return results().cell(gridRow - 1, column);
}

int SessionFixture::gridRows() const { return 1 + std::max(results().count(), 1); }

void SessionFixture::arrive(const Frame& bytes) { session().link().receive(bytes.data(), int(bytes.size())); }

void SessionFixture::tick() { session().pollTimer()->fire(); }

void SessionFixture::tickWith(const Frame& reply) {
  arrive(reply);
  tick();
}

void SessionFixture::addResult(const Measurement& m, int seconds) {
  const QDateTime at = now_.addSecs(seconds);
  Result r;
  r.utcMs = at.toMSecsSinceEpoch();
  r.utcOffset = at.offsetFromUtc();
  r.faultBits = m.faultBits;
  r.values = m.values;
  emit session().pollCycle().resultTaken(r);
}
