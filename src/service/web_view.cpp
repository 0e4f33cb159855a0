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
  connect(&session_, &Session::resultRecorded, this, [this](qint64 seq, const Result&) {
    lastSeq_ = seq;
    schedule();
  });
  connect(&session_, &Session::emissionsChanged, this, &WebView::schedule);
  connect(&session_, &Session::stateTextChanged, this, [this](const QString& text) {
    state_ = text;
    schedule();
  });
  connect(&session_, &Session::linkAlarmChanged, this, &WebView::schedule);
}

WebView::~WebView() { stop(); }

void WebView::start() {
  stop();
  const QString settingsPath = publish::defaultServiceSettingsPath();
  const publish::ServiceSettings identity = publish::loadServiceSettings(settingsPath).settings;
  site_ = identity.site;
  name_ = identity.analyzerName;
  const int address = session_.measuring().address;
  QString id = (site_ + QLatin1Char('-') + name_).toLower();
  id.replace(QRegularExpression(QStringLiteral("[^a-z0-9_.-]+")), QStringLiteral("_"));
  id_ = site_.isEmpty() && name_.isEmpty() ? QStringLiteral("analyzer-%1").arg(address) : id;
  auto history = std::make_unique<web::LocalHistory>(session_.store().path(),
                                                      web::AnalyzerInfo{id_, site_, name_, address});
  history_ = history.get();
  lastSeq_ = session_.store().lastCommittedSeq();
  history_->setBasis(session_.emissions().config(), session_.emissions().settings().limits);
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

void WebView::schedule() {
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
  const emissions::MonitorState e = session_.emissions().state();
  if (history_) history_->setBasis(session_.emissions().config(), session_.emissions().settings().limits);
  web::LiveSnapshot s;
  s.id = id_;
  s.site = site_;
  s.name = name_;
  s.address = session_.measuring().address;
  s.state = state_;
  // Answering: one of the analyzer's own states, not the program's "no answer" ones.
  s.linkOk = session_.pollCycle().analyzerState() <= AnalyzerState::Manual;
  if (e.lastResult) s.last = StoredResult{lastSeq_, *e.lastResult};
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
