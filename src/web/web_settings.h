#pragma once
// The web view's settings: section [Web] of the service settings file
// (<program>-service.ini), beside the publishing settings:
//
//   [Web]
//   Enabled=true
//   Address=127.0.0.1        ; the address to listen on; another than loopback needs HTTPS
//   Port=8080                ; 0: a free port, named in the start-up line
//   Certificate=             ; PEM files: with both, the pages are served over HTTPS
//   Key=
//   AllowPlainHttp=false     ; true: another address than loopback without HTTPS (warned at every start)
//   PasswordHash=            ; Argon2id hash of the password (korvex --web-password writes it)
//
// With a password every page needs a login; without one the pages are served
// only on a loopback address. A setting that cannot be used switches the web
// view off, with a message naming the key.

#include <QHostAddress>
#include <QString>
#include <QStringList>

namespace web {

struct WebSettings {
  bool enabled = false;
  QString address = QStringLiteral("127.0.0.1");
  int port = 8080;
  QString certificateFile;
  QString keyFile;
  bool allowPlainHttp = false;
  QString passwordHash;
  // Not in the file: how long a request may take to arrive whole (tests shorten it).
  int requestDeadlineMs = 10000;
  // Not in the file: the report's PDF is drawn by the program with the print
  // layer (korvex --report-pdf), a process of its own. Empty: found beside
  // this program (see reportPdfProgram()). At most `maxPdfJobs` at once, each
  // killed after `pdfTimeoutMs`.
  QString pdfProgram;
  int pdfTimeoutMs = 60000;
  int maxPdfJobs = 2;

  bool https() const { return !certificateFile.isEmpty() || !keyFile.isEmpty(); }
  bool loopbackOnly() const { return QHostAddress(address).isLoopback(); }
};

struct WebSettingsLoad {
  WebSettings settings;
  QStringList problems;  // "Web/Port: не номер порта 1..65535: abc", ...: the web view stays off
  QStringList warnings;  // it runs, but worth telling at every start
};

// Reads [Web] of `path`; a missing file or section leaves the view off.
WebSettingsLoad loadWebSettings(const QString& path);
// What keeps these settings from being used (files are checked to exist and
// be readable, not parsed); empty when they can be used.
// `haveUsers`: who logs in is defined elsewhere (the program's accounts), so
// a missing password does not keep the pages on loopback.
QStringList webProblems(const WebSettings& settings, bool haveUsers = false);

// Argon2id hash of a password (libsodium, interactive limits); empty on failure.
QString hashPassword(const QByteArray& password);
bool verifyPassword(const QString& hash, const QByteArray& password);
// Writes Web/PasswordHash into the file, keeping the rest; the file is made
// readable by its owner only. False with `error` when it failed.
bool storePasswordHash(const QString& path, const QString& hash, QString* error);

}  // namespace web
