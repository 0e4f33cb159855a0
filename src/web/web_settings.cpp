#include "web/web_settings.h"

#include <sodium.h>

#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace web {

namespace {

const QString kEnabled = QStringLiteral("Web/Enabled");
const QString kAddress = QStringLiteral("Web/Address");
const QString kPort = QStringLiteral("Web/Port");
const QString kCertificate = QStringLiteral("Web/Certificate");
const QString kKey = QStringLiteral("Web/Key");
const QString kAllowPlain = QStringLiteral("Web/AllowPlainHttp");
const QString kPasswordHash = QStringLiteral("Web/PasswordHash");

bool sodiumReady() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

// QSettings splits an unquoted "a,b" into a list.
QString text(const QVariant& v) {
  if (v.metaType().id() == QMetaType::QStringList) return v.toStringList().join(QLatin1Char(','));
  return v.toString().trimmed();
}

bool readFlag(const QSettings& s, const QString& key, bool* into, QStringList* problems) {
  if (!s.contains(key)) return true;
  const QString t = text(s.value(key)).toLower();
  if (t == QLatin1String("true") || t == QLatin1String("1") || t == QLatin1String("yes")) {
    *into = true;
  } else if (t == QLatin1String("false") || t == QLatin1String("0") || t == QLatin1String("no")) {
    *into = false;
  } else {
    *problems << QStringLiteral(u"%1: не true/false: %2").arg(key, t);
    return false;
  }
  return true;
}

}  // namespace

WebSettingsLoad loadWebSettings(const QString& path) {
  WebSettingsLoad out;
  if (!QFileInfo::exists(path)) return out;
  QSettings s(path, QSettings::IniFormat);
  if (s.status() != QSettings::NoError) {
    out.problems << QStringLiteral(u"файл %1 не читается").arg(path);
    return out;
  }
  WebSettings& w = out.settings;
  readFlag(s, kEnabled, &w.enabled, &out.problems);
  if (s.contains(kAddress)) w.address = text(s.value(kAddress));
  if (s.contains(kPort)) {
    bool ok = false;
    const QString t = text(s.value(kPort));
    w.port = t.toInt(&ok);
    if (!ok || w.port < 0 || w.port > 65535) {
      out.problems << QStringLiteral(u"%1: не номер порта 0..65535: %2").arg(kPort, t);
      w.port = 8080;
    }
  }
  if (s.contains(kCertificate)) w.certificateFile = text(s.value(kCertificate));
  if (s.contains(kKey)) w.keyFile = text(s.value(kKey));
  readFlag(s, kAllowPlain, &w.allowPlainHttp, &out.problems);
  if (s.contains(kPasswordHash)) w.passwordHash = text(s.value(kPasswordHash));
  if (!w.enabled) return out;
  out.problems += webProblems(w);
  if (out.problems.isEmpty() && !w.loopbackOnly() && !w.https())
    out.warnings << QStringLiteral(u"веб-страницы отдаются на %1 без HTTPS (Web/AllowPlainHttp=true): пароль и данные идут по сети открытыми")
                        .arg(w.address);
  return out;
}

QStringList webProblems(const WebSettings& w, bool haveUsers) {
  QStringList p;
  QHostAddress address;
  if (!address.setAddress(w.address)) p << QStringLiteral(u"%1: не IP-адрес: %2").arg(kAddress, w.address);
  if (w.port < 0 || w.port > 65535) p << QStringLiteral(u"%1: не номер порта 0..65535: %2").arg(kPort).arg(w.port);
  if (w.https()) {
    for (const auto& [key, file] : {std::pair{kCertificate, w.certificateFile}, std::pair{kKey, w.keyFile}}) {
      if (file.isEmpty())
        p << QStringLiteral(u"%1: не задан (для HTTPS нужны сертификат и ключ)").arg(key);
      else if (!QFileInfo(file).isReadable())
        p << QStringLiteral(u"%1: файл не читается: %2").arg(key, file);
    }
  } else if (p.isEmpty() && !address.isLoopback() && !w.allowPlainHttp) {
    p << QStringLiteral(u"%1: адрес %2 не локальный: нужны Web/Certificate и Web/Key (HTTPS) или Web/AllowPlainHttp=true")
             .arg(kAddress, w.address);
  }
  if (!w.passwordHash.isEmpty() && !w.passwordHash.startsWith(QLatin1String("$argon2id$")))
    p << QStringLiteral(u"%1: не хеш Argon2id (задайте пароль командой korvex --web-password)").arg(kPasswordHash);
  if (p.isEmpty() && w.passwordHash.isEmpty() && !haveUsers && !address.isLoopback())
    p << QStringLiteral(u"%1: без пароля страницы отдаются только на локальном адресе (127.0.0.1): задайте пароль командой korvex --web-password")
             .arg(kAddress);
  return p;
}

QString hashPassword(const QByteArray& password) {
  if (!sodiumReady()) return {};
  char out[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str(out, password.constData(), quint64(password.size()), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                        crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
    return {};
  return QString::fromLatin1(out);
}

bool verifyPassword(const QString& hash, const QByteArray& password) {
  if (!sodiumReady() || hash.isEmpty()) return false;
  const QByteArray h = hash.toLatin1();
  return crypto_pwhash_str_verify(h.constData(), password.constData(), quint64(password.size())) == 0;
}

bool storePasswordHash(const QString& path, const QString& hash, QString* error) {
  // Owner-only before the hash goes in.
  {
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite) ||
        !f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
      if (error) *error = f.errorString();
      return false;
    }
  }
  QSettings s(path, QSettings::IniFormat);
  s.setValue(kPasswordHash, hash);
  s.sync();
  if (s.status() != QSettings::NoError) {
    if (error) *error = QStringLiteral(u"не могу записать %1").arg(path);
    return false;
  }
  return true;
}

}  // namespace web
