// The menu bar: captions, access letters and shortcuts; items that repeat a
// button; the edit items acting as their keys in the focused box; the about
// box; exit through the normal close path.
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QKeyEvent>
#include <QtTest>

#include "app/controls.h"
#include "app/form2.h"
#include "serial/form1.h"
#include "support/modal_answer.h"
#include "support/event_wait.h"
#include "support/sim_process.h"

using testsupport::answerModal;

namespace {

QString Describe(const Form2 &form) {
  return QStringLiteral("RunState=%1 TraceActive=%2 Label6=%3")
      .arg(form.RunState.isValid() ? QString::number(form.RunState.toInt()) : QStringLiteral("none"))
      .arg(form.TraceActive)
      .arg(form.Label6->text());
}

void Activate(QWidget &w) {
  w.show();
  QApplication::setActiveWindow(&w);
  QVERIFY(QTest::qWaitForWindowActive(&w));
}

// Accepts the shortcut override of Ctrl+E, as a text box whose key
// bindings include it as "end of line" does.
class ClaimsCtrlE : public QObject {
 public:
  bool eventFilter(QObject *, QEvent *e) override {
    if (e->type() != QEvent::ShortcutOverride) return false;
    auto *key = static_cast<QKeyEvent *>(e);
    if (key->key() != Qt::Key_E || key->modifiers() != Qt::ControlModifier) return false;
    e->accept();
    return true;
  }
};

}  // namespace

class TestMenus : public QObject {
  Q_OBJECT
  QTemporaryDir home_;

 private slots:
  void initTestCase() {
    testsupport::makeTemporaryPortsDir();
    qputenv("HOME", home_.path().toLocal8Bit());
  }

  void menuTree() {
    Form2 form;
    QStringList tree;
    for (QAction *top : form.menuBar()->actions()) {
      tree << top->menu()->objectName() + QLatin1Char('=') + top->text();
      for (QAction *a : top->menu()->actions())
        tree << QStringLiteral("  %1=%2 [%3]%4")
                    .arg(a->objectName(), a->text(), a->shortcut().toString(QKeySequence::PortableText),
                         a->isEnabled() && a->isVisible() ? QString() : QStringLiteral(" off"));
    }
    const QStringList expected = {
        QStringLiteral("mnufile=文件(&F)"),
        QStringLiteral("  mnusave=保存(&S) [Ctrl+S]"),
        QStringLiteral("  mnuprint=打印(&P) [Ctrl+P]"),
        QStringLiteral("  mnuprintsetting=打印设置 []"),
        QStringLiteral("  mnuexit=退出(&X) [Ctrl+E]"),
        QStringLiteral("  mnurecords=测量记录(&R)... []"),
        QStringLiteral("  mnuassets=避雷器台账(&A)... []"),
        QStringLiteral("mnuedit=编辑(&E)"),
        QStringLiteral("  mnucomsetting=通信设置 []"),
        QStringLiteral("  mnuuppage=上翻 [F1]"),
        QStringLiteral("  mnudownpage=下翻 [F2]"),
        QStringLiteral("  mnux=剪切 []"),
        QStringLiteral("  mnucopy=复制 []"),
        QStringLiteral("  mnupaste=粘贴 []"),
        QStringLiteral("  mnudelete=删除 [Ctrl+D]"),
        QStringLiteral("  mnucancel=撤销 []"),
        QStringLiteral("mnurun=运行(&R)"),
        QStringLiteral("  mnurun1=启动 [F3]"),
        QStringLiteral("  mnupause=暂停 [F4]"),
        QStringLiteral("  mnustop=停止 [F5]"),
        QStringLiteral("mnuhelp=帮助(&H)"),
        QStringLiteral("  mnuaboutus=关于软件 [Ctrl+H]"),
    };
    QCOMPARE(tree, expected);
  }

  // A run key does what its button does, and nothing while the history mode
  // has disabled it.
  void runKeysEqualTheButtons_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("button");
    QTest::newRow("F3 start") << int(Qt::Key_F3) << 1;
    QTest::newRow("F4 pause") << int(Qt::Key_F4) << 2;
    QTest::newRow("F5 stop") << int(Qt::Key_F5) << 3;
  }
  void runKeysEqualTheButtons() {
    QFETCH(int, key);
    QFETCH(int, button);
    Form2 byButton, byKey;
    (button == 1 ? byButton.Command1 : button == 2 ? byButton.Command2 : byButton.Command3)->click();
    Activate(byKey);
    QTest::keyClick(&byKey, Qt::Key(key));
    QCOMPARE(Describe(byKey), Describe(byButton));

    Form2 disabled;
    Activate(disabled);
    disabled.Option2_Click();
    disabled.Label6->setText(QStringLiteral("unchanged"));
    const QString before = Describe(disabled);
    QTest::keyClick(&disabled, Qt::Key(key));
    QCOMPARE(Describe(disabled), before);
  }

  void cutInTheAlarmBoxActsAsCtrlX() {
    Form2 form;
    Activate(form);
    form.Text1->setText(QStringLiteral("12345"));
    form.Text1->setFocus();
    form.Text1->setSelection(1, 3);
    form.mnux->trigger();
    QVERIFY(testsupport::waitUntil([&] { return form.Text1->text() == QStringLiteral("15"); }, 2000));
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("234"));
    QCOMPARE(form.Text1->cursorPosition(), 1);
  }

  // Keyboard only: Alt+E opens the edit menu, the arrows walk to an item and
  // Enter runs it on the selection the box had before the menu took the keys.
  void editMenuByKeyboardActsOnTheSelection() {
    Form2 form;
    Activate(form);
    form.Text1->setText(QStringLiteral("12345"));
    form.Text1->setFocus();
    form.Text1->setSelection(1, 3);
    auto chooseByKeyboard = [&](QAction *item) {
      QTest::keyClick(form.Text1, Qt::Key_E, Qt::AltModifier);
      QMenu *menu = nullptr;
      QVERIFY(testsupport::waitUntil(
          [&] { return (menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())); }, 2000));
      QCOMPARE(menu, form.mnuedit);
      for (int i = 0; i < menu->actions().size() && menu->activeAction() != item; ++i)
        QTest::keyClick(menu, Qt::Key_Down);
      QCOMPARE(menu->activeAction(), item);
      QTest::keyClick(menu, Qt::Key_Return);
    };
    chooseByKeyboard(form.mnux);
    QVERIFY(testsupport::waitUntil([&] { return form.Text1->text() == QStringLiteral("15"); }, 2000));
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("234"));
    Activate(form);  // the headless platform leaves the closed menu active
    QCOMPARE(QApplication::focusWidget(), form.Text1);

    form.Text1->setSelection(2, -1);  // selected leftwards: "5"
    chooseByKeyboard(form.mnudelete);
    QVERIFY(testsupport::waitUntil([&] { return form.Text1->text() == QStringLiteral("1"); }, 2000));
  }

  // "通信设置" first shows the dialog centred over the main window; Esc closes
  // it, also from one of its lists.
  void settingsDialogCentredAndClosedByEsc() {
    Form2 form;
    form.move(40, 30);
    Activate(form);
    form.mnucomsetting->trigger();
    Form1 &dialog = form.EnsureSettingsDialog();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QPoint offset = dialog.frameGeometry().center() - form.frameGeometry().center();
    QVERIFY2(offset.manhattanLength() <= 2,
             qPrintable(QStringLiteral("%1,%2").arg(offset.x()).arg(offset.y())));
    QApplication::setActiveWindow(&dialog);
    const QString shown = dialog.Combo2->currentText();
    dialog.Combo2->setFocus();
    QTest::keyClick(dialog.Combo2, Qt::Key_Escape);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.Combo2->currentText(), shown);  // nothing picked
  }

  void deleteInTheTableActsAsTheDeleteKey_data() {
    QTest::addColumn<bool>("byShortcut");
    QTest::newRow("menu item") << false;
    QTest::newRow("Ctrl+D") << true;
  }
  void deleteInTheTableActsAsTheDeleteKey() {
    QFETCH(bool, byShortcut);
    Form2 form;
    Activate(form);
    form.Option2_Click();
    form.RichTextBox1->setText(QStringLiteral("abcdef\r\nghi"));
    form.RichTextBox1->setFocus();
    QTextCursor c = form.RichTextBox1->textCursor();
    c.setPosition(2);
    c.setPosition(4, QTextCursor::KeepAnchor);
    form.RichTextBox1->setTextCursor(c);
    if (byShortcut)
      QTest::keyClick(form.RichTextBox1, Qt::Key_D, Qt::ControlModifier);
    else
      form.mnudelete->trigger();
    QVERIFY(testsupport::waitUntil([&] { return form.RichTextBox1->Text() == QStringLiteral("abef\r\nghi"); },
                                   2000));
    // With nothing selected, Delete removes the character after the caret.
    form.mnudelete->trigger();
    QVERIFY(testsupport::waitUntil([&] { return form.RichTextBox1->Text() == QStringLiteral("abf\r\nghi"); },
                                   2000));
  }

  void copyPasteAndUndo() {
    Form2 form;
    Activate(form);
    form.Text1->setText(QStringLiteral("42"));
    form.Text1->setFocus();
    form.Text1->selectAll();
    form.mnucopy->trigger();
    QVERIFY(testsupport::waitUntil([] { return QApplication::clipboard()->text() == QStringLiteral("42"); },
                                   2000));
    form.Text8->setFocus();
    form.Text8->setText(QStringLiteral("7"));
    form.Text8->end(false);
    form.mnupaste->trigger();
    QVERIFY(testsupport::waitUntil([&] { return form.Text8->text() == QStringLiteral("742"); }, 2000));
    form.mnucancel->trigger();
    QVERIFY(testsupport::waitUntil([&] { return form.Text8->text() == QStringLiteral("7"); }, 2000));
  }

  void saveShortcutOpensTheDialogOfTheMode_data() {
    QTest::addColumn<bool>("realTime");
    QTest::addColumn<QString>("firstType");
    QTest::newRow("real-time: picture") << true << QStringLiteral("位图格式 (*.bmp)");
    QTest::newRow("history: text") << false << QStringLiteral("文本格式 (*.txt)");
  }
  void saveShortcutOpensTheDialogOfTheMode() {
    QFETCH(bool, realTime);
    QFETCH(QString, firstType);
    Form2 form;
    Activate(form);
    realTime ? form.Option1_Click() : form.Option2_Click();
    form.OperatingMode = realTime ? 1 : 2;
    QString shown;
    auto answered = answerModal<QFileDialog>([&](QFileDialog *d) {
      shown = d->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"))->itemText(0);
      d->reject();
    });
    QTest::keyClick(&form, Qt::Key_S, Qt::ControlModifier);
    QVERIFY(testsupport::waitUntil([&] { return *answered; }, 10000));
    QCOMPARE(shown, firstType);
  }

  void aboutBox() {
    Form2 form;
    Activate(form);
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    auto answered = answerModal<QMessageBox>([&](QMessageBox *box) {
      title = box->windowTitle();
      text = box->text();
      icon = box->icon();
      buttons = box->standardButtons();
      box->accept();
    });
    QTest::keyClick(&form, Qt::Key_H, Qt::ControlModifier);
    QVERIFY(testsupport::waitUntil([&] { return *answered; }, 10000));
    QCOMPARE(title, QStringLiteral("欢迎使用我们公司产品"));
    // Two lines: name and version, then the help hint with its three blanks.
    QCOMPARE(text.split(QLatin1Char('\n'), Qt::SkipEmptyParts),
             QStringList({QStringLiteral("氧化锌避雷器带电测试仪监控软件V1.0(CN)"),
                          QStringLiteral("   如需帮助请联系我们!")}));
    QCOMPARE(icon, QMessageBox::Information);
    QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  }

  // Exit goes through the normal close path: the closing byte reaches the
  // meter exactly once. Ctrl+E quits also from a text box, which would
  // otherwise take it as "end of line".
  void exitWritesTheClosingByteOnce_data() {
    QTest::addColumn<bool>("byShortcut");
    QTest::addColumn<QString>("focus");
    QTest::newRow("Ctrl+E") << true << QString();
    QTest::newRow("Ctrl+E in the alarm box") << true << QStringLiteral("Text1");
    QTest::newRow("Ctrl+E in a cursor box") << true << QStringLiteral("Text5");
    QTest::newRow("menu item") << false << QString();
  }
  void exitWritesTheClosingByteOnce() {
    QFETCH(bool, byShortcut);
    QFETCH(QString, focus);
    testsupport::MeterSim sim;
    QVERIFY(sim.waitReady());
    Form2 form;
    form.Form_Load();
    Activate(form);
    QVERIFY(sim.waitForReceived(5, 1, 5000));  // the link is up
    QCOMPARE(sim.countReceived(0), 0);
    QWidget *box = focus.isEmpty() ? nullptr : form.findChild<QWidget *>(focus);
    ClaimsCtrlE claim;
    if (box) {
      // On X11 desktops a line edit claims Ctrl+E ("end of line") before any
      // shortcut sees it; the offscreen platform's key bindings do not, so
      // the claim is made here the way the line edit makes it there.
      box->installEventFilter(&claim);
      box->setFocus();
      QVERIFY(box->hasFocus());
    }
    if (byShortcut)
      QTest::keyClick(box ? box : &form, Qt::Key_E, Qt::ControlModifier);
    else
      form.mnuexit->trigger();
    QVERIFY(sim.waitForReceived(0, 1, 5000));
    QVERIFY(!form.isVisible());
    form.close();  // a second close must not write again
    testsupport::pumpEvents(300);
    QCOMPARE(sim.countReceived(0), 1);
  }
};

QTEST_MAIN(TestMenus)
#include "test_menus.moc"
