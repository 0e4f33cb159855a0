#include "support/test_ca.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include "support/server_process.h"

TestCa::TestCa() : dir_(test_servers::tempRoot() + QStringLiteral("/korvex-ca-XXXXXX")) {}

bool TestCa::openssl(const QStringList& args) {
  const QString program = test_servers::findProgram(QStringLiteral("openssl"));
  if (program.isEmpty()) {
    error_ = QStringLiteral("openssl not found: install Debian's openssl (scripts/install-deps.sh)");
    return false;
  }
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.setWorkingDirectory(dir_.path());
  p.start(program, args);
  if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
    error_ = QStringLiteral("openssl %1 failed: %2").arg(args.join(QLatin1Char(' ')), QString::fromLocal8Bit(p.readAll()));
    return false;
  }
  return true;
}

bool TestCa::create(bool withServer) {
  if (!dir_.isValid()) {
    error_ = QStringLiteral("cannot create a temporary directory");
    return false;
  }
  // The directory is the servers' too (they read the key as their user).
  if (!test_servers::giveToServerUser(dir_.path(), &error_)) return false;
  const QStringList ec = {QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                          QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};
  if (!openssl(QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + ec +
               QStringList{QStringLiteral("-keyout"), QStringLiteral("ca.key"), QStringLiteral("-out"),
                           QStringLiteral("ca.crt"), QStringLiteral("-days"), QStringLiteral("30"),
                           QStringLiteral("-subj"), QStringLiteral("/CN=Korvex Test CA")}))
    return false;
  if (!withServer) return true;
  QFile ext(dir_.filePath(QStringLiteral("server.ext")));
  if (!ext.open(QIODevice::WriteOnly) ||
      ext.write("subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\n"
                "extendedKeyUsage=serverAuth\n") <= 0) {
    error_ = QStringLiteral("cannot write the certificate extensions");
    return false;
  }
  ext.close();
  return openssl(QStringList{QStringLiteral("req")} + ec +
                 QStringList{QStringLiteral("-keyout"), QStringLiteral("server.key"), QStringLiteral("-out"),
                             QStringLiteral("server.csr"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1")}) &&
         openssl({QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), QStringLiteral("server.csr"),
                  QStringLiteral("-CA"), QStringLiteral("ca.crt"), QStringLiteral("-CAkey"), QStringLiteral("ca.key"),
                  QStringLiteral("-CAcreateserial"), QStringLiteral("-out"), QStringLiteral("server.crt"),
                  QStringLiteral("-days"), QStringLiteral("30"), QStringLiteral("-extfile"),
                  QStringLiteral("server.ext")});
}
