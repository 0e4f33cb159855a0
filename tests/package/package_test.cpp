// The Debian package, made by CPack from this build tree as scripts/package.sh
// makes it: what it holds and depends on, lintian's verdict, and, as root, the
// package installed into this machine with dpkg, its programs, unit, user and
// directory, and removed again with the data left where it was. The machine is
// left as the test found it.

#include <gtest/gtest.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <cstdio>
#include <optional>

#include "platform/version.h"
#include "support/sim_process.h"
#include "support/test_files.h"

namespace {

const QString kDataDir = QStringLiteral("/var/lib/korvex");
// One analyzer's directory, as the unit's instance "package-test" would have it.
const QString kInstance = QStringLiteral("package-test");
const QString kInstanceDir = kDataDir + QLatin1Char('/') + kInstance;
// A port that is not there (short: the settings keep 30 characters of a
// port name): the service starts, says so and keeps going.
const QString kAbsentPort = QStringLiteral("/dev/korvex-absent");

struct Outcome {
  bool finished = false;
  int exitCode = -1;
  QString out;
  QString err;
  QString all() const { return out + err; }
};

Outcome run(const QString& program, const QStringList& args, int timeoutMs = 120000) {
  QProcess p;
  p.start(program, args);
  Outcome r;
  r.finished = p.waitForStarted(10000) && p.waitForFinished(timeoutMs);
  if (!r.finished) p.kill();
  r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = QString::fromUtf8(p.readAllStandardOutput());
  r.err = QString::fromUtf8(p.readAllStandardError());
  return r;
}

// A program the test starts, reads on stderr and ends with SIGTERM.
class Child {
 public:
  Child(const QString& program, const QStringList& args, const QProcessEnvironment& env) {
    process_.setProcessEnvironment(env);
    process_.start(program, args);
    process_.waitForStarted(10000);
  }
  ~Child() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.kill();
    process_.waitForFinished(10000);
  }
  bool waitFor(const QString& text) {
    return SimProcess::waitFor(
        [&] {
          err_ += QString::fromUtf8(process_.readAllStandardError());
          return err_.contains(text) || process_.state() == QProcess::NotRunning;
        },
        60000) &&
           err_.contains(text);
  }
  // True when it ended by itself within the limit, with exit code 0.
  bool terminate() {
    process_.terminate();
    const bool ended = process_.waitForFinished(30000);
    err_ += QString::fromUtf8(process_.readAllStandardError());
    return ended && process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == 0;
  }
  const QString& err() const { return err_; }

 private:
  QProcess process_;
  QString err_;
};

QString debPath(const QString& dir) {
  return dir + QStringLiteral("/korvex_" KORVEX_VERSION "_amd64.deb");
}

// Builds the package into `dir` from the build tree; the path of the .deb or
// empty, with what CPack said in `log`.
QString buildPackage(const QString& dir, QString* log) {
  const Outcome r = run(QStringLiteral(KORVEX_CPACK),
                    {QStringLiteral("--config"), QStringLiteral(KORVEX_BUILD_DIR "/CPackConfig.cmake"),
                     QStringLiteral("-B"), dir});
  *log = r.all();
  return r.finished && r.exitCode == 0 && QFileInfo::exists(debPath(dir)) ? debPath(dir) : QString();
}

// The package names of a Depends field, alternatives included.
QSet<QString> dependencyNames(const QString& field) {
  QSet<QString> names;
  for (const QString& clause : field.split(QLatin1Char(',')))
    for (const QString& alternative : clause.split(QLatin1Char('|')))
      names << alternative.trimmed().section(QLatin1Char(' '), 0, 0);
  return names;
}

bool packageInstalled() {
  const Outcome r = run(QStringLiteral("dpkg-query"), {QStringLiteral("-W"), QStringLiteral("-f=${Status}"),
                                                   QStringLiteral("korvex")});
  return r.exitCode == 0 && r.out.contains(QStringLiteral("ok installed"));
}

std::optional<struct passwd> korvexUser() {
  const struct passwd* pw = getpwnam("korvex");
  if (!pw) return std::nullopt;
  return *pw;
}

bool groupExists(const char* name) { return getgrnam(name) != nullptr; }

bool inGroup(const char* user, const char* group) {
  const struct group* g = getgrnam(group);
  const struct passwd* pw = getpwnam(user);
  if (!g || !pw) return false;
  if (pw->pw_gid == g->gr_gid) return true;
  for (char** member = g->gr_mem; *member; ++member)
    if (qstrcmp(*member, user) == 0) return true;
  return false;
}

// Every file of a directory with its bytes.
QMap<QString, QByteArray> filesOf(const QString& dir) {
  QMap<QString, QByteArray> files;
  for (const QFileInfo& f : QDir(dir).entryInfoList(QDir::Files | QDir::Hidden))
    files.insert(f.fileName(), test_files::readAll(f.filePath()));
  return files;
}

// What the package test changes on this machine, taken back at the end,
// however the test ended: the package, the user and group korvex when the test
// made them, /var/lib/korvex as it was.
class MachineRestorer {
 public:
  MachineRestorer()
      : userExisted_(korvexUser().has_value()),
        groupExisted_(groupExists("korvex")),
        dataDirExisted_(stat(kDataDir.toLocal8Bit().constData(), &dataDir_) == 0) {}

  ~MachineRestorer() {
    if (packageInstalled()) run(QStringLiteral("dpkg"), {QStringLiteral("--purge"), QStringLiteral("korvex")});
    // Triggers a failed test left pending; nothing to do otherwise.
    run(QStringLiteral("dpkg"), {QStringLiteral("--triggers-only"), QStringLiteral("--pending")});
    QDir(kInstanceDir).removeRecursively();
    const QByteArray dir = kDataDir.toLocal8Bit();
    if (!dataDirExisted_) {
      QDir().rmdir(kDataDir);
    } else if (QFileInfo::exists(kDataDir)) {
      if (chown(dir.constData(), dataDir_.st_uid, dataDir_.st_gid) != 0 ||
          chmod(dir.constData(), dataDir_.st_mode & 07777) != 0)
        ADD_FAILURE() << "could not give " << dir.constData() << " its owner and mode back";
    }
    if (!userExisted_ && korvexUser())
      run(QStringLiteral("deluser"), {QStringLiteral("--system"), QStringLiteral("--quiet"), QStringLiteral("korvex")});
    if (!groupExisted_ && groupExists("korvex"))
      run(QStringLiteral("delgroup"), {QStringLiteral("--system"), QStringLiteral("--quiet"), QStringLiteral("korvex")});
  }

 private:
  const bool userExisted_;
  const bool groupExisted_;
  struct stat dataDir_ {};
  const bool dataDirExisted_;
};

TEST(DebianPackage, BuildsFromTheBuildTreeWithWhatItNeedsAndLintianFindsNoError) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QString log;
  const QString deb = buildPackage(dir.path(), &log);
  ASSERT_FALSE(deb.isEmpty()) << log.toStdString();

  const Outcome fields = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), deb, QStringLiteral("Package"),
                                                      QStringLiteral("Version"), QStringLiteral("Depends")});
  ASSERT_EQ(fields.exitCode, 0) << fields.all().toStdString();
  EXPECT_TRUE(fields.out.contains(QStringLiteral("Package: korvex\n"))) << fields.out.toStdString();
  EXPECT_TRUE(fields.out.contains(QStringLiteral("Version: " KORVEX_VERSION "\n"))) << fields.out.toStdString();
  // The libraries from what the program links, the platform plugins it loads
  // and adduser for postinst: apt brings them all.
  const QSet<QString> depends = dependencyNames(fields.out.section(QStringLiteral("Depends: "), 1).trimmed());
  for (const char* needed : {"libqt6core6", "libqt6gui6", "libqt6widgets6", "libqt6printsupport6",
                             "libqt6network6", "libqt6serialport6", "libqcustomplot2.1-qt6", "libsqlite3-0",
                             "libmosquitto1", "libpq5", "libc6", "libstdc++6", "qt6-qpa-plugins", "adduser"})
    EXPECT_TRUE(depends.contains(QString::fromLatin1(needed))) << needed << " missing from " << fields.out.toStdString();

  const Outcome contents = run(QStringLiteral("dpkg-deb"), {QStringLiteral("--contents"), deb});
  ASSERT_EQ(contents.exitCode, 0) << contents.all().toStdString();
  QMap<QString, QString> modes;  // path -> "-rwxr-xr-x root/root"
  for (const QString& line : contents.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
    const QStringList cells = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    ASSERT_GE(cells.size(), 6) << line.toStdString();
    modes.insert(cells.last(), cells[0] + QLatin1Char(' ') + cells[1]);
    // Nothing outside /usr: the user's directory comes from postinst.
    EXPECT_TRUE(cells.last().startsWith(QStringLiteral("./usr/"))) << line.toStdString();
  }
  for (const char* program : {"./usr/bin/korvex", "./usr/bin/korvexd", "./usr/lib/korvex/korvex"})
    EXPECT_EQ(modes.value(QString::fromLatin1(program)), QStringLiteral("-rwxr-xr-x root/root")) << program;
  for (const char* file : {"./usr/lib/systemd/system/korvex@.service", "./usr/share/applications/korvex.desktop",
                           "./usr/share/icons/hicolor/scalable/apps/korvex.svg", "./usr/share/man/man1/korvex.1.gz",
                           "./usr/share/man/man8/korvexd.8.gz", "./usr/share/doc/korvex/copyright",
                           "./usr/share/doc/korvex/changelog.gz"})
    EXPECT_EQ(modes.value(QString::fromLatin1(file)), QStringLiteral("-rw-r--r-- root/root")) << file;

  const Outcome desktop = run(QStringLiteral("desktop-file-validate"),
                          {QStringLiteral(KORVEX_SOURCE_DIR "/packaging/korvex.desktop")});
  EXPECT_TRUE(desktop.exitCode == 0 && desktop.all().isEmpty()) << desktop.all().toStdString();

  // Errors fail; warnings and notes are listed for whoever looks.
  const Outcome lintian = run(QStringLiteral("lintian"), {QStringLiteral("--display-info"), deb}, 300000);
  ASSERT_TRUE(lintian.finished) << "lintian did not finish";
  EXPECT_EQ(lintian.exitCode, 0) << lintian.all().toStdString();
  EXPECT_FALSE(lintian.out.contains(QStringLiteral("\nE: ")) || lintian.out.startsWith(QStringLiteral("E: ")))
      << lintian.out.toStdString();
  std::printf("lintian:\n%s", lintian.out.isEmpty() ? "(nothing)\n" : qPrintable(lintian.out));
}

TEST(DebianPackage, InstalledWithDpkgItsServiceRunsAsItsUserAndRemovingKeepsTheData) {
  if (geteuid() != 0) GTEST_SKIP() << "installing a package into the machine needs root; this run is uid " << geteuid();
  ASSERT_FALSE(packageInstalled()) << "the package korvex is installed on this machine: the test would replace and "
                                      "purge it, so it leaves it alone and fails (dpkg --purge korvex first)";
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QString log;
  const QString deb = buildPackage(dir.path(), &log);
  ASSERT_FALSE(deb.isEmpty()) << log.toStdString();

  MachineRestorer restorer;
  // The triggers of the manual pages' index and the menu's and icons' caches
  // run once, at the removal: the index alone takes seconds a run.
  const Outcome install =
      run(QStringLiteral("dpkg"), {QStringLiteral("--no-triggers"), QStringLiteral("--install"), deb});
  ASSERT_EQ(install.exitCode, 0) << install.all().toStdString();

  for (const char* program : {"/usr/bin/korvex", "/usr/bin/korvexd"}) {
    const Outcome version = run(QString::fromLatin1(program), {QStringLiteral("--version")}, 30000);
    EXPECT_EQ(version.exitCode, 0) << program << ": " << version.all().toStdString();
    EXPECT_TRUE(version.out.endsWith(QStringLiteral(" " KORVEX_VERSION "\n"))) << program << ": " << version.out.toStdString();
  }

  // The unit is in a directory systemd looks in, and systemd reads an
  // instance of it by name without a complaint.
  const Outcome paths = run(QStringLiteral("systemd-analyze"), {QStringLiteral("unit-paths")});
  ASSERT_EQ(paths.exitCode, 0) << paths.all().toStdString();
  bool found = false;
  for (const QString& path : paths.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
    found = found || QFileInfo(path + QStringLiteral("/korvex@.service")).isFile();
  EXPECT_TRUE(found) << "korvex@.service is in none of\n" << paths.out.toStdString();
  const Outcome verify = run(QStringLiteral("systemd-analyze"),
                         {QStringLiteral("verify"), QStringLiteral("korvex@") + kInstance + QStringLiteral(".service")});
  EXPECT_EQ(verify.exitCode, 0) << verify.all().toStdString();
  EXPECT_EQ(verify.all(), QString()) << "systemd-analyze verify complains";

  const std::optional<struct passwd> user = korvexUser();
  ASSERT_TRUE(user.has_value()) << "no user korvex after the install";
  EXPECT_LT(user->pw_uid, 1000u) << "a system user";
  EXPECT_STREQ(user->pw_shell, "/usr/sbin/nologin");
  EXPECT_TRUE(inGroup("korvex", "dialout"));
  struct stat data {};
  ASSERT_EQ(stat(kDataDir.toLocal8Bit().constData(), &data), 0) << "no " << kDataDir.toStdString();
  EXPECT_EQ(data.st_uid, user->pw_uid);
  EXPECT_EQ(data.st_gid, user->pw_gid);
  EXPECT_EQ(data.st_mode & 07777, 0755u);

  // The service as the unit runs it: as korvex, in one analyzer's directory,
  // which systemd makes owned by korvex:dialout.
  ASSERT_TRUE(QDir().mkpath(kInstanceDir));
  ASSERT_EQ(chown(kInstanceDir.toLocal8Bit().constData(), user->pw_uid, getgrnam("dialout")->gr_gid), 0);
  {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), kDataDir);
    Child service(QStringLiteral("setpriv"),
                  {QStringLiteral("--reuid=korvex"), QStringLiteral("--regid=dialout"), QStringLiteral("--init-groups"),
                   QStringLiteral("/usr/bin/korvexd"), QStringLiteral("--mode"), QStringLiteral("none"),
                   QStringLiteral("--dir"), kInstanceDir, QStringLiteral("--port"), kAbsentPort},
                  env);
    ASSERT_TRUE(service.waitFor(kAbsentPort)) << service.err().toStdString();
    EXPECT_TRUE(service.err().contains(QStringLiteral(": ") + kInstanceDir + QStringLiteral("/korvex\n")))
        << service.err().toStdString();
    EXPECT_TRUE(service.terminate()) << service.err().toStdString();
  }
  // Under the program's name, whichever program the service is: an upgrade
  // finds the files an older package's service left.
  const QMap<QString, QByteArray> files = filesOf(kInstanceDir);
  EXPECT_TRUE(files.contains(QStringLiteral("korvex.db")) && files.contains(QStringLiteral("korvex.ini")))
      << QStringList(files.keys()).join(QLatin1Char(' ')).toStdString();
  for (const QString& name : files.keys()) {
    struct stat file {};
    ASSERT_EQ(stat((kInstanceDir + QLatin1Char('/') + name).toLocal8Bit().constData(), &file), 0);
    EXPECT_EQ(file.st_uid, user->pw_uid) << name.toStdString();
  }

  // The window program as installed keeps its files in a directory of the
  // user's own.
  {
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.remove(QStringLiteral("XDG_DATA_HOME"));
    Child window(QStringLiteral("/usr/bin/korvex"),
                 {QStringLiteral("--headless"), QStringLiteral("--mode"), QStringLiteral("none"),
                  QStringLiteral("--port"), kAbsentPort},
                 env);
    ASSERT_TRUE(window.waitFor(kAbsentPort)) << window.err().toStdString();
    EXPECT_TRUE(window.err().contains(QStringLiteral(": ") + home.path() + QStringLiteral("/.local/share/korvex/korvex\n")))
        << window.err().toStdString();
    EXPECT_TRUE(window.terminate()) << window.err().toStdString();
    EXPECT_TRUE(QFileInfo::exists(home.path() + QStringLiteral("/.local/share/korvex/korvex.db")));
  }

  // Installed again (the upgrade's path through the maintainer scripts),
  // removed, purged: the analyzer's files stay as they were, and so does the
  // user; purging says where they are.
  const Outcome again =
      run(QStringLiteral("dpkg"), {QStringLiteral("--no-triggers"), QStringLiteral("--install"), deb});
  EXPECT_EQ(again.exitCode, 0) << again.all().toStdString();
  EXPECT_EQ(filesOf(kInstanceDir), files) << "after installing again";
  const Outcome remove =
      run(QStringLiteral("dpkg"), {QStringLiteral("--remove"), QStringLiteral("korvex")});
  EXPECT_EQ(remove.exitCode, 0) << remove.all().toStdString();
  EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/usr/bin/korvexd")));
  EXPECT_EQ(filesOf(kInstanceDir), files) << "after removing";
  const Outcome purge = run(QStringLiteral("dpkg"), {QStringLiteral("--purge"), QStringLiteral("korvex")});
  EXPECT_EQ(purge.exitCode, 0) << purge.all().toStdString();
  EXPECT_TRUE(purge.err.contains(QStringLiteral("stay in /var/lib/korvex"))) << purge.all().toStdString();
  EXPECT_FALSE(packageInstalled());
  EXPECT_EQ(filesOf(kInstanceDir), files) << "after purging";
  EXPECT_TRUE(korvexUser().has_value()) << "the user korvex stays with its files";
}

}  // namespace
