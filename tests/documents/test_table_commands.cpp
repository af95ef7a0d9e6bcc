// The history table's commands: clear, save of the cleared and the untouched
// table (bytes compared), and paging by the buttons and the menu items.
#include <QFileDialog>
#include <QPlainTextEdit>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>

#include "support/file_bytes.h"
#include "app/controls.h"
#include "app/form2.h"
#include "support/modal_answer.h"
#include "protocol/history_table.h"
#include "support/event_wait.h"
#include "support/sim_process.h"

using testsupport::answerModal;

namespace {

QByteArray Spaces(int n) { return QByteArray(n, ' '); }

// The cleared table in GBK, written out byte by byte.
QByteArray HeadingBytes() {
  return Spaces(30) + QByteArray::fromHex("d1f5bbafd0bfb1dcc0d7c6f7b4f8b5e7b2e2cad4d2c7b2e2cad4cafdbedd") +
         "\r\n\r\n" + Spaces(29) + QByteArray::fromHex("d7e9") + " " + QByteArray::fromHex("cafd") +
         Spaces(21) + QByteArray::fromHex("cafd") + " " + QByteArray::fromHex("d6b5");
}

QString LongTable() {
  QStringList lines;
  for (int i = 0; i < 300; ++i) lines << QStringLiteral("line %1").arg(i);
  return lines.join(QStringLiteral("\r\n"));
}

}  // namespace

class TestTableCommands : public QObject {
  Q_OBJECT
  QTemporaryDir home_;

 private slots:
  void initTestCase() {
    testsupport::makeTemporaryPortsDir();
    qputenv("HOME", home_.path().toLocal8Bit());
  }

  void clearGivesExactlyTheHeading() {
    Form2 form;
    form.RichTextBox1->setText(LongTable());
    form.Command6_Click();
    const QString heading = QString(30, QLatin1Char(' ')) +
                            QStringLiteral("氧化锌避雷器带电测试仪测试数据\r\n\r\n") +
                            QString(29, QLatin1Char(' ')) + QStringLiteral("组 数") +
                            QString(21, QLatin1Char(' ')) + QStringLiteral("数 值");
    QCOMPARE(form.RichTextBox1->Text(), heading);
    form.Command6_Click();
    QCOMPARE(form.RichTextBox1->Text(), heading);
  }

  void saveWritesTheTableInGbkWithCrLf_data() {
    QTest::addColumn<bool>("clearFirst");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("after clear") << true << HeadingBytes();
    QTest::newRow("before any read")
        << false << Spaces(30) + QByteArray::fromHex("b8dfbeabb6c8c7afd0cec2a9b5e7c1f7b1edb2e2cad4cafdbedd");
  }
  void saveWritesTheTableInGbkWithCrLf() {
    QFETCH(bool, clearFirst);
    QFETCH(QByteArray, expected);
    Form2 form;
    form.OperatingMode = 2;
    if (clearFirst) form.Command6_Click();
    auto answered = answerModal<QFileDialog>([](QFileDialog *d) { static_cast<QDialog *>(d)->accept(); });
    form.Command5_Click();
    QVERIFY(*answered);
    // Windows takes the profile folder from the account, not from HOME: there
    // this is the profile in the Wine prefix scripts/windows keeps.
    QCOMPARE(ReadAll(QDir::homePath() + QStringLiteral("/Kestrelomat/Kestrelomat.txt")), expected);
  }

  // "读取" fetches the stored groups from the meter into the table.
  void readFillsTheTableFromTheMeter() {
    testsupport::MeterSim sim({QStringLiteral("--groups"), QStringLiteral("12")});
    QVERIFY(sim.waitReady());
    Form2 form;
    form.Form_Load();
    QVERIFY(testsupport::waitUntil([&] { return form.Connected == 1; }, 5000));
    // History mode greets the meter again; its answer must be in before reading.
    const int greetings = sim.countReceived(5);
    form.Option2->setChecked(true);
    form.Option2_Click();
    QVERIFY(sim.waitForReceived(5, greetings + 1, 3000));
    QVERIFY(testsupport::waitUntil([&] { return form.Label6->text() == QStringLiteral("握手成功"); }, 3000));
    testsupport::pumpEvents(300);

    const int answers = sim.sent().size();
    form.Command4->click();
    QVERIFY(testsupport::waitUntil([&] { return sim.sent().size() >= answers + 2; }, 3000));
    const QString expected = HistoryTableText(sim.sent().last().bytes, 12);
    QVERIFY(testsupport::waitUntil([&] { return form.RichTextBox1->Text() == expected; }, 3000));
    QCOMPARE(expected.count(QStringLiteral("\r\n")), 2 + 12);
  }

  // The buttons and the menu items must page exactly as Page Up / Page Down
  // pressed in the table: compared with a plain editor of the same size.
  void pagingMovesOnePageLikeTheKey_data() {
    QTest::addColumn<bool>("byMenu");
    QTest::newRow("buttons") << false;
    QTest::newRow("menu items") << true;
  }
  void pagingMovesOnePageLikeTheKey() {
    QFETCH(bool, byMenu);
    Form2 form;
    form.OperatingMode = 2;
    form.RichTextBox1->setText(LongTable());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QPlainTextEdit *box = form.RichTextBox1;
    QScrollBar *bar = box->verticalScrollBar();

    QPlainTextEdit reference;
    reference.setLineWrapMode(QPlainTextEdit::NoWrap);
    reference.setFont(box->font());
    reference.setPlainText(box->toPlainText());
    reference.resize(box->size());
    reference.show();
    QVERIFY(QTest::qWaitForWindowExposed(&reference));

    auto pageDown = [&] { byMenu ? form.mnudownpage->trigger() : form.Command8->click(); };
    auto pageUp = [&] { byMenu ? form.mnuuppage->trigger() : form.Command7->click(); };

    // Page up at the top changes nothing.
    pageUp();
    testsupport::pumpEvents(50);
    QCOMPARE(bar->value(), 0);
    QCOMPARE(box->textCursor().position(), 0);
    QCOMPARE(form.focusWidget(), static_cast<QWidget *>(box));

    pageDown();
    testsupport::pumpEvents(50);
    const int onePage = bar->value();
    QVERIFY(onePage > 0);
    pageDown();
    testsupport::pumpEvents(50);
    QVERIFY(bar->value() > onePage);

    QTest::keyClick(&reference, Qt::Key_PageDown);
    QTest::keyClick(&reference, Qt::Key_PageDown);
    QCOMPARE(bar->value(), reference.verticalScrollBar()->value());
    QCOMPARE(box->textCursor().position(), reference.textCursor().position());

    pageUp();
    testsupport::pumpEvents(50);
    QTest::keyClick(&reference, Qt::Key_PageUp);
    QCOMPARE(bar->value(), reference.verticalScrollBar()->value());
    QCOMPARE(box->textCursor().position(), reference.textCursor().position());
    QCOMPARE(form.focusWidget(), static_cast<QWidget *>(box));
  }
};

QTEST_MAIN(TestTableCommands)
#include "test_table_commands.moc"
