// Saving the table as text and the chart as a picture through the shared save
// dialog, answered as a user would; the default folder lives in a temporary
// HOME. Failures must be reported in the status line and never damage an
// earlier file.
#include <QComboBox>
#include <QFileDialog>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <sys/resource.h>

#include "documents/file_bytes.h"
#include "app/controls.h"
#include "app/form2.h"
#include "charts/picture_box.h"
#include "documents/common_dialog.h"
#include "documents/modal_answer.h"
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

void DrawSomething(PictureBox *box) {
  QPainter p(&box->canvas());
  p.fillRect(box->canvas().rect(), QColor(64, 64, 64));
  p.setPen(Qt::green);
  p.drawLine(0, 0, 200, 150);
  p.fillRect(QRect(10, 100, 80, 40), Qt::red);
}

}  // namespace

class DocumentSavingTest : public QObject {
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

  void failedWriteKeepsTheEarlierFile() {
    Form2 form;
    QDir().mkdir(folder());
    const QString path = folder() + QStringLiteral("/Kestrelomat.txt");
    WriteRaw(path, "earlier");
    QStringList rows;
    for (int i = 0; i < 2000; ++i) rows << QStringLiteral("row %1").arg(i);
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
    QVERIFY(form.Label6->text().startsWith(QStringLiteral("文件保存失败,")));
    QCOMPARE(ReadAll(path), QByteArray("earlier"));
    QCOMPARE(QDir(folder()).entryList(QDir::Files), QStringList{QStringLiteral("Kestrelomat.txt")});
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

QTEST_MAIN(DocumentSavingTest)
#include "test_document_saving.moc"
