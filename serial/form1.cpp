#include "serial/form1.h"

#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QProxyStyle>
#include <QScreen>
#include <QStyleOptionComboBox>

#include "app/form2.h"
#include "app/placement.h"
#include "app/twips.h"
#include "serial/port_names.h"

namespace {

// The lists are narrow (the baud rate list is 57 pixels wide), and the usual
// drop-down button would leave too little of that for an entry such as
// "115200". This style draws the lists with a slim button and gives the rest
// to the entry text.
class SlimListStyle : public QProxyStyle {
 public:
  static constexpr int kButtonWidth = 12;

  QRect subControlRect(ComplexControl cc, const QStyleOptionComplex *opt, SubControl sc,
                       const QWidget *widget) const override {
    if (cc == CC_ComboBox) {
      const QRect r = opt->rect;
      const QRect button(r.right() - kButtonWidth, r.top() + 1, kButtonWidth, r.height() - 2);
      switch (sc) {
        case SC_ComboBoxArrow: return visualRect(opt->direction, r, button);
        case SC_ComboBoxEditField:
          return visualRect(opt->direction, r,
                            QRect(r.left() + 2, r.top() + 2, r.width() - kButtonWidth - 3, r.height() - 4));
        default: break;
      }
    }
    return QProxyStyle::subControlRect(cc, opt, sc, widget);
  }
};

QComboBox *List(QWidget *in, const char *name, int l, int t, int w, int h, const QStringList &entries) {
  auto *c = Placed(new QComboBox(in), name, l, t, w, h);
  c->setEditable(false);
  c->addItems(entries);
  return c;
}

void Select(QComboBox *list, const QString &entry) { list->setCurrentIndex(list->findText(entry)); }

}  // namespace

Form1::Form1(Form2 &main) : QWidget(nullptr), main_(main) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("高精度钳形漏电流表监控软件"));
  setFont(SongFont(9));
  setFixedSize(TwipsToPixels(5460), TwipsToPixels(2595));

  Frame1 = Placed(new QGroupBox(QStringLiteral("通信设置"), this), "Frame1", 360, 240, 4695, 1935);

  Label1 = Placed(new QLabel(QStringLiteral("串口号"), Frame1), "Label1", 240, 480, 615, 255);
  Label2 = Placed(new QLabel(QStringLiteral("波特率"), Frame1), "Label2", 1200, 480, 615, 255);
  Label3 = Placed(new QLabel(QStringLiteral("数据位"), Frame1), "Label3", 2160, 480, 735, 255);
  Label4 = Placed(new QLabel(QStringLiteral("停止位"), Frame1), "Label4", 2880, 480, 615, 255);
  Label5 = Placed(new QLabel(QStringLiteral("校验位"), Frame1), "Label5", 3720, 480, 615, 255);

  QStringList ports;
  for (int n = portnames::kFirstPort; n <= portnames::kLastPort; ++n) ports << portnames::PortName(n);
  Combo1 = List(Frame1, "Combo1", 240, 960, 855, 300, ports);
  Combo2 =
      List(Frame1, "Combo2", 1200, 960, 855, 300,
           {QStringLiteral("1200"), QStringLiteral("2400"), QStringLiteral("4800"), QStringLiteral("9600"),
            QStringLiteral("14400"), QStringLiteral("19200"), QStringLiteral("38400"),
            QStringLiteral("56000"), QStringLiteral("57600"), QStringLiteral("115200")});
  Combo3 = List(Frame1, "Combo3", 2160, 960, 495, 300,
                {QStringLiteral("5"), QStringLiteral("6"), QStringLiteral("7"), QStringLiteral("8")});
  Combo5 = List(Frame1, "Combo5", 2880, 960, 615, 300, {QStringLiteral("1"), QStringLiteral("2")});
  Combo4 = List(Frame1, "Combo4", 3720, 960, 735, 300,
                {QStringLiteral("NONE"), QStringLiteral("EVEN"), QStringLiteral("ODD")});

  auto *slim = new SlimListStyle;
  slim->setParent(this);
  for (QComboBox *c : {Combo1, Combo2, Combo3, Combo4, Combo5}) {
    c->setFocusPolicy(Qt::StrongFocus);
    c->setStyle(slim);
  }
  setTabOrder(Combo1, Combo2);
  setTabOrder(Combo2, Combo3);
  setTabOrder(Combo3, Combo4);
  setTabOrder(Combo4, Combo5);

  // Only the user's picks run the handlers; selection by the program does not.
  connect(Combo1, &QComboBox::activated, this, &Form1::Combo1_Click);
  connect(Combo2, &QComboBox::activated, this, &Form1::Combo2_Click);
  connect(Combo3, &QComboBox::activated, this, &Form1::Combo3_Click);
  connect(Combo4, &QComboBox::activated, this, &Form1::Combo4_Click);
  connect(Combo5, &QComboBox::activated, this, &Form1::Combo5_Click);
}

void Form1::showEvent(QShowEvent *e) {
  // The first time it appears, the dialog stands centred over the main
  // window, inside the free area of that window's screen; after that it
  // stays where the user left it.
  if (!e->spontaneous() && !placed_) {
    placed_ = true;
    QRect r(QPoint(), frameGeometry().size());
    r.moveCenter(main_.frameGeometry().center());
    if (QScreen *on = main_.screen()) {
      const QRect avail = on->availableGeometry();
      r.moveLeft(qBound(avail.left(), r.left(), qMax(avail.left(), avail.right() + 1 - r.width())));
      r.moveTop(qBound(avail.top(), r.top(), qMax(avail.top(), avail.bottom() + 1 - r.height())));
    }
    move(r.topLeft());
  }
  QWidget::showEvent(e);
}

void Form1::keyPressEvent(QKeyEvent *e) {
  // Esc closes the dialog, as it closes any dialog. A list that is open
  // takes the Esc itself and only closes.
  if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier) {
    close();
    return;
  }
  QWidget::keyPressEvent(e);
}

void Form1::Form_Load() {
  RefreshPortTooltips();
  SelectCurrentSettings();
}

void Form1::SelectCurrentSettings() {
  Select(Combo1, main_.PortName);
  Select(Combo2, main_.BaudRate);
  Select(Combo3, main_.DataBits);
  Select(Combo4, main_.Parity);
  Select(Combo5, main_.StopBits);
}

// Each port entry tells which device it stands for on this machine.
void Form1::RefreshPortTooltips() {
  for (int i = 0; i < Combo1->count(); ++i) {
    const QString device = portnames::DescribePort(i + 1);
    QString tip = QStringLiteral("设备: %1").arg(device);
    if (portnames::ResolvePort(i + 1).device.isEmpty()) tip += QStringLiteral(" (不存在)");
    Combo1->setItemData(i, device.isEmpty() ? QString() : tip, Qt::ToolTipRole);
  }
}

// Every pick hands the window the settings with the picked entry in place;
// the window applies them, and the lists then show what is in use (a refused
// pick springs back).
void Form1::Choose(QString SerialChoice::*setting, QComboBox *list, SerialChoice::Pick pick) {
  SerialChoice choice = main_.CurrentSerialChoice();
  choice.*setting = list->currentText();
  main_.ApplySerialChoice(choice, pick);
  if (pick == SerialChoice::Pick::Port) RefreshPortTooltips();
  SelectCurrentSettings();
}

void Form1::Combo1_Click() { Choose(&SerialChoice::PortName, Combo1, SerialChoice::Pick::Port); }
void Form1::Combo2_Click() { Choose(&SerialChoice::BaudRate, Combo2, SerialChoice::Pick::LineSettings); }
void Form1::Combo3_Click() { Choose(&SerialChoice::DataBits, Combo3, SerialChoice::Pick::LineSettings); }
void Form1::Combo4_Click() { Choose(&SerialChoice::Parity, Combo4, SerialChoice::Pick::LineSettings); }
void Form1::Combo5_Click() { Choose(&SerialChoice::StopBits, Combo5, SerialChoice::Pick::LineSettings); }

void Form1::ApplySerialSettings() {
  main_.ApplySerialChoice(main_.CurrentSerialChoice(), SerialChoice::Pick::LineSettings);
  SelectCurrentSettings();
}
