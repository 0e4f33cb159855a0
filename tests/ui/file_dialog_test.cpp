// The real file dialogs behind seams::getSaveFileName / getOpenFileName, shown
// offscreen in the folder of a results database the process has open. The
// process's POSIX locks on a file go away when any descriptor of that file is
// closed, so a dialog that read the files it lists (to tell their type) would
// leave the database unguarded: another connection could then take the log
// away from under it.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QSignalSpy>
#include <set>

#include "data/result_store.h"
#include "data/store_rows.h"
#include "platform/qt_translations.h"
#include "platform/seams.h"
#include "ui/widget_seams.h"

namespace {

// The locks /proc/locks lists for this process on the file at `path`:
// "<type> <access> <start> <end>" each.
std::multiset<std::string> ownLocks(const QString& path) {
  struct stat st {};
  if (::stat(QFile::encodeName(path).constData(), &st) != 0) return {};
  QFile locks(QStringLiteral("/proc/locks"));
  if (!locks.open(QIODevice::ReadOnly)) return {};
  std::multiset<std::string> out;
  const QString pid = QString::number(::getpid());
  const QString inode = QLatin1Char(':') + QString::number(st.st_ino);
  for (const QByteArray& raw : locks.readAll().split('\n')) {
    // "1: POSIX  ADVISORY  READ 1234 08:01:5678 128 128"; a waiting lock has "->".
    const QStringList f = QString::fromLatin1(raw).simplified().split(QLatin1Char(' '));
    if (f.size() < 8 || f[1] == QLatin1String("->")) continue;
    if (f[4] != pid || !f[5].endsWith(inode)) continue;
    out.insert(QStringList{f[1], f[3], f[6], f[7]}.join(QLatin1Char(' ')).toStdString());
  }
  return out;
}

// Runs the sqlite3 shell on `db` (another process, as a user or a backup
// script would); its output.
QString sqliteShell(const QString& db, const QStringList& options, const QString& sql) {
  QProcess shell;
  shell.start(QStringLiteral("sqlite3"), QStringList(options) << db << sql);
  if (!shell.waitForFinished(30000) || shell.exitCode() != 0)
    return QStringLiteral("failed: ") + QString::fromUtf8(shell.readAllStandardError());
  return QString::fromUtf8(shell.readAllStandardOutput()).trimmed();
}

class FileDialogTest : public testing::Test {
 protected:
  void SetUp() override {
    seams::resetAll();
    seams::resetWidgetSeams();
    ASSERT_TRUE(dir_.isValid());
    db_ = QDir(dir_.path()).filePath(QStringLiteral("korvex.db"));
    const auto opened = store_.open(db_, store_rows::kStartUtcMs);
    ASSERT_TRUE(opened.isWritable()) << opened.detail.toStdString();
    for (qint64 i = 0; i < 5; ++i) Commit(i);
    // A few files of other kinds beside it, as the program's folder has.
    for (const char* name : {"korvex.ini", "Device-001.ini", "noname", "20260301.kvx"}) {
      QFile f(QDir(dir_.path()).filePath(QLatin1String(name)));
      ASSERT_TRUE(f.open(QIODevice::WriteOnly));
      f.write("[Settings]\n");
    }
  }
  void TearDown() override {
    seams::resetAll();
    seams::resetWidgetSeams();
  }

  void Commit(qint64 i) {
    ASSERT_EQ(store_.append(store_rows::Row(i)).state, ResultStore::AppendState::Committed);
  }

  // Shows the program's file dialog, lets it list the folder (and tell the
  // type of every file in it), then cancels it. False when the listing did
  // not end.
  bool ListAndCancel(bool save, const QString& filter, const QString& proposed) {
    const std::unique_ptr<QFileDialog> dialog = seams::fileDialog({nullptr, save, filter, proposed});
    auto* model = dialog->findChild<QFileSystemModel*>();
    if (!model) return false;
    QSignalSpy loaded(model, &QFileSystemModel::directoryLoaded);
    dialog->show();
    const QDir folder(dir_.path());
    const bool listed = QTest::qWaitFor(
        [&] {
          for (const QList<QVariant>& args : loaded)
            if (QDir(args.at(0).toString()) == folder) return true;
          return false;
        },
        30000);
    // The details of the files come in the same turn as the end of the listing.
    QCoreApplication::processEvents();
    dialog->reject();
    return listed;
  }

  QTemporaryDir dir_;
  QString db_;
  ResultStore store_;
};

TEST_F(FileDialogTest, ListingTheDatabaseFolderKeepsTheDatabaseLocks) {
  const QString shm = db_ + QStringLiteral("-shm");
  const std::multiset<std::string> dbLocks = ownLocks(db_), shmLocks = ownLocks(shm);
  ASSERT_FALSE(dbLocks.empty());
  ASSERT_FALSE(shmLocks.empty());

  // Файл → Сохранить in the program's folder.
  const QString proposed = QDir(dir_.path()).filePath(QStringLiteral("20260302.kvx"));
  ASSERT_TRUE(ListAndCancel(true, QStringLiteral(u"Файлы данных KVX(*.kvx)|*.kvx"), proposed));
  EXPECT_EQ(ownLocks(db_), dbLocks);
  EXPECT_EQ(ownLocks(shm), shmLocks);

  // Opening with every file shown, the database's own name proposed.
  ASSERT_TRUE(ListAndCancel(false, QStringLiteral(u"Все файлы (*)|*"), db_));
  EXPECT_EQ(ownLocks(db_), dbLocks);
  EXPECT_EQ(ownLocks(shm), shmLocks);
}

TEST_F(FileDialogTest, AnOutsideWriterAfterADialogCannotMakeACommittedResultVanish) {
  // The emission report's CSV export in the program's folder.
  ASSERT_TRUE(ListAndCancel(true, QStringLiteral(u"Файлы CSV(*.csv)|*.csv"),
                            QDir(dir_.path()).filePath(QStringLiteral("report.csv"))));

  // The sqlite3 shell or a backup script: a read-write connection that
  // checkpoints and, when it believes itself the last one, takes the log
  // and the shared index away as it closes.
  EXPECT_EQ(sqliteShell(db_, {}, QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE);")), QStringLiteral("0|0|0"));
  EXPECT_TRUE(QFile::exists(db_ + QStringLiteral("-wal")));
  EXPECT_TRUE(QFile::exists(db_ + QStringLiteral("-shm")));

  // Committed after it: whoever opens the files on disk (the program after
  // a crash) finds it.
  Commit(5);
  EXPECT_EQ(sqliteShell(db_, {QStringLiteral("-readonly")}, QStringLiteral("SELECT count(*) FROM results;")),
            QStringLiteral("6"));
}

TEST_F(FileDialogTest, TheDatabaseFilesAreNeverOfferedAsTheFileToReadOrWrite) {
  QStringList told;
  seams::setMessageHandler([&](const seams::MessageRequest& r) {
    told << r.text;
    return seams::MsgResult::Ok;
  });
  for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")}) {
    const QString chosen = db_ + suffix;
    seams::setFileDialogHandler([&](const seams::FileDialogRequest&) { return chosen; });
    EXPECT_TRUE(seams::getSaveFileName(nullptr, QStringLiteral(u"Файлы данных KVX(*.kvx)|*.kvx"), {}).isEmpty());
    EXPECT_TRUE(seams::getOpenFileName(nullptr, QStringLiteral(u"Файлы данных KVX(*.kvx)|*.kvx"), {}).isEmpty());
  }
  ASSERT_EQ(told.size(), 6);
  EXPECT_TRUE(told.first().contains(QStringLiteral(u"база данных результатов"))) << told.first().toStdString();
  // Any other file of the folder is taken as chosen.
  const QString other = QDir(dir_.path()).filePath(QStringLiteral("korvex.db.kvx"));
  seams::setFileDialogHandler([&](const seams::FileDialogRequest&) { return other; });
  EXPECT_EQ(seams::getSaveFileName(nullptr, QStringLiteral(u"Файлы данных KVX(*.kvx)|*.kvx"), {}), other);
  // Once the database is closed its files are files like any other.
  store_.close();
  seams::setFileDialogHandler([&](const seams::FileDialogRequest&) { return db_; });
  EXPECT_EQ(seams::getOpenFileName(nullptr, QStringLiteral(u"Все файлы (*)|*"), {}), db_);
  EXPECT_EQ(told.size(), 6);
}

}  // namespace

namespace {

TEST(QtTranslationsTest, QtsOwnDialogsSpeakRussianAndTheProgramsBoxesKeepTheirWords) {
  const std::unique_ptr<QTranslator> russian = installQtTranslations();
  ASSERT_NE(russian, nullptr) << "Qt's translations (qt6-translations-l10n) are not installed";
  const std::unique_ptr<QFileDialog> dialog =
      seams::fileDialog({nullptr, true, QStringLiteral(u"Файлы данных KVX(*.kvx)|*.kvx"), QString()});
  auto* buttons = dialog->findChild<QDialogButtonBox*>();
  ASSERT_NE(buttons, nullptr);
  ASSERT_NE(buttons->button(QDialogButtonBox::Cancel), nullptr);
  EXPECT_EQ(buttons->button(QDialogButtonBox::Cancel)->text(), QStringLiteral(u"Отмена"));

  // The program's boxes name their titles and buttons themselves.
  const auto error = seams::messageBox({nullptr, seams::MsgIcon::Error, QStringLiteral("Error"), QStringLiteral("x"),
                                        seams::MsgButtons::Ok});
  EXPECT_EQ(error->windowTitle(), QStringLiteral("Error"));
  ASSERT_EQ(error->buttons().size(), 1);
  EXPECT_EQ(error->buttons()[0]->text(), QStringLiteral("OK"));
  const auto question = seams::messageBox({nullptr, seams::MsgIcon::Confirm, QStringLiteral("Confirm"),
                                           QStringLiteral("x"), seams::MsgButtons::YesNo});
  EXPECT_EQ(question->windowTitle(), QStringLiteral("Confirm"));
  QStringList texts;
  for (QAbstractButton* b : question->buttons()) texts << b->text();
  texts.sort();
  EXPECT_EQ(texts, (QStringList{QStringLiteral("&No"), QStringLiteral("&Yes")}));
}

}  // namespace
