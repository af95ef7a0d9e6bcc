#include "serial/form1.h"

#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QProxyStyle>
#include <QScreen>
#include <QStyleOptionComboBox>

#include "app/form2.h"
#include "app/twips.h"
#include "serial/comm_control.h"
#include "serial/line_settings.h"
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
          return visualRect(opt->direction, r, QRect(r.left() + 2, r.top() + 2, r.width() - kButtonWidth - 3, r.height() - 4));
        default: break;
      }
    }
    return QProxyStyle::subControlRect(cc, opt, sc, widget);
  }
};

QComboBox *List(QWidget *in, const char *name, int l, int t, int w, int h, const QStringList &entries) {
  auto *c = new QComboBox(in);
  c->setObjectName(QString::fromLatin1(name));
  c->setGeometry(TwipsRect(l, t, w, h));
  c->setEditable(false);
  c->addItems(entries);
  return c;
}

QLabel *Caption(QWidget *in, const char *name, int l, int t, int w, int h, const QString &text) {
  auto *label = new QLabel(text, in);
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(TwipsRect(l, t, w, h));
  return label;
}

void Select(QComboBox *list, const QString &entry) { list->setCurrentIndex(list->findText(entry)); }

// The list word for a parity letter of the settings text.
QString ParityWord(LineSettings::Parity p) {
  switch (p) {
    case LineSettings::Parity::Even: return QStringLiteral("EVEN");
    case LineSettings::Parity::Odd: return QStringLiteral("ODD");
    case LineSettings::Parity::Mark: return QStringLiteral("MARK");
    case LineSettings::Parity::Space: return QStringLiteral("SPACE");
    case LineSettings::Parity::None: break;
  }
  return QStringLiteral("NONE");
}

}  // namespace

Form1::Form1(Form2 &main) : QWidget(nullptr), main_(main) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("高精度钳形漏电流表监控软件"));
  QFont song(QStringLiteral("宋体"));
  song.setPointSizeF(9);
  setFont(song);
  setFixedSize(TwipsToPixels(5460), TwipsToPixels(2595));

  Frame1 = new QGroupBox(QStringLiteral("通信设置"), this);
  Frame1->setObjectName(QStringLiteral("Frame1"));
  Frame1->setGeometry(TwipsRect(360, 240, 4695, 1935));

  Label1 = Caption(Frame1, "Label1", 240, 480, 615, 255, QStringLiteral("串口号"));
  Label2 = Caption(Frame1, "Label2", 1200, 480, 615, 255, QStringLiteral("波特率"));
  Label3 = Caption(Frame1, "Label3", 2160, 480, 735, 255, QStringLiteral("数据位"));
  Label4 = Caption(Frame1, "Label4", 2880, 480, 615, 255, QStringLiteral("停止位"));
  Label5 = Caption(Frame1, "Label5", 3720, 480, 615, 255, QStringLiteral("校验位"));

  QStringList ports;
  for (int n = portnames::kFirstPort; n <= portnames::kLastPort; ++n) ports << portnames::PortName(n);
  Combo1 = List(Frame1, "Combo1", 240, 960, 855, 300, ports);
  Combo2 = List(Frame1, "Combo2", 1200, 960, 855, 300,
                {QStringLiteral("1200"), QStringLiteral("2400"), QStringLiteral("4800"),
                 QStringLiteral("9600"), QStringLiteral("14400"), QStringLiteral("19200"),
                 QStringLiteral("38400"), QStringLiteral("56000"), QStringLiteral("57600"),
                 QStringLiteral("115200")});
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

void Form1::Combo1_Click() {
  main_.PortName = Combo1->currentText();
  if (main_.MSComm1->PortOpen()) main_.MSComm1->setPortOpen(false);
  main_.MSComm1->setCommPort(Combo1->currentIndex() + 1);
  RefreshPortTooltips();
  main_.OpenSerialPort();
}

void Form1::Combo2_Click() {
  main_.BaudRate = Combo2->currentText();
  ApplySerialSettings();
}

void Form1::Combo3_Click() {
  main_.DataBits = Combo3->currentText();
  ApplySerialSettings();
}

void Form1::Combo4_Click() {
  main_.Parity = Combo4->currentText();
  ApplySerialSettings();
}

void Form1::Combo5_Click() {
  main_.StopBits = Combo5->currentText();
  ApplySerialSettings();
}

void Form1::ApplySerialSettings() {
  const QString wanted =
      main_.BaudRate + QLatin1Char(',') + main_.Parity.left(1) + QLatin1Char(',') + main_.DataBits +
      QLatin1Char(',') + main_.StopBits;
  if (main_.MSComm1->setSettings(wanted)) return;

  // Refused: the variables and lists go back to what the port really uses.
  const QString inUse = main_.MSComm1->Settings();
  if (const std::optional<LineSettings> s = LineSettings::Parse(inUse)) {
    main_.BaudRate = QString::number(s->baudRate);
    main_.Parity = ParityWord(s->parity);
    main_.DataBits = QString::number(s->dataBits);
    main_.StopBits = s->stopBits == LineSettings::Stop::Two          ? QStringLiteral("2")
                     : s->stopBits == LineSettings::Stop::OneAndHalf ? QStringLiteral("1.5")
                                                                     : QStringLiteral("1");
  }
  SelectCurrentSettings();
  main_.Label6->setText(main_.PortName + QStringLiteral("不支持通信参数") + wanted +
                        QStringLiteral(",已恢复为") + inUse + QLatin1Char('.'));
}
