#pragma once
// A certificate authority made by the test with Debian's openssl, and a
// server certificate it signed for 127.0.0.1 and localhost.
//
//   TestCa ca;
//   ASSERT_TRUE(ca.create()) << ca.lastError();
//   ... ca.caFile(), ca.serverCertFile(), ca.serverKeyFile() ...

#include <QString>
#include <QTemporaryDir>

class TestCa {
 public:
  TestCa();
  // `withServer`: also a server certificate signed by this authority.
  bool create(bool withServer = true);
  QString caFile() const { return dir_.filePath(QStringLiteral("ca.crt")); }
  QString serverCertFile() const { return dir_.filePath(QStringLiteral("server.crt")); }
  QString serverKeyFile() const { return dir_.filePath(QStringLiteral("server.key")); }
  QString lastError() const { return error_; }

 private:
  bool openssl(const QStringList& args);

  QTemporaryDir dir_;
  QString error_;
};
