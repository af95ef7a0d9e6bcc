// stress-driver saves: the table save (保存) and the chart picture save, each
// aimed through the window's own save dialog at a place where the write must
// fail: a read-only folder, a full disk, and a path where a folder stands in
// place of the file. An earlier file with known bytes waits at the target
// every time; afterwards it must be byte for byte as it was, nothing else may
// have appeared beside it, and the user must have been told of the failure.
//
// As root the places are real file systems: a small tmpfs filled to the last
// byte, and a tmpfs remounted read-only (root ignores permission bits, so a
// chmod would not stop it). They are mounted in a mount namespace of this
// process's own where the kernel allows it, so they vanish with the process
// even when it is killed, and they are unmounted at the end of each case.
// Without root the read-only folder is made with chmod and the full disk
// cannot be made at all.
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "app/controls.h"
#include "app/form2.h"
#include "charts/picture_box.h"
#include "stress_driver.h"
#include "support/event_wait.h"
#include "support/file_bytes.h"
#include "support/modal_answer.h"

namespace stress {
namespace {

enum class Place { ReadOnlyFolder, FullDisk, FolderInPlace };
enum class Document { Table, Picture };

QString PlaceName(Place p) {
  switch (p) {
    case Place::ReadOnlyFolder: return QStringLiteral("read-only folder");
    case Place::FullDisk: return QStringLiteral("full disk");
    case Place::FolderInPlace: return QStringLiteral("folder in place of the file");
  }
  return {};
}

QString SystemError(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

// A tmpfs mounted on `dir` for one case; unmounted when this goes, also when
// the case ends early.
class TmpfsMount {
 public:
  TmpfsMount(const QString &dir, qint64 bytes) : path_(QFile::encodeName(dir)) {
    const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0755";
    mounted_ = ::mount("tmpfs", path_.constData(), "tmpfs", MS_NOSUID | MS_NODEV, options.constData()) == 0;
    if (!mounted_) error_ = SystemError(errno);
  }
  ~TmpfsMount() {
    // A lazy unmount when something still holds the file system open.
    if (mounted_ && ::umount2(path_.constData(), 0) != 0) ::umount2(path_.constData(), MNT_DETACH);
  }
  TmpfsMount(const TmpfsMount &) = delete;
  TmpfsMount &operator=(const TmpfsMount &) = delete;

  bool mounted() const { return mounted_; }
  QString error() const { return error_; }
  bool makeReadOnly() {
    if (::mount(nullptr, path_.constData(), nullptr, MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV,
                nullptr) == 0)
      return true;
    error_ = SystemError(errno);
    return false;
  }

 private:
  QByteArray path_;
  bool mounted_ = false;
  QString error_;
};

bool WriteBytes(const QString &path, const QByteArray &bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.flush();
}

// Fills the file system holding `dir` with one file until not a byte more
// fits: big blocks first, then single bytes into the last page. Returns an
// error text, empty on success.
QString FillToTheLastByte(const QString &dir) {
  const QByteArray path = QFile::encodeName(dir + QStringLiteral("/filler"));
  const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return SystemError(errno);
  const QByteArray block(64 * 1024, 'f');
  for (qsizetype size = block.size(); size >= 1; size = size > 1 ? 1 : 0) {
    while (true) {
      const ssize_t n = ::write(fd, block.constData(), size_t(size));
      if (n > 0) continue;
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != ENOSPC) {
        const int err = errno;
        ::close(fd);
        return SystemError(err);
      }
      break;  // full for writes of this size
    }
  }
  ::close(fd);
  struct statvfs fs {};
  if (::statvfs(QFile::encodeName(dir).constData(), &fs) != 0) return SystemError(errno);
  if (fs.f_bavail != 0) return QStringLiteral("%1 blocks still free").arg(fs.f_bavail);
  return {};
}

// Everything in a folder, hidden entries included, to find stray files.
QStringList Listing(const QString &dir) {
  return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                             QDir::Name);
}

struct CaseResult {
  QString notMeasured;  // why the case could not be set up, empty when it ran
  bool intact = false;
  bool shown = false;
  QString value;
};

class SavesRun {
 public:
  SavesRun(const QString &workDir, bool root) : work_(workDir), root_(root) {
    // Some table text of the usual shape, so there is something to write.
    QStringList rows{QStringLiteral("                              高精度钳形漏电流表测试数据"), QString(),
                     QStringLiteral("  组 数        数 值")};
    for (int i = 1; i <= 500; ++i) rows << QStringLiteral("  %1        %2mA").arg(i, 4).arg(i * 0.25);
    form_.RichTextBox1->setText(rows.join(QStringLiteral("\r\n")));
    form_.ResetMainChart();  // the chart the picture save writes
  }

  CaseResult run(Place place, Document doc) {
    const bool table = doc == Document::Table;
    const QString dir = work_ + QStringLiteral("/%1-%2").arg(int(place)).arg(table ? "table" : "picture");
    CaseResult r;
    if (!QDir().mkpath(dir)) {
      r.notMeasured = QStringLiteral("no working folder");
      return r;
    }
    const QString target =
        dir + (table ? QStringLiteral("/Kestrelomat.txt") : QStringLiteral("/Kestrelomat.bmp"));
    const QByteArray earlier = QByteArray("earlier file, to be kept byte for byte\r\n").repeated(20);

    // The place, with the earlier file at the target.
    std::unique_ptr<TmpfsMount> mount;
    bool chmodded = false;
    switch (place) {
      case Place::ReadOnlyFolder:
        if (root_) {
          mount = std::make_unique<TmpfsMount>(dir, 1024 * 1024);
          if (!mount->mounted()) {
            r.notMeasured = QStringLiteral("not measured (mounting a tmpfs failed: %1)").arg(mount->error());
            return r;
          }
          if (!WriteBytes(target, earlier) || !mount->makeReadOnly()) {
            r.notMeasured = QStringLiteral("not measured (read-only remount failed: %1)").arg(mount->error());
            return r;
          }
        } else {
          // The file too: in a closed folder the program rightly replaces a
          // file it may write in place.
          if (!WriteBytes(target, earlier) || ::chmod(QFile::encodeName(target).constData(), 0444) != 0 ||
              ::chmod(QFile::encodeName(dir).constData(), 0555) != 0) {
            r.notMeasured = QStringLiteral("not measured (chmod failed)");
            return r;
          }
          chmodded = true;
        }
        break;
      case Place::FullDisk:
        if (!root_) {
          r.notMeasured = QStringLiteral("not measured (needs root)");
          return r;
        }
        mount = std::make_unique<TmpfsMount>(dir, 256 * 1024);
        if (!mount->mounted()) {
          r.notMeasured = QStringLiteral("not measured (mounting a tmpfs failed: %1)").arg(mount->error());
          return r;
        }
        if (!WriteBytes(target, earlier)) {
          r.notMeasured = QStringLiteral("not measured (no earlier file)");
          return r;
        }
        if (const QString err = FillToTheLastByte(dir); !err.isEmpty()) {
          r.notMeasured = QStringLiteral("not measured (filling the disk failed: %1)").arg(err);
          return r;
        }
        break;
      case Place::FolderInPlace: break;  // the folder comes as the dialog closes, below
    }

    r = save(place, doc, dir, target, earlier);
    if (chmodded) {
      ::chmod(QFile::encodeName(dir).constData(), 0755);
      ::chmod(QFile::encodeName(target).constData(), 0644);
    }
    return r;
  }

 private:
  CaseResult save(Place place, Document doc, const QString &dir, const QString &target,
                  const QByteArray &earlier) {
    const bool table = doc == Document::Table;
    const QString insideFile = target + QStringLiteral("/inside.txt");
    QStringList listing = Listing(dir);
    if (place == Place::FolderInPlace) listing << QFileInfo(target).fileName();
    const QString tableBefore = form_.RichTextBox1->Text();
    const QString sentinel = QStringLiteral("saves: before the save");
    form_.Label6->setText(sentinel);

    // The dialog is answered with the target typed into its name box. It will
    // not take an existing folder as the file (it opens it instead), so for
    // that case the folder with a file inside is put at the target as the
    // dialog closes, before the program writes — as another program could.
    QString setUpError;
    auto dialogAnswered = testsupport::answerModal<QFileDialog>([&](QFileDialog *d) {
      d->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(target);
      static_cast<QDialog *>(d)->accept();
      if (place == Place::FolderInPlace && (!QDir().mkdir(target) || !WriteBytes(insideFile, earlier)))
        setUpError = QStringLiteral("the folder could not be put in place");
    });
    QStringList boxes;
    constexpr int kBoxWatchMs = 3000;
    QElapsedTimer boxWatch;
    boxWatch.start();
    auto boxAnswered = testsupport::answerModal<QMessageBox>(
        [&](QMessageBox *box) {
          boxes << box->text();
          box->accept();
        },
        kBoxWatchMs);

    if (table)
      form_.Command5_Click();
    else
      form_.SaveChartPicture();

    // Let the message-box watch run out, so it cannot answer a later case's box.
    testsupport::pumpEvents(int(qMax<qint64>(0, kBoxWatchMs + 100 - boxWatch.elapsed())));

    CaseResult r;
    QStringList problems;
    if (!*dialogAnswered) {
      problems << QStringLiteral("the save dialog never opened");
      testsupport::pumpEvents(10100);  // its watch too
    }
    if (!setUpError.isEmpty()) {
      r.notMeasured = QStringLiteral("not measured (%1)").arg(setUpError);
      return r;
    }

    // The earlier file (or folder and its file), and nothing new beside it.
    if (place == Place::FolderInPlace)
      r.intact = QFileInfo(target).isDir() && Listing(target) == QStringList{QStringLiteral("inside.txt")} &&
                 ReadAll(insideFile) == earlier;
    else
      r.intact = ReadAll(target) == earlier;
    if (!r.intact && place == Place::FolderInPlace)
      problems << QStringLiteral("the earlier folder changed");
    else if (!r.intact)
      problems << QStringLiteral("the earlier file changed (%1 bytes now, %2 before)")
                      .arg(QFileInfo(target).size())
                      .arg(earlier.size());
    if (Listing(dir) != listing)
      problems << QStringLiteral("the folder now holds %1").arg(Listing(dir).join(QStringLiteral(", ")));
    r.intact = r.intact && Listing(dir) == listing;
    if (form_.RichTextBox1->Text() != tableBefore) problems << QStringLiteral("the table text changed");
    r.intact = r.intact && form_.RichTextBox1->Text() == tableBefore;

    // Told in the status line, or in a message box.
    const QString status = form_.Label6->text();
    const QString prefix = table ? QStringLiteral("文件保存失败,") : QStringLiteral("图片保存失败,");
    QStringList told;
    if (status != sentinel) told << status;
    told << boxes;
    r.shown = status.startsWith(prefix) || !boxes.isEmpty();
    if (!r.shown)
      problems << (told.isEmpty() ? QStringLiteral("nothing was shown")
                                  : QStringLiteral("shown: %1").arg(told.join(QStringLiteral(" / "))));
    Q_UNUSED(boxAnswered);

    r.value = problems.isEmpty() ? QStringLiteral("yes, ") + told.join(QStringLiteral(" / "))
                                 : QStringLiteral("no: ") + problems.join(QStringLiteral("; "));
    return r;
  }

  Form2 form_;
  QString work_;
  bool root_;
};

// A mount namespace of this process's own, with nothing passed back to the
// system's, so the test mounts disappear when the process ends however it
// ends. Returns false when the kernel does not allow it.
bool PrivateMountNamespace() {
  return ::unshare(CLONE_NEWNS) == 0 && ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

}  // namespace

int RunSaves(const QStringList &args) {
  QCommandLineParser parser;
  if (const int status = ParseOptions(
          parser, args,
          QStringLiteral(
              "Saves the table and the chart picture where the write must fail and checks that the "
              "earlier file survives and the failure is shown."));
      status >= 0)
    return status;

  QTemporaryDir work;
  if (!work.isValid()) {
    Note(QStringLiteral("saves: no temporary folder"));
    return 1;
  }
  // The default folder the dialog offers lies in a home of this run's own.
  const QString home = work.filePath(QStringLiteral("home"));
  QDir().mkpath(home);
  qputenv("HOME", QFile::encodeName(home));
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(home + QStringLiteral("/.config")));

  const bool root = ::geteuid() == 0;
  if (root && !PrivateMountNamespace())
    Note(QStringLiteral("saves: no private mount namespace (%1); the mounts are undone case by case")
             .arg(SystemError(errno)));

  const QString limit = QStringLiteral("earlier file byte-identical, nothing new beside it, failure shown");
  bool ok = true;
  {
    SavesRun run(work.filePath(QStringLiteral("places")), root);
    for (Place place : {Place::ReadOnlyFolder, Place::FullDisk, Place::FolderInPlace}) {
      for (Document doc : {Document::Table, Document::Picture}) {
        const QString name =
            QStringLiteral("saves, %1, %2: earlier %3 intact, failure shown")
                .arg(PlaceName(place),
                     doc == Document::Table ? QStringLiteral("table") : QStringLiteral("picture"),
                     place == Place::FolderInPlace ? QStringLiteral("folder") : QStringLiteral("file"));
        const CaseResult r = run.run(place, doc);
        if (!r.notMeasured.isEmpty())
          ok = Figure(name, r.notMeasured, true, limit) && ok;
        else
          ok = Figure(name, r.value, r.intact && r.shown, limit) && ok;
      }
    }
  }
  return ok ? 0 : 1;
}

}  // namespace stress
