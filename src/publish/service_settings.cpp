#include "publish/service_settings.h"

#include <libpq-fe.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <memory>

#include "platform/seams.h"

namespace publish {

namespace {

const QString kMode = QStringLiteral("Service/Mode");
const QString kSite = QStringLiteral("Analyzer/Site");
const QString kName = QStringLiteral("Analyzer/Name");
// Slot 2 is index 0.
QString otherNameKey(size_t index) { return kName + QString::number(index + 2); }
bool badTopicLevel(const QString& name);
const QString kMqttEnabled = QStringLiteral("Mqtt/Enabled");
const QString kMqttHost = QStringLiteral("Mqtt/Host");
const QString kMqttPort = QStringLiteral("Mqtt/Port");
const QString kMqttTls = QStringLiteral("Mqtt/Tls");
const QString kMqttCaFile = QStringLiteral("Mqtt/CaFile");
const QString kMqttInsecure = QStringLiteral("Mqtt/Insecure");
const QString kMqttUser = QStringLiteral("Mqtt/User");
const QString kMqttPassword = QStringLiteral("Mqtt/Password");
const QString kMqttKeepAlive = QStringLiteral("Mqtt/KeepAliveSeconds");
const QString kMqttRetryMin = QStringLiteral("Mqtt/RetryMinMs");
const QString kMqttRetryMax = QStringLiteral("Mqtt/RetryMaxMs");
const QString kCentralEnabled = QStringLiteral("Central/Enabled");
const QString kCentralConnection = QStringLiteral("Central/Connection");
const QString kCentralRetryMin = QStringLiteral("Central/RetryMinMs");
const QString kCentralRetryMax = QStringLiteral("Central/RetryMaxMs");
const QString kCentralBatch = QStringLiteral("Central/BatchSize");

constexpr int kMaxRetryMs = 3600 * 1000;

// The value as typed. QSettings splits an unquoted "a,b" into a list.
QString text(const QVariant& v) {
  if (v.metaType().id() == QMetaType::QStringList) return v.toStringList().join(QLatin1Char(','));
  return v.toString();
}

struct PqOptions {
  PQconninfoOption* options = nullptr;
  ~PqOptions() {
    if (options) PQconninfoFree(options);
  }
};

// Parsed connection string; false when libpq cannot read it. libpq's own
// message is dropped: it may quote a piece of the string, password included.
bool parseConnection(const QString& connection, PqOptions* out) {
  char* error = nullptr;
  out->options = PQconninfoParse(connection.toUtf8().constData(), &error);
  if (error) PQfreemem(error);
  return out->options != nullptr;
}

// Reads keys into values; a key whose value is wrong keeps the default, is
// named in the problems, and marks its section ("Mqtt", ...) as unusable.
class Reader {
 public:
  Reader(QSettings& s, QStringList& problems, QSet<QString>& badSections)
      : s_(s), problems_(problems), badSections_(badSections) {}

  void string(const QString& key, QString& into) {
    if (s_.contains(key)) into = text(s_.value(key)).trimmed();
  }
  // Passwords keep their spaces and are never quoted back in a problem.
  void secret(const QString& key, QString& into) {
    if (s_.contains(key)) into = text(s_.value(key));
  }
  void flag(const QString& key, bool& into) {
    if (!s_.contains(key)) return;
    const QString t = text(s_.value(key)).trimmed().toLower();
    if (t == QLatin1String("true") || t == QLatin1String("1") || t == QLatin1String("yes"))
      into = true;
    else if (t == QLatin1String("false") || t == QLatin1String("0") || t == QLatin1String("no") || t.isEmpty())
      into = false;
    else
      problem(key, QStringLiteral(u"не true и не false"), t);
  }
  void integer(const QString& key, int& into, int min, int max, const QString& what) {
    if (!s_.contains(key)) return;
    const QString t = text(s_.value(key)).trimmed();
    bool ok = false;
    const int v = t.toInt(&ok);
    if (ok && v >= min && v <= max)
      into = v;
    else
      problem(key, what, t);
  }
  void problem(const QString& key, const QString& why, const QString& value) {
    problems_.append(QStringLiteral("%1: %2: %3").arg(key, why, value));
    badSections_.insert(key.section(QLatin1Char('/'), 0, 0));
  }

 private:
  QSettings& s_;
  QStringList& problems_;
  QSet<QString>& badSections_;
};

// The sections with a wrong value in them.
QSet<QString> readSettings(QSettings& s, ServiceSettingsLoad& out) {
  ServiceSettings& v = out.settings;
  QSet<QString> badSections;
  Reader r(s, out.problems, badSections);
  QString mode = v.mode;
  r.string(kMode, mode);
  mode = mode.toLower();
  if (QStringList{QStringLiteral("continuous"), QStringLiteral("single"), QStringLiteral("cyclic"),
                  QStringLiteral("none")}
          .contains(mode))
    v.mode = mode;
  else
    r.problem(kMode, QStringLiteral(u"не continuous, single, cyclic или none"), mode);
  r.string(kSite, v.site);
  r.string(kName, v.analyzerName);
  for (size_t i = 0; i < v.otherNames.size(); ++i) {
    r.string(otherNameKey(i), v.otherNames[i]);
    if (!v.otherNames[i].isEmpty() && badTopicLevel(v.otherNames[i])) {
      r.problem(otherNameKey(i), QStringLiteral(u"содержит '/', '+' или '#'"), v.otherNames[i]);
      v.otherNames[i].clear();
    }
  }

  MqttSettings& m = v.mqtt;
  r.flag(kMqttEnabled, m.enabled);
  r.string(kMqttHost, m.host);
  r.integer(kMqttPort, m.port, 0, 65535, QStringLiteral(u"не номер порта 1..65535 (0 — порт по умолчанию)"));
  r.flag(kMqttTls, m.tls);
  r.string(kMqttCaFile, m.caFile);
  r.flag(kMqttInsecure, m.insecure);
  r.string(kMqttUser, m.user);
  r.secret(kMqttPassword, m.password);
  r.integer(kMqttKeepAlive, m.keepAliveSeconds, 5, 65535, QStringLiteral(u"не 5..65535 с"));
  r.integer(kMqttRetryMin, m.retryMinMs, 10, kMaxRetryMs, QStringLiteral(u"не 10..3600000 мс"));
  r.integer(kMqttRetryMax, m.retryMaxMs, 10, kMaxRetryMs, QStringLiteral(u"не 10..3600000 мс"));

  CentralSettings& c = v.central;
  r.flag(kCentralEnabled, c.enabled);
  r.secret(kCentralConnection, c.connection);
  c.connection = c.connection.trimmed();
  r.integer(kCentralRetryMin, c.retryMinMs, 10, kMaxRetryMs, QStringLiteral(u"не 10..3600000 мс"));
  r.integer(kCentralRetryMax, c.retryMaxMs, 10, kMaxRetryMs, QStringLiteral(u"не 10..3600000 мс"));
  r.integer(kCentralBatch, c.batchSize, 1, 5000, QStringLiteral(u"не 1..5000"));

  // What keeps an enabled part from working is a problem of the file too.
  if (m.enabled || c.enabled) out.problems += identityProblems(v.site, v.analyzerName);
  if (m.enabled) out.problems += mqttProblems(m);
  if (c.enabled) out.problems += centralProblems(c);
  out.problems.removeDuplicates();
  return badSections;
}

void writeSettings(QSettings& s, const ServiceSettings& v) {
  // Its own sections only: the file's others (the web view's) stay.
  for (const char* group : {"Service", "Analyzer", "Mqtt", "Central"}) s.remove(QLatin1String(group));
  s.setValue(kMode, v.mode);
  s.setValue(kSite, v.site);
  s.setValue(kName, v.analyzerName);
  for (size_t i = 0; i < v.otherNames.size(); ++i)
    if (!v.otherNames[i].isEmpty()) s.setValue(otherNameKey(i), v.otherNames[i]);
  const MqttSettings& m = v.mqtt;
  s.setValue(kMqttEnabled, m.enabled);
  s.setValue(kMqttHost, m.host);
  s.setValue(kMqttPort, m.port);
  s.setValue(kMqttTls, m.tls);
  s.setValue(kMqttCaFile, m.caFile);
  s.setValue(kMqttInsecure, m.insecure);
  s.setValue(kMqttUser, m.user);
  s.setValue(kMqttPassword, m.password);
  s.setValue(kMqttKeepAlive, m.keepAliveSeconds);
  s.setValue(kMqttRetryMin, m.retryMinMs);
  s.setValue(kMqttRetryMax, m.retryMaxMs);
  const CentralSettings& c = v.central;
  s.setValue(kCentralEnabled, c.enabled);
  s.setValue(kCentralConnection, c.connection);
  s.setValue(kCentralRetryMin, c.retryMinMs);
  s.setValue(kCentralRetryMax, c.retryMaxMs);
  s.setValue(kCentralBatch, c.batchSize);
}

// A host name, an IPv4 address or an IPv6 address, without a port.
bool isHostName(const QString& host) {
  if (!QHostAddress(host).isNull()) return true;
  for (const QChar c : host)
    if (!(c.isLetterOrNumber() || c == QLatin1Char('.') || c == QLatin1Char('-') || c == QLatin1Char('_'))) return false;
  return true;
}

bool badTopicLevel(const QString& name) {
  return name.isEmpty() || name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('+')) ||
         name.contains(QLatin1Char('#')) || name.contains(QChar(0));
}

}  // namespace

bool MqttSettings::operator==(const MqttSettings& o) const {
  return enabled == o.enabled && host == o.host && port == o.port && tls == o.tls && caFile == o.caFile &&
         insecure == o.insecure && user == o.user && password == o.password &&
         keepAliveSeconds == o.keepAliveSeconds && retryMinMs == o.retryMinMs && retryMaxMs == o.retryMaxMs;
}

bool CentralSettings::operator==(const CentralSettings& o) const {
  return enabled == o.enabled && connection == o.connection && retryMinMs == o.retryMinMs &&
         retryMaxMs == o.retryMaxMs && batchSize == o.batchSize;
}

QString ServiceSettings::nameOf(int slot) const {
  if (slot <= 1) return analyzerName;
  const size_t i = size_t(slot - 2);
  if (i < otherNames.size() && !otherNames[i].isEmpty()) return otherNames[i];
  return analyzerName + QLatin1Char('-') + QString::number(slot);
}

bool ServiceSettings::holdsPassword() const {
  return !mqtt.password.isEmpty() || connectionHasPassword(central.connection);
}

QStringList identityProblems(const QString& site, const QString& analyzerName) {
  QStringList p;
  if (badTopicLevel(site)) p << QStringLiteral(u"%1: пусто или содержит '/', '+' или '#'").arg(kSite);
  if (badTopicLevel(analyzerName)) p << QStringLiteral(u"%1: пусто или содержит '/', '+' или '#'").arg(kName);
  return p;
}

QStringList mqttProblems(const MqttSettings& m) {
  QStringList p;
  if (m.host.trimmed().isEmpty())
    p << QStringLiteral(u"%1: не задан").arg(kMqttHost);
  else if (!isHostName(m.host.trimmed()))
    p << QStringLiteral(u"%1: не имя узла и не адрес (порт задаётся в Mqtt/Port): %2").arg(kMqttHost, m.host.trimmed());
  if (m.port < 0 || m.port > 65535) p << QStringLiteral(u"%1: не номер порта 1..65535").arg(kMqttPort);
  if (m.tls && !m.caFile.isEmpty() && !QFileInfo(m.caFile).isFile())
    p << QStringLiteral(u"%1: нет такого файла: %2").arg(kMqttCaFile, m.caFile);
  if (!m.password.isEmpty() && m.user.isEmpty())
    p << QStringLiteral(u"%1: пароль задан без имени пользователя").arg(kMqttUser);
  if (m.retryMinMs > m.retryMaxMs) p << QStringLiteral(u"%1: больше, чем %2").arg(kMqttRetryMin, kMqttRetryMax);
  return p;
}

QStringList centralProblems(const CentralSettings& c) {
  QStringList p;
  PqOptions parsed;
  if (c.connection.isEmpty())
    p << QStringLiteral(u"%1: не задана").arg(kCentralConnection);
  else if (!parseConnection(c.connection, &parsed))
    p << QStringLiteral(u"%1: не строка подключения libpq").arg(kCentralConnection);
  if (c.retryMinMs > c.retryMaxMs)
    p << QStringLiteral(u"%1: больше, чем %2").arg(kCentralRetryMin, kCentralRetryMax);
  if (c.batchSize < 1) p << QStringLiteral("%1: not 1..5000").arg(kCentralBatch);
  return p;
}

QString describeConnection(const QString& connection) {
  PqOptions parsed;
  if (!parseConnection(connection, &parsed)) return QStringLiteral(u"(неверная строка подключения)");
  QStringList parts;
  for (const char* key : {"host", "hostaddr", "port", "dbname", "user", "sslmode"}) {
    for (PQconninfoOption* o = parsed.options; o->keyword; ++o) {
      if (qstrcmp(o->keyword, key) == 0 && o->val && *o->val)
        parts << QStringLiteral("%1=%2").arg(QLatin1String(key), QString::fromUtf8(o->val));
    }
  }
  return parts.isEmpty() ? QStringLiteral(u"(параметры libpq по умолчанию)") : parts.join(QLatin1Char(' '));
}

bool connectionHasPassword(const QString& connection) {
  if (connection.isEmpty()) return false;
  PqOptions parsed;
  // A string libpq cannot read may still hold one: one that names a
  // password, or a URI with a user's password before its '@'.
  if (!parseConnection(connection, &parsed)) {
    static const QRegularExpression uriPassword(QStringLiteral("^[a-z]+://[^/@]*:[^/@]*@"),
                                                QRegularExpression::CaseInsensitiveOption);
    return connection.contains(QLatin1String("password"), Qt::CaseInsensitive) ||
           uriPassword.match(connection).hasMatch();
  }
  for (PQconninfoOption* o = parsed.options; o->keyword; ++o)
    if (qstrcmp(o->keyword, "password") == 0 && o->val && *o->val) return true;
  return false;
}

bool isConnectionString(const QString& connection) {
  PqOptions parsed;
  return parseConnection(connection, &parsed);
}

QString defaultServiceSettingsPath() {
  const QFileInfo exe(seams::executablePath());
  return exe.absoluteDir().filePath(exe.completeBaseName() + QStringLiteral("-service.ini"));
}

QString ServiceSettingsLoad::message() const {
  QString m;
  switch (status) {
    case ServiceSettingsStatus::Loaded:
      break;
    case ServiceSettingsStatus::Missing:
      m = QStringLiteral(u"Файл настроек публикации не найден; публикация и центральная база данных выключены.");
      break;
    case ServiceSettingsStatus::Unreadable:
      m = QStringLiteral(u"Файл настроек публикации не читается; публикация и центральная база данных выключены.");
      break;
    case ServiceSettingsStatus::Broken:
      m = QStringLiteral(u"Файл настроек публикации повреждён (не файл INI); публикация и центральная база "
                         u"данных выключены.");
      break;
    case ServiceSettingsStatus::InvalidValues:
      m = QStringLiteral(u"Настройки публикации: ") + problems.join(QStringLiteral("; ")) + QLatin1Char('.');
      break;
  }
  for (const QString& w : warnings) m += (m.isEmpty() ? QString() : QStringLiteral(" ")) + w + QLatin1Char('.');
  return m;
}

ServiceSettingsLoad loadServiceSettings(const QString& path) {
  ServiceSettingsLoad out;
  const QFileInfo info(path);
  if (!info.exists()) {
    out.status = ServiceSettingsStatus::Missing;
    return out;
  }
  QFile probe(path);
  if (!info.isFile() || !probe.open(QIODevice::ReadOnly)) {
    out.status = ServiceSettingsStatus::Unreadable;
    return out;
  }
  // QSettings takes NUL bytes and other binary junk for keys: a text file
  // is all this can be.
  const QByteArray bytes = probe.read(1 << 20);
  probe.close();
  if (bytes.contains('\0') || info.size() > (1 << 20)) {
    out.status = ServiceSettingsStatus::Broken;
    return out;
  }
  QSettings s(path, QSettings::IniFormat);
  if (s.status() == QSettings::AccessError) {
    out.status = ServiceSettingsStatus::Unreadable;
    return out;
  }
  if (s.status() == QSettings::FormatError) {
    out.status = ServiceSettingsStatus::Broken;
    return out;
  }
  const QSet<QString> bad = readSettings(s, out);
  if (!out.problems.isEmpty()) {
    // Enabled parts that cannot work as written are switched off, not half
    // used: a wrong value kept its default, and a default address is
    // somebody else's broker or server.
    out.status = ServiceSettingsStatus::InvalidValues;
    if (bad.contains(QStringLiteral("Analyzer")) ||
        !identityProblems(out.settings.site, out.settings.analyzerName).isEmpty()) {
      out.settings.mqtt.enabled = false;
      out.settings.central.enabled = false;
    }
    if (bad.contains(QStringLiteral("Mqtt")) || !mqttProblems(out.settings.mqtt).isEmpty())
      out.settings.mqtt.enabled = false;
    if (bad.contains(QStringLiteral("Central")) || !centralProblems(out.settings.central).isEmpty())
      out.settings.central.enabled = false;
  }
  constexpr auto kOthers = QFileDevice::ReadGroup | QFileDevice::ReadOther;
  if (out.settings.holdsPassword() && (info.permissions() & kOthers))
    out.warnings << QStringLiteral(u"Файл настроек публикации содержит пароль и доступен для чтения "
                                   u"другим пользователям: %1").arg(QDir::toNativeSeparators(path));
  return out;
}

bool saveServiceSettings(const QString& path, const ServiceSettings& settings, QString* error) {
  auto fail = [error](const QString& why) {
    if (error) *error = why;
    return false;
  };
  // Refused rather than written: the next load would switch the part off.
  QStringList problems;
  if (settings.mqtt.enabled || settings.central.enabled)
    problems += identityProblems(settings.site, settings.analyzerName);
  if (settings.mqtt.enabled) problems += mqttProblems(settings.mqtt);
  if (settings.central.enabled) problems += centralProblems(settings.central);
  if (!problems.isEmpty()) return fail(problems.join(QStringLiteral("; ")));
  // QSettings writes the text into a private directory; the file itself is
  // written here, so that it never exists with wider permissions.
  QTemporaryDir scratch;
  if (!scratch.isValid()) return fail(QStringLiteral(u"не могу создать временный каталог"));
  const QString draft = scratch.filePath(QStringLiteral("service.ini"));
  // The file's other sections (the web view's, ...) are kept as they are.
  if (QFileInfo::exists(path) && QSettings(path, QSettings::IniFormat).status() == QSettings::NoError)
    QFile::copy(path, draft);
  {
    QSettings s(draft, QSettings::IniFormat);
    writeSettings(s, settings);
    s.sync();
    if (s.status() != QSettings::NoError) return fail(QStringLiteral(u"не могу подготовить текст настроек"));
  }
  QFile draftFile(draft);
  if (!draftFile.open(QIODevice::ReadOnly)) return fail(QStringLiteral(u"не могу подготовить текст настроек"));
  const QByteArray bytes = draftFile.readAll();

  QSaveFile file(path);
  file.setDirectWriteFallback(false);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return fail(file.errorString());
  // A file kept from other users stays so: its other sections may hold secrets too.
  const bool wasPrivate =
      QFileInfo::exists(path) && !(QFile::permissions(path) & (QFileDevice::ReadGroup | QFileDevice::ReadOther));
  if ((settings.holdsPassword() || wasPrivate) &&
      !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
    file.cancelWriting();
    return fail(QStringLiteral(u"не могу закрыть файл от других пользователей: ") + file.errorString());
  }
  if (file.write(bytes) != bytes.size() || !file.commit()) return fail(file.errorString());

  const ServiceSettingsLoad back = loadServiceSettings(path);
  if (back.status != ServiceSettingsStatus::Loaded || !(back.settings == settings))
    return fail(QStringLiteral(u"записанный файл не читается обратно: ") + QDir::toNativeSeparators(path));
  return true;
}

}  // namespace publish
