// The menu bar: four menus, their items with captions and shortcut keys, and
// the handlers of the items that belong to the application shell.
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>

#include "app/form2.h"
#include "documents/keystrokes.h"

namespace {

// Text boxes claim some Ctrl keys for themselves (Ctrl+E moves to the end of
// the line, Ctrl+D deletes, ...) before a shortcut sees them. In the main
// window the menu's shortcut keys win wherever the focus is: the claim is
// refused for any key an item of the menu bar carries.
class MenuKeysFirst : public QObject {
 public:
  explicit MenuKeysFirst(Form2 *form) : QObject(form), form_(form) {}

  bool eventFilter(QObject *target, QEvent *event) override {
    if (event->type() != QEvent::ShortcutOverride || !target->isWidgetType() ||
        static_cast<QWidget *>(target)->window() != form_)
      return false;
    const QKeySequence pressed(static_cast<QKeyEvent *>(event)->keyCombination());
    for (const QAction *a : form_->menuBar()->findChildren<QAction *>()) {
      if (!a->shortcut().isEmpty() && a->shortcut() == pressed) {
        event->ignore();
        return true;
      }
    }
    return false;
  }

 private:
  Form2 *form_;
};

}  // namespace

void Form2::BuildMenus() {
  auto item = [this](QMenu *menu, const char *name, const QString &caption, const QKeySequence &key,
                     void (Form2::*handler)()) {
    QAction *a = menu->addAction(caption);
    a->setObjectName(QString::fromLatin1(name));
    if (!key.isEmpty()) a->setShortcut(key);
    connect(a, &QAction::triggered, this, handler);
    return a;
  };
  auto menu = [this](const char *name, const QString &caption) {
    QMenu *m = menuBar()->addMenu(caption);
    m->setObjectName(QString::fromLatin1(name));
    return m;
  };

  mnufile = menu("mnufile", QStringLiteral("文件(&F)"));
  mnusave = item(mnufile, "mnusave", QStringLiteral("保存(&S)"), QKeySequence(QStringLiteral("Ctrl+S")),
                 &Form2::mnusave_Click);
  mnuprint = item(mnufile, "mnuprint", QStringLiteral("打印(&P)"), QKeySequence(QStringLiteral("Ctrl+P")),
                  &Form2::mnuprint_Click);
  mnuprintsetting =
      item(mnufile, "mnuprintsetting", QStringLiteral("打印设置"), {}, &Form2::mnuprintsetting_Click);
  mnuexit = item(mnufile, "mnuexit", QStringLiteral("退出(&X)"), QKeySequence(QStringLiteral("Ctrl+E")),
                 &Form2::mnuexit_Click);
  mnurecords = item(mnufile, "mnurecords", QStringLiteral("测量记录(&R)..."), {}, &Form2::mnurecords_Click);
  mnuassets = item(mnufile, "mnuassets", QStringLiteral("避雷器台账(&A)..."), {}, &Form2::mnuassets_Click);

  mnuedit = menu("mnuedit", QStringLiteral("编辑(&E)"));
  mnucomsetting = item(mnuedit, "mnucomsetting", QStringLiteral("通信设置"), {}, &Form2::mnucomsetting_Click);
  mnuuppage =
      item(mnuedit, "mnuuppage", QStringLiteral("上翻"), QKeySequence(Qt::Key_F1), &Form2::mnuuppage_Click);
  mnudownpage = item(mnuedit, "mnudownpage", QStringLiteral("下翻"), QKeySequence(Qt::Key_F2),
                     &Form2::mnudownpage_Click);
  mnux = item(mnuedit, "mnux", QStringLiteral("剪切"), {}, &Form2::mnux_Click);
  mnucopy = item(mnuedit, "mnucopy", QStringLiteral("复制"), {}, &Form2::mnucopy_Click);
  mnupaste = item(mnuedit, "mnupaste", QStringLiteral("粘贴"), {}, &Form2::mnupaste_Click);
  mnudelete = item(mnuedit, "mnudelete", QStringLiteral("删除"), QKeySequence(QStringLiteral("Ctrl+D")),
                   &Form2::mnudelete_Click);
  mnucancel = item(mnuedit, "mnucancel", QStringLiteral("撤销"), {}, &Form2::mnucancel_Click);

  mnurun = menu("mnurun", QStringLiteral("运行(&R)"));
  mnurun1 = item(mnurun, "mnurun1", QStringLiteral("启动"), QKeySequence(Qt::Key_F3), &Form2::mnurun1_Click);
  mnupause =
      item(mnurun, "mnupause", QStringLiteral("暂停"), QKeySequence(Qt::Key_F4), &Form2::mnupause_Click);
  mnustop = item(mnurun, "mnustop", QStringLiteral("停止"), QKeySequence(Qt::Key_F5), &Form2::mnustop_Click);

  mnuhelp = menu("mnuhelp", QStringLiteral("帮助(&H)"));
  mnuaboutus = item(mnuhelp, "mnuaboutus", QStringLiteral("关于软件"), QKeySequence(QStringLiteral("Ctrl+H")),
                    &Form2::mnuaboutus_Click);
  qApp->installEventFilter(new MenuKeysFirst(this));
}

void Form2::mnuexit_Click() { close(); }

void Form2::mnurun1_Click() { Command1_Click(); }
void Form2::mnupause_Click() { Command2_Click(); }
void Form2::mnustop_Click() { Command3_Click(); }

void Form2::mnusave_Click() {
  if (OperatingMode == kRealTimeMode)
    SaveChartPicture();
  else
    Command5_Click();
}

// The edit items type their key into whatever has the keyboard focus once the
// menu has closed; a widget that has no use for the key ignores it.
void Form2::mnux_Click() { PostKeyStroke(QApplication::focusWidget(), Qt::Key_X, Qt::ControlModifier); }
void Form2::mnucopy_Click() { PostKeyStroke(QApplication::focusWidget(), Qt::Key_C, Qt::ControlModifier); }
void Form2::mnupaste_Click() { PostKeyStroke(QApplication::focusWidget(), Qt::Key_V, Qt::ControlModifier); }
void Form2::mnudelete_Click() { PostKeyStroke(QApplication::focusWidget(), Qt::Key_Delete); }
void Form2::mnucancel_Click() { PostKeyStroke(QApplication::focusWidget(), Qt::Key_Z, Qt::ControlModifier); }

void Form2::mnuaboutus_Click() {
  // Name and version on the first line, the help hint on the second. Qt's
  // labels break lines at '\n' only (a carriage return shows as a blank).
  QMessageBox box(QMessageBox::Information, QStringLiteral("欢迎使用我们公司产品"),
                  QStringLiteral("氧化锌避雷器带电测试仪监控软件V1.0(CN)") + QLatin1Char('\n') +
                      QStringLiteral("   如需帮助请联系我们!") + QLatin1Char('\n'),
                  QMessageBox::Ok, this);
  box.setObjectName(QStringLiteral("AboutBox"));
  box.exec();
}
