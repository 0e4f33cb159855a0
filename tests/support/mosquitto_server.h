#pragma once
// A mosquitto broker of the test's own: a configuration in a temporary
// directory, one listener on 127.0.0.1 on a free port (kept across restarts),
// optionally TLS and a password, and persistence, so that a subscriber with
// a persistent session keeps its queued messages across a kill and restart.
//
//   MosquittoServer broker;
//   ASSERT_TRUE(broker.start()) << broker.lastError();
//   ... broker.port() ...
//   broker.kill();                 // as a crash would
//   ASSERT_TRUE(broker.start());  // same port, same persistence file

#include <QString>
#include <QTemporaryDir>
#include <memory>

#include "support/server_process.h"

class MosquittoServer {
 public:
  struct Options {
    QString certFile, keyFile;  // both set: the listener speaks TLS only
    QString user, password;     // set: anonymous clients are refused
  };

  MosquittoServer();
  explicit MosquittoServer(Options options);
  ~MosquittoServer();

  bool start(int timeoutMs = 20000);
  // Ends it at once, as a crash would.
  void kill();
  // Stops it without closing anything (POSIX): connections stay open, nothing
  // is read or answered, as a hung server or a dead network behaves.
  void freeze();
  bool isRunning() const;

  quint16 port() const { return port_; }
  // Saved sessions and retained messages; exists once the broker saved them.
  QString persistenceFile() const;
  QString lastError() const { return error_; }
  QString log();

 private:
  bool prepare();

  Options options_;
  QTemporaryDir dir_;
  quint16 port_ = 0;
  bool prepared_ = false;
  QString error_;
  std::unique_ptr<test_servers::ServerProcess> process_;
};
