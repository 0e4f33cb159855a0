#include "service/web_view.h"

#include <QRegularExpression>
#include <QTimer>

#include "publish/service_settings.h"
#include "service/session.h"
#include "service/web_sources.h"
#include "web/local_history.h"
#include "web/web_json.h"

WebView::WebView(Session& session, QObject* parent) : QObject(parent), session_(session) {
  connect(&service_, &web::WebService::message, this, &WebView::message);
}

WebView::~WebView() { stop(); }

void WebView::listenTo(size_t unit) {
  Session* s = units_[unit].session;
  connect(s, &Session::resultRecorded, this, [this, unit](qint64 seq, const Result&) {
    units_[unit].lastSeq = seq;
    schedule(unit);
  });
  connect(s, &Session::emissionsChanged, this, [this, unit] { schedule(unit); });
  connect(s, &Session::stateTextChanged, this, [this, unit](const QString& text) {
    units_[unit].state = text;
    schedule(unit);
  });
  connect(s, &Session::linkAlarmChanged, this, [this, unit] { schedule(unit); });
}

void WebView::start() {
  stop();
  const QString settingsPath = publish::defaultServiceSettingsPath();
  const publish::ServiceSettings identity = publish::loadServiceSettings(settingsPath).settings;
  site_ = identity.site;
  // The line's analyzers are known once the session's host has started.
  const bool first = units_.empty();
  for (int i = 0; i < session_.analyzerCount(); ++i) {
    Session* s = session_.analyzer(i);
    const QString name = identity.analyzerName.isEmpty() ? QString() : identity.nameOf(s->slot());
    QString id = (site_ + QLatin1Char('-') + name).toLower();
    id.replace(QRegularExpression(QStringLiteral("[^a-z0-9_.-]+")), QStringLiteral("_"));
    // Without names: by address (a further analyzer also beside a site's name).
    if ((site_.isEmpty() || i > 0) && name.isEmpty()) id = QStringLiteral("analyzer-%1").arg(s->measuring().address);
    if (first) {
      units_.push_back(Unit{s, id, name, QString(), 0, false});
      listenTo(units_.size() - 1);
    } else if (size_t(i) < units_.size()) {
      units_[size_t(i)].id = id;
      units_[size_t(i)].name = name;
    }
  }
  std::unique_ptr<web::LocalHistory> history;
  for (Unit& u : units_) {
    const web::AnalyzerInfo info{u.id, site_, u.name, u.session->measuring().address};
    if (!history)
      history = std::make_unique<web::LocalHistory>(u.session->store().path(), info);
    else
      history->addAnalyzer(u.session->store().path(), info);
    history->setBasis(u.session->emissions().config(), u.session->emissions().settings().limits, u.id);
    u.lastSeq = u.session->store().lastCommittedSeq();
    u.changed = true;
  }
  history_ = history.get();
  // The program's accounts and its audit trail, as the window has them.
  const web::MakeUsers users = [](const QString& settingsPasswordHash) {
    return std::make_unique<AccountUsers>(UserAccounts::defaultPath(), settingsPasswordHash);
  };
  if (!web::startFromSettings(service_, settingsPath, std::move(history),
                              [this](const QString& line) { emit message(line); }, false, users,
                              std::make_unique<TrailAudit>(session_.store().path()))) {
    history_ = nullptr;
    return;
  }
  if (!service_.isRunning()) {
    history_ = nullptr;
    return;
  }
  publish();
}

void WebView::stop() {
  service_.stop();
  history_ = nullptr;
}

void WebView::schedule(size_t unit) {
  units_[unit].changed = true;
  // Several signals of one result make one snapshot.
  if (scheduled_ || !service_.isRunning()) return;
  scheduled_ = true;
  QTimer::singleShot(0, this, [this] {
    scheduled_ = false;
    publish();
  });
}

void WebView::publish() {
  if (!service_.isRunning()) return;
  for (Unit& u : units_) {
    if (!u.changed) continue;
    u.changed = false;
    Session& session = *u.session;
    const emissions::MonitorState e = session.emissions().state();
    if (history_) history_->setBasis(session.emissions().config(), session.emissions().settings().limits, u.id);
    web::LiveSnapshot s;
    s.id = u.id;
    s.site = site_;
    s.name = u.name;
    s.address = session.measuring().address;
    s.state = u.state;
    // Answering: one of the analyzer's own states, not the program's "no answer" ones.
    s.linkOk = session.pollCycle().analyzerState() <= AnalyzerState::Manual;
    if (e.lastResult) s.last = StoredResult{u.lastSeq, *e.lastResult};
    s.lastEmissions = e.current;
    s.o2Ref = e.o2Ref;
    if (e.running) s.running = web::shownAverage(*e.running);
    if (e.lastInterval) s.lastInterval = web::shownAverage(*e.lastInterval);
    if (e.today) s.today = web::shownAverage(*e.today);
    s.lamp = e.lamp;
    s.latched = e.latched;
    s.limits = e.limits;
    s.intervalMinutes = e.intervalMinutes;
    service_.hub().publish(s);
  }
}
