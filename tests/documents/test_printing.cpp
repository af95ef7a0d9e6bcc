// Printing through the session's printer into a PDF file, with the print and
// set-up dialogs answered as a user would; the PDF is read back with the
// poppler tools.
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>

#include "app/app_setup.h"
#include "app/controls.h"
#include "app/form2.h"
#include "documents/common_dialog.h"
#include "support/modal_answer.h"
#include "support/event_wait.h"

using testsupport::answerModal;

namespace {

QString Run(const QString &program, const QStringList &args) {
  QProcess p;
  p.start(program, args);
  if (!p.waitForFinished(60000)) return QStringLiteral("<%1 did not finish>").arg(program);
  return QString::fromUtf8(p.readAllStandardOutput());
}

QString PdfText(const QString &pdf) { return Run(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")}); }

int PdfPages(const QString &pdf) {
  const QString info = Run(QStringLiteral("pdfinfo"), {pdf});
  const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(info);
  return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// Image rows listed by pdfimages (after its two header lines).
int PdfImages(const QString &pdf) {
  return Run(QStringLiteral("pdfimages"), {QStringLiteral("-list"), pdf})
             .split(QLatin1Char('\n'), Qt::SkipEmptyParts)
             .size() -
         2;
}

QString Table() {
  QStringList rows;
  for (int i = 1; i <= 200; ++i) rows << QStringLiteral("row%1 value%1").arg(i, 3, 10, QLatin1Char('0'));
  return QStringLiteral("氧化锌避雷器带电测试仪测试数据\r\n") + rows.join(QStringLiteral("\r\n"));
}

void AcceptPrint(QPrintDialog *d) { d->accept(); }

}  // namespace

class TestPrinting : public QObject {
  Q_OBJECT
  QTemporaryDir dir_;
  std::unique_ptr<Form2> form_;
  QString pdf_;

 private slots:
  void initTestCase() {
    testsupport::makeTemporaryPortsDir();
    InstallFontSubstitutes();
  }

  void init() {
#ifdef Q_OS_WIN
    // Windows shows its own print dialog, which no test can answer, and has
    // no pdftotext: there only a failing dialog and the dialogs' language are.
    const QByteArray name = QTest::currentTestFunction();
    if (name != "dialogsSpeakChinese" && name != "failingDialogShowsTheErrorBox")
      QSKIP("Windows prints through its own dialog");
#endif
    form_ = std::make_unique<Form2>();
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    static int n = 0;
    pdf_ = dir_.filePath(QStringLiteral("out%1.pdf").arg(++n));
    QPrinter &printer = form_->Printer();
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf_);
  }
  void cleanup() { form_.reset(); }

  // The whole table, page after page, and nothing else: every printed line is
  // the title or a row, each row exactly once and in order, no page number.
  void historyPrintsTheWholeTable() {
    form_->OperatingMode = 2;
    form_->RichTextBox1->setText(Table());
    auto answered = answerModal<QPrintDialog>(AcceptPrint);
    form_->mnuprint_Click();
    QVERIFY(*answered);
    QCOMPARE(form_->CommonDialog1->Flags, 264);
    const QString text = PdfText(pdf_);
    const QStringList pages = text.split(QLatin1Char('\f'), Qt::SkipEmptyParts);
    QVERIFY(pages.size() > 1);
    QCOMPARE(PdfPages(pdf_), int(pages.size()));
    const QRegularExpression row(QStringLiteral("^row(\\d{3}) value\\1$"));
    QStringList lines;
    for (const QString &page : pages)
      for (const QString &line : page.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        if (!line.trimmed().isEmpty()) lines << line.trimmed();
    QCOMPARE(lines.value(0), QStringLiteral("氧化锌避雷器带电测试仪测试数据"));
    QCOMPARE(lines.size(), 201);
    for (int i = 1; i <= 200; ++i) {
      const QRegularExpressionMatch m = row.match(lines.at(i));
      QVERIFY2(m.hasMatch() && m.captured(1).toInt() == i, qPrintable(lines.at(i)));
    }
  }

  void historyPrintsOnlyTheSelection() {
    form_->OperatingMode = 2;
    form_->RichTextBox1->setText(Table());
    QTextCursor c = form_->RichTextBox1->textCursor();
    c.setPosition(form_->RichTextBox1->toPlainText().indexOf(QStringLiteral("row050")));
    c.setPosition(form_->RichTextBox1->toPlainText().indexOf(QStringLiteral("row053")),
                  QTextCursor::KeepAnchor);
    form_->RichTextBox1->setTextCursor(c);
    bool offered = false;
    auto answered = answerModal<QPrintDialog>([&](QPrintDialog *d) {
      auto *selection = d->findChild<QRadioButton *>(QStringLiteral("printSelection"));
      offered = selection && !selection->isHidden() && selection->isChecked();
      d->accept();
    });
    form_->mnuprint_Click();
    QVERIFY(*answered);
    QCOMPARE(form_->CommonDialog1->Flags, 265);
    QVERIFY(offered);  // the dialog opens with the range set to the selection
    const QString text = PdfText(pdf_);
    QVERIFY(text.contains(QStringLiteral("row050 value050")));
    QVERIFY(text.contains(QStringLiteral("row052 value052")));
    QVERIFY(!text.contains(QStringLiteral("row049")));
    QVERIFY(!text.contains(QStringLiteral("row053")));
    QVERIFY(!text.contains(QStringLiteral("氧化锌")));
  }

  void realTimePrintsTheWindowOnOnePage() {
    form_->OperatingMode = 1;
    auto answered = answerModal<QPrintDialog>(AcceptPrint);
    form_->mnuprint_Click();
    QVERIFY(*answered);
    QCOMPARE(PdfPages(pdf_), 1);
    QCOMPARE(PdfImages(pdf_), 1);
  }

  void cancelPrintsNothing_data() {
    QTest::addColumn<short>("mode");
    QTest::newRow("history") << short(2);
    QTest::newRow("real-time") << short(1);
  }
  void cancelPrintsNothing() {
    QFETCH(short, mode);
    form_->OperatingMode = mode;
    form_->RichTextBox1->setText(Table());
    auto answered = answerModal<QPrintDialog>([](QPrintDialog *d) { d->reject(); });
    form_->mnuprint_Click();
    QVERIFY(*answered);
    QVERIFY(!QFileInfo::exists(pdf_));
  }

  void failingDialogShowsTheErrorBox_data() {
    QTest::addColumn<bool>("setup");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("firstLine");
    QTest::newRow("print") << false << QStringLiteral("Printing Error!") << QStringLiteral("文件打印出错.");
    QTest::newRow("set-up") << true << QStringLiteral("Printsetting Error!")
                            << QStringLiteral("打印设置出错.");
  }
  void failingDialogShowsTheErrorBox() {
    QFETCH(bool, setup);
    QFETCH(QString, title);
    QFETCH(QString, firstLine);
    form_->OperatingMode = 2;
    form_->CommonDialog1->PrintDialogFault = QStringLiteral("没有安装打印机.");
    QString shownTitle, shownText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    auto answered = answerModal<QMessageBox>([&](QMessageBox *box) {
      shownTitle = box->windowTitle();
      shownText = box->text();
      icon = box->icon();
      box->accept();
    });
    setup ? form_->mnuprintsetting_Click() : form_->mnuprint_Click();
    QVERIFY(*answered);
    QCOMPARE(shownTitle, title);
    QCOMPARE(shownText, firstLine + QStringLiteral("\r\n没有安装打印机."));
    QCOMPARE(icon, QMessageBox::Warning);
    QVERIFY(!QFileInfo::exists(pdf_));
  }

  void setupChoicesCarryOverToPrinting() {
    auto setupAnswered = answerModal<QPageSetupDialog>([](QPageSetupDialog *d) {
      d->findChild<QRadioButton *>(QStringLiteral("landscape"))->click();
      d->accept();
    });
    form_->mnuprintsetting_Click();
    QVERIFY(*setupAnswered);
    QCOMPARE(form_->CommonDialog1->Flags, 328);
    QCOMPARE(form_->Printer().pageLayout().orientation(), QPageLayout::Landscape);

    form_->OperatingMode = 2;
    auto answered = answerModal<QPrintDialog>(AcceptPrint);
    form_->mnuprint_Click();
    QVERIFY(*answered);
    const QString info = Run(QStringLiteral("pdfinfo"), {pdf_});
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("Page size:\\s+([\\d.]+) x ([\\d.]+)")).match(info);
    QVERIFY2(m.hasMatch(), qPrintable(info));
    QVERIFY(m.captured(1).toDouble() > m.captured(2).toDouble());
  }

  void dialogsSpeakChinese() {
    InstallChineseTranslation(*static_cast<QApplication *>(QCoreApplication::instance()));
    QCOMPARE(QCoreApplication::translate("QFileDialog", "&Save"), QStringLiteral("保存(&S)"));
  }
};

QTEST_MAIN(TestPrinting)
#include "test_printing.moc"
