// Saving the table as text and the chart as a picture through the shared save
// dialog, answered as a user would; the default folder lives in a temporary
// HOME. Failures must be reported in the status line and never damage an
// earlier file.
#include <QComboBox>
#include <QDirIterator>
#include <QFileDialog>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QLibraryInfo>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <unistd.h>

#include "support/file_bytes.h"
#include "app/controls.h"
#include "app/form2.h"
#include "charts/picture_box.h"
#include "documents/common_dialog.h"
#include "support/modal_answer.h"
#include "support/vnc_keyboard.h"
#include "support/event_wait.h"

using testsupport::answerModal;

namespace {

void Accept(QFileDialog *d) { static_cast<QDialog *>(d)->accept(); }
void Cancel(QFileDialog *d) { d->reject(); }

// Accepts the dialog with `name` typed in its name box.
std::function<void(QFileDialog *)> AcceptName(const QString &name) {
  return [name](QFileDialog *d) {
    d->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(name);
    Accept(d);
  };
}

// Files written to and closed in one folder, as inotify names them; that
// includes unnamed temporary files, which it calls "#<inode>".
class FolderEvents {
 public:
  explicit FolderEvents(const QString &folder) : fd_(inotify_init1(IN_NONBLOCK)) {
    inotify_add_watch(fd_, QFile::encodeName(folder).constData(), IN_MODIFY | IN_CLOSE_WRITE);
  }
  ~FolderEvents() { ::close(fd_); }
  FolderEvents(const FolderEvents &) = delete;
  FolderEvents &operator=(const FolderEvents &) = delete;

  QStringList written, closed;

  void take() {
    alignas(inotify_event) char buf[4096];
    ssize_t n;
    while ((n = ::read(fd_, buf, sizeof buf)) > 0) {
      for (char *p = buf; p < buf + n;) {
        const auto *e = reinterpret_cast<const inotify_event *>(p);
        const QString name = QFile::decodeName(e->len ? e->name : "");
        (e->mask & IN_MODIFY ? written : closed) << name;
        p += sizeof(inotify_event) + e->len;
      }
    }
  }

 private:
  int fd_;
};

void DrawSomething(PictureBox *box) {
  QPainter p(&box->canvas());
  p.fillRect(box->canvas().rect(), QColor(64, 64, 64));
  p.setPen(Qt::green);
  p.drawLine(0, 0, 200, 150);
  p.fillRect(QRect(10, 100, 80, 40), Qt::red);
}

}  // namespace

class TestDocumentSaving : public QObject {
  Q_OBJECT
  std::unique_ptr<QTemporaryDir> home_;

  QString homeFile(const QString &relative) const { return home_->filePath(relative); }
  QString folder() const { return homeFile(QStringLiteral("Kestrelomat")); }

 private slots:
  void initTestCase() { testsupport::makeTemporaryPortsDir(); }

  void init() {
    home_ = std::make_unique<QTemporaryDir>();
    qputenv("HOME", home_->path().toLocal8Bit());
  }

  void textSaveOffersTheDefaultsAndWritesThere() {
    Form2 form;
    form.OperatingMode = 2;
    QString startDir, startName;
    QStringList types;
    auto answered = answerModal<QFileDialog>([&](QFileDialog *d) {
      startDir = d->directory().absolutePath();
      startName = d->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->text();
      auto *combo = d->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
      for (int i = 0; i < combo->count(); ++i) types << combo->itemText(i);
      Accept(d);
    });
    form.Command5_Click();
    QVERIFY(*answered);
    QCOMPARE(startDir, folder());
    QCOMPARE(startName, QStringLiteral("Kestrelomat"));
    QCOMPARE(types, QStringList{QStringLiteral("文本格式 (*.txt)")});
    QVERIFY(QFileInfo::exists(folder() + QStringLiteral("/Kestrelomat.txt")));
    QCOMPARE(form.Label6->text(), QStringLiteral("状态信息"));  // success stays silent
  }

  void cancelWritesNothingButTheFolderExists() {
    Form2 form;
    auto answered = answerModal<QFileDialog>(Cancel);
    form.Command5_Click();
    QVERIFY(*answered);
    QVERIFY(QFileInfo(folder()).isDir());
    QVERIFY(QDir(folder()).isEmpty());
  }

  void savingTwiceReplacesTheFile() {
    Form2 form;
    form.RichTextBox1->setText(QStringLiteral("first version, rather long"));
    auto first = answerModal<QFileDialog>(Accept);
    form.Command5_Click();
    QVERIFY(*first);
    form.RichTextBox1->setText(QStringLiteral("second"));
    auto second = answerModal<QFileDialog>(Accept);
    form.Command5_Click();
    QVERIFY(*second);
    QCOMPARE(ReadAll(folder() + QStringLiteral("/Kestrelomat.txt")), QByteArray("second"));
  }

  void typedNameWithoutExtensionGetsTxt() {
    Form2 form;
    auto answered = answerModal<QFileDialog>(AcceptName(QStringLiteral("report")));
    form.Command5_Click();
    QVERIFY(*answered);
    QVERIFY(QFileInfo::exists(folder() + QStringLiteral("/report.txt")));
  }

  // The default extension comes from the type chosen at the previous use.
  void pictureExtensionFollowsThePreviousType() {
    Form2 form;
    form.OperatingMode = 1;
    DrawSomething(form.Picture1);
    const QSize onScreen = form.Picture1->size();

    auto text = answerModal<QFileDialog>(Accept);
    form.Command5_Click();
    QVERIFY(*text);

    QStringList types;
    auto chooseJpg = answerModal<QFileDialog>([&](QFileDialog *d) {
      auto *combo = d->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
      for (int i = 0; i < combo->count(); ++i) types << combo->itemText(i);
      d->selectNameFilter(d->nameFilters().at(1));
      Accept(d);
    });
    form.mnusave_Click();
    QVERIFY(*chooseJpg);
    QCOMPARE(types, (QStringList{QStringLiteral("位图格式 (*.bmp)"), QStringLiteral("jpg格式 (*.jpg)")}));
    const QString bmp = folder() + QStringLiteral("/Kestrelomat.bmp");
    QCOMPARE(form.CommonDialog1->FilterIndex, 2);
    QCOMPARE(QImageReader(bmp).format(), QByteArray("bmp"));

    auto next = answerModal<QFileDialog>(Accept);
    form.mnusave_Click();
    QVERIFY(*next);
    QCOMPARE(form.CommonDialog1->DefaultExt, QStringLiteral(".jpg"));
    const QString jpg = folder() + QStringLiteral("/Kestrelomat.jpg");
    QCOMPARE(QImageReader(jpg).format(), QByteArray("jpeg"));

    // Both load back at the chart's size on screen; the bitmap pixel for pixel.
    const QImage savedBmp(bmp), savedJpg(jpg);
    QCOMPARE(savedBmp.size(), onScreen);
    QCOMPARE(savedJpg.size(), onScreen);
    QCOMPARE(savedBmp.convertToFormat(QImage::Format_RGB32),
             form.Picture1->Image().convertToFormat(QImage::Format_RGB32));
  }

  void pictureSaveStartsWithBmpAndMakesTheFolder() {
    Form2 form;
    form.OperatingMode = 1;
    auto answered = answerModal<QFileDialog>(Accept);
    form.mnusave_Click();
    QVERIFY(*answered);
    QCOMPARE(form.CommonDialog1->DefaultExt, QStringLiteral(".bmp"));
    QVERIFY(QFileInfo::exists(folder() + QStringLiteral("/Kestrelomat.bmp")));
  }

  void fileNamedLikeTheFolderCountsAsPresentForPictures() {
    WriteRaw(folder(), "not a folder");
    Form2 form;
    form.OperatingMode = 1;
    auto answered = answerModal<QFileDialog>(Cancel);
    form.SaveChartPicture();
    QVERIFY(*answered);
    QCOMPARE(ReadAll(folder()), QByteArray("not a folder"));
    QCOMPARE(form.Label6->text(), QStringLiteral("状态信息"));
  }

  void readOnlyFolderIsReported_data() {
    QTest::addColumn<bool>("picture");
    QTest::newRow("text") << false;
    QTest::newRow("picture") << true;
  }
  void readOnlyFolderIsReported() {
    QFETCH(bool, picture);
    Form2 form;
    form.OperatingMode = picture ? 1 : 2;
    // /sys refuses new files even to root.
    auto answered = answerModal<QFileDialog>(AcceptName(QStringLiteral("/sys/Kestrelomat")));
    form.mnusave_Click();
    QVERIFY(*answered);
    QCOMPARE(form.Label6->text(), picture ? QStringLiteral("图片保存失败,没有写入权限.")
                                          : QStringLiteral("文件保存失败,没有写入权限."));
  }

  // A table smaller than the file's write buffer fails only when the buffer
  // is flushed; a larger one already while it is written.
  void failedWriteKeepsTheEarlierFile_data() {
    QTest::addColumn<int>("rowCount");
    QTest::newRow("larger than the write buffer") << 2000;
    QTest::newRow("smaller than the write buffer") << 200;
  }
  void failedWriteKeepsTheEarlierFile() {
    QFETCH(int, rowCount);
    Form2 form;
    QDir().mkdir(folder());
    const QString path = folder() + QStringLiteral("/Kestrelomat.txt");
    WriteRaw(path, "earlier");
    QStringList rows;
    for (int i = 0; i < rowCount; ++i) rows << QStringLiteral("row %1").arg(i);
    form.RichTextBox1->setText(rows.join(QStringLiteral("\r\n")));

    // A cap on file size stands in for a full disk.
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit capped = saved;
    capped.rlim_cur = 1024;
    auto answered = answerModal<QFileDialog>([&](QFileDialog *d) {
      setrlimit(RLIMIT_FSIZE, &capped);
      Accept(d);
    });
    form.Command5_Click();
    setrlimit(RLIMIT_FSIZE, &saved);
    QVERIFY(*answered);
    QCOMPARE(form.Label6->text(), QStringLiteral("文件保存失败,文件超出允许的大小."));
    QCOMPARE(ReadAll(path), QByteArray("earlier"));
    QCOMPARE(QDir(folder()).entryList(QDir::Files), QStringList{QStringLiteral("Kestrelomat.txt")});
  }

  // The real program under a file-size limit, typed on through Qt's VNC
  // screen: Ctrl+S and Enter save the chart picture, the write runs into the
  // limit and fails, nothing is left in the folder, and the program runs on:
  // with the limit lifted the next save works. The file dialog left no
  // settings behind: nothing in the configuration folder, no settings file.
  void fileSizeLimitFailsTheSaveNotTheProgram() {
    const QString vnc =
        QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms/libqvnc.so");
    if (!QFileInfo::exists(vnc)) QSKIP("Qt's VNC platform is not installed");
    const int port = testsupport::FreeTcpPort();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home_->path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), homeFile(QStringLiteral(".config")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("vnc:port=%1").arg(port));
    QProcess program;
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.setChildProcessModifier([] {
      std::signal(SIGXFSZ, SIG_DFL);  // as a shell starts it, whatever this test ignores
      rlimit limit{};
      getrlimit(RLIMIT_FSIZE, &limit);
      limit.rlim_cur = 8192;
      setrlimit(RLIMIT_FSIZE, &limit);
    });
    program.start(QStringLiteral(ARRESTER_MONITOR_PATH), {});
    QVERIFY(program.waitForStarted());
    testsupport::VncKeyboard keyboard;
    QVERIFY(keyboard.connectTo(port, 30000));
    const QString picture = folder() + QStringLiteral("/Kestrelomat.bmp");

    // Ctrl+S opens the dialog and Enter accepts it; both again until it is
    // seen done, in case the window was not up yet.
    auto saveUntil = [&](const std::function<bool()> &done) {
      QElapsedTimer clock;
      clock.start();
      while (!done()) {
        if (!keyboard.tap('s', testsupport::kKeyControl) || !keyboard.tap(testsupport::kKeyReturn) ||
            program.state() != QProcess::Running) {
          program.waitForFinished(30000);
          QFAIL(qPrintable(QStringLiteral("the program ended (exit status %1, code or signal %2)")
                               .arg(int(program.exitStatus()))
                               .arg(program.exitCode())));
        }
        QVERIFY2(clock.elapsed() < 60000, "no save happened");
        testsupport::waitUntil(done, 2000);
      }
    };

    QVERIFY(QDir().mkdir(folder()));  // watched from the start
    FolderEvents events(folder());
    saveUntil([&] {
      events.take();
      return !events.written.isEmpty();
    });
    if (QTest::currentTestFailed()) return;
    const QString partial = events.written.constFirst();
    QVERIFY(testsupport::waitUntil(
        [&] {
          events.take();
          return events.closed.contains(partial);
        },
        30000));
    QVERIFY(QDir(folder()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));

    // Lifted from outside, the limit lets the next save through.
    const pid_t pid = pid_t(program.processId());
    rlimit limit{};
    QVERIFY2(program.state() == QProcess::Running && prlimit(pid, RLIMIT_FSIZE, nullptr, &limit) == 0,
             "the program ended");
    limit.rlim_cur = limit.rlim_max;
    QVERIFY(prlimit(pid, RLIMIT_FSIZE, &limit, nullptr) == 0);
    saveUntil([&] { return QFileInfo(picture).size() > 8192; });
    if (QTest::currentTestFailed()) return;

    program.terminate();
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(QDir(folder()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("Kestrelomat.bmp")});
    QStringList settings;
    QDirIterator files(home_->path(), QDir::Files | QDir::Hidden | QDir::System,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
      const QString file = files.next();
      if (file.startsWith(homeFile(QStringLiteral(".config/"))) || file.endsWith(QStringLiteral(".conf")))
        settings << file;
    }
    QCOMPARE(settings, QStringList());
  }

  // HOME below a plain file: the default folder cannot exist. The failure is
  // reported and the dialog is still offered.
  void defaultFolderThatCannotBeMadeIsReported_data() {
    QTest::addColumn<bool>("picture");
    QTest::newRow("text") << false;
    QTest::newRow("picture") << true;
  }
  void defaultFolderThatCannotBeMadeIsReported() {
    QFETCH(bool, picture);
    const QString blocker = homeFile(QStringLiteral("plainfile"));
    WriteRaw(blocker, "keep me");
    qputenv("HOME", (blocker + QStringLiteral("/home")).toLocal8Bit());
    Form2 form;
    form.OperatingMode = picture ? 1 : 2;
    auto answered = answerModal<QFileDialog>(Cancel);
    form.mnusave_Click();
    QVERIFY(*answered);
    QCOMPARE(form.Label6->text(), QStringLiteral("默认文件夹创建失败,路径中有同名文件,不是文件夹."));
    QCOMPARE(ReadAll(blocker), QByteArray("keep me"));
  }
};

QTEST_MAIN(TestDocumentSaving)
#include "test_document_saving.moc"
