#include "app/form2.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QStyle>
#include <QWindow>

#include "app/controls.h"
#include "app/placement.h"
#include "app/twips.h"
#include "charts/picture_box.h"
#include "documents/common_dialog.h"
#include "protocol/meter_wire.h"
#include "serial/comm_control.h"
#include "serial/form1.h"

namespace {

// Our logo: a surge arrester column between a line and earth, with the
// program's initials, drawn once into the picture box.
void DrawLogo(PictureBox &box) {
  QImage &img = box.canvas();
  img.fill(QColor(240, 244, 250));
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  const QRect logo(2, 2, 188, 125);
  p.fillRect(logo, QColor(20, 60, 130));
  p.setPen(QPen(QColor(255, 210, 60), 3));
  p.drawLine(20, 22, 60, 22);  // line conductor
  p.drawLine(40, 22, 40, 34);
  p.setBrush(QColor(200, 200, 210));
  p.setPen(QPen(Qt::white, 1));
  for (int i = 0; i < 5; ++i) p.drawRoundedRect(QRectF(28, 34 + i * 12, 24, 10), 4, 4);  // sheds
  p.setPen(QPen(QColor(255, 210, 60), 3));
  p.drawLine(40, 94, 40, 104);
  p.drawLine(28, 104, 52, 104);  // earth
  p.drawLine(32, 109, 48, 109);
  p.drawLine(36, 114, 44, 114);
  p.setPen(QPen(QColor(120, 230, 120), 2));  // a small leakage trace
  QPainterPath wave;
  wave.moveTo(70, 70);
  for (int x = 0; x <= 100; ++x) wave.lineTo(70 + x, 70 - 14 * std::sin(x / 100.0 * 4 * M_PI));
  p.drawPath(wave);
  p.setPen(Qt::white);
  p.setFont(SongFont(11));
  p.drawText(QRect(66, 14, 120, 24), Qt::AlignCenter, QStringLiteral("避雷器带电测试"));
  p.setFont(SongFont(9));
  p.drawText(QRect(66, 94, 120, 20), Qt::AlignCenter, QStringLiteral("泄漏电流监控"));
}

// Controls on the client area; frames and buttons use the frames' font.
QFont FrameFont() { return SongFont(10.5); }

QGroupBox *Frame(QWidget *in, const char *name, int l, int t, int w, int h, const QString &caption) {
  auto *f = Placed(new QGroupBox(caption, in), name, l, t, w, h);
  f->setFont(FrameFont());
  return f;
}

QLabel *Label(QWidget *in, const char *name, int l, int t, int w, int h, const QString &text) {
  return Placed(new QLabel(text, in), name, l, t, w, h);
}

QPushButton *Button(QWidget *in, const char *name, int l, int t, int w, int h, const QString &text) {
  auto *b = Placed(new QPushButton(text, in), name, l, t, w, h);
  b->setFont(FrameFont());
  b->setFocusPolicy(Qt::StrongFocus);
  return b;
}

TextBox *Entry(QWidget *in, const char *name, int l, int t, int w, int h, const QString &text) {
  auto *b = Placed(new TextBox(in), name, l, t, w, h);
  b->setText(text);
  return b;
}

QRadioButton *ModeOption(QWidget *in, const char *name, int l, int t, int w, int h, const QString &text) {
  auto *o = Placed(new QRadioButton(text, in), name, l, t, w, h);
  o->setFont(FrameFont());
  return o;
}

}  // namespace

Form2::Form2(QWidget *parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("Form2"));
  setWindowTitle(QStringLiteral("氧化锌避雷器带电测试仪软件"));
  // The window's own font, used by every control that has none of its own.
  setFont(SongFont(9));
  BuildControls();
  BuildMenus();
  ConnectEvents();
  // Any change of a screen's free area may concern the screen we are on.
  auto watch = [this](QScreen *s) {
    connect(s, &QScreen::availableGeometryChanged, this, &Form2::FitToScreen);
  };
  for (QScreen *s : QGuiApplication::screens()) watch(s);
  connect(qApp, &QGuiApplication::screenAdded, this, watch);
  FitToScreen();
}

Form2::~Form2() {
  delete SettingsDialog;
  delete printer_;
}

void Form2::BuildControls() {
  // The client area keeps its size below the menu bar; it sits in a scroll
  // area that shows scroll bars only when the window had to be made smaller.
  ClientScroll = Named(new QScrollArea(this), "ClientScroll");
  ClientScroll->setFrameShape(QFrame::NoFrame);
  ClientScroll->setFocusPolicy(Qt::NoFocus);
  ClientArea = Named(new QWidget, "ClientArea");
  ClientArea->setFixedSize(TwipsToPixels(14235), TwipsToPixels(11100));
  ClientScroll->setWidget(ClientArea);
  setCentralWidget(ClientScroll);

  BuildModeFrames();
  BuildChartArea();
  BuildSideFrames();

  // The frames' font would pass down to the controls inside them; those
  // without a font of their own use the window's.
  for (QLabel *l : {Label1, Label2, Label3, Label4, Label5}) l->setFont(FrameFont());
  for (QWidget *c : std::initializer_list<QWidget *>{Text2, Text3, Text4, Option4, Option5, Shape1, Shape2})
    c->setFont(font());

  // The data table covers the captions "y:" and "Z:", which lie in its area.
  RichTextBox1->raise();

  BuildComponents();
}

// The two mode frames with their run and history buttons, the live reading
// and the logo, along the top.
void Form2::BuildModeFrames() {
  QWidget *w = ClientArea;
  // Real-time monitoring group.
  Frame1 = Frame(w, "Frame1", 360, 120, 2775, 2055, QString());
  Option1 = ModeOption(Frame1, "Option1", 720, 480, 1335, 375, QStringLiteral("实时监控"));
  Command1 = Button(Frame1, "Command1", 240, 1200, 615, 615, QStringLiteral("开始"));
  Command2 = Button(Frame1, "Command2", 1080, 1200, 615, 615, QStringLiteral("暂停"));
  Command3 = Button(Frame1, "Command3", 1920, 1200, 615, 615, QStringLiteral("停止"));

  // History query group.
  Frame2 = Frame(w, "Frame2", 3360, 120, 3135, 2055, QString());
  Option2 = ModeOption(Frame2, "Option2", 240, 480, 1575, 375, QStringLiteral("历史数据查询"));
  Command4 = Button(Frame2, "Command4", 480, 1200, 615, 615, QStringLiteral("读取"));
  Command5 = Button(Frame2, "Command5", 1320, 1200, 615, 615, QStringLiteral("保存"));
  Command6 = Button(Frame2, "Command6", 2160, 1200, 615, 615, QStringLiteral("清空"));
  Command7 = Button(Frame2, "Command7", 2160, 240, 735, 330, QStringLiteral("上翻"));
  Command8 = Button(Frame2, "Command8", 2160, 720, 735, 330, QStringLiteral("下翻"));

  // Live reading display.
  Frame3 = Frame(w, "Frame3", 6840, 120, 3495, 2055, QStringLiteral("实时显示"));
  // The live reading: a 42-point text such as "-999.9A" or "9.999mA" needs
  // about 200 pixels, so the label spans the whole frame and centres it.
  Label7 = Label(Frame3, "Label7", 45, 600, 3150, 840, QStringLiteral("LIVE"));
  Label7->setFont(SongFont(42));
  Label7->setAlignment(Qt::AlignCenter);
  Label7->setStyleSheet(QStringLiteral("color: rgb(0, 0, 255);"));

  // Logo.
  Picture2 = Placed(new PictureBox(QColor(240, 244, 250), w), "Picture2", 10800, 360, 2880, 1935);
  DrawLogo(*Picture2);
}

// The main chart with its two rulers and two sliders, and the data table in
// the same place.
void Form2::BuildChartArea() {
  QWidget *w = ClientArea;
  // Main chart, data table, level ruler and full-scale slider.
  Picture1 = Placed(new PictureBox(QColor(64, 64, 64), w), "Picture1", 360, 2400, 8000, 6000);
  RichTextBox1 = Placed(new RichTextBox(w), "RichTextBox1", 360, 2400, 8655, 6735);
  RichTextBox1->setFont(SongFont(9));
  RichTextBox1->setText(QString(30, QLatin1Char(' ')) + QStringLiteral("高精度钳形漏电流表测试数据"));
  Picture3 = Placed(new PictureBox(Qt::white, w), "Picture3", 8280, 2400, 800, 6000);
  Slider1 = Placed(new QSlider(Qt::Vertical, w), "Slider1", 9360, 2400, 675, 6000);
  Slider1->setRange(0, 9);
  Slider1->setValue(4);
  Slider1->setTickPosition(QSlider::TicksBothSides);
  Slider1->setInvertedAppearance(true);  // position 0 at the top
  Slider1->setInvertedControls(true);    // so Up moves the handle up, towards 0
  Label9 = Label(w, "Label9", 8400, 8520, 180, 180, QStringLiteral("y:"));
  Text7 = Entry(w, "Text7", 8640, 8475, 495, 270, QStringLiteral("500"));
  Label11 = Label(w, "Label11", 8400, 8925, 180, 180, QStringLiteral("Z:"));
  Text8 = Entry(w, "Text8", 8640, 8880, 495, 270, QStringLiteral("0"));
  Label8 = Label(w, "Label8", 9240, 8520, 975, 615, QStringLiteral("100mA"));
  Label8->setFont(SongFont(12));
  Label8->setAlignment(Qt::AlignCenter);

  // Time ruler with its two entry boxes inside it.
  Picture4 = Placed(new PictureBox(Qt::white, w), "Picture4", 360, 8340, 8000, 800);
  Label12 = Label(Picture4, "Label12", 1680, 405, 270, 180, QStringLiteral("x1:"));
  Text5 = Entry(Picture4, "Text5", 2040, 360, 615, 270, QStringLiteral("0"));
  Label13 = Label(Picture4, "Label13", 5040, 405, 270, 180, QStringLiteral("x2:"));
  Text6 = Entry(Picture4, "Text6", 5400, 360, 615, 270, QStringLiteral("500"));
  for (QLabel *l : {Label12, Label13}) {
    l->setStyleSheet(QStringLiteral("background: white;"));
    l->setAttribute(Qt::WA_NoMousePropagation);  // a press on a caption is not a press on the strip
  }

  // Time window slider and its captions.
  Slider2 = Placed(new QSlider(Qt::Horizontal, w), "Slider2", 360, 9240, 7995, 495);
  Slider2->setRange(0, int(kPointsPerWindowTable.size()) - 1);
  Slider2->setSingleStep(1);
  Slider2->setPageStep(5);
  Slider2->setValue(2);
  Slider2->setTickPosition(QSlider::TicksBelow);
  Label10 = Label(w, "Label10", 450, 9840, 195, 180, QStringLiteral("1s"));
  Label14 = Label(w, "Label14", 2280, 9840, 300, 180, QStringLiteral("5s"));
  Label15 = Label(w, "Label15", 4200, 9840, 375, 255, QStringLiteral("10s"));
  Label16 = Label(w, "Label16", 6165, 9840, 285, 180, QStringLiteral("15s"));
  Label17 = Label(w, "Label17", 7965, 9840, 285, 180, QStringLiteral("30s"));
  for (QLabel *l : {Label10, Label14, Label15, Label16, Label17}) l->setAlignment(Qt::AlignCenter);
  Label18 = Label(w, "Label18", 8400, 9480, 1695, 495, QStringLiteral("X:   Y:"));
  Label18->setFont(SongFont(12));
  Label18->setAlignment(Qt::AlignCenter);
}

// Statistics, alarm value and link status down the right side, and the
// status line at the bottom.
void Form2::BuildSideFrames() {
  QWidget *w = ClientArea;
  // Statistics.
  Frame5 = Frame(w, "Frame5", 10320, 3000, 3135, 1575, QStringLiteral("测量(Ω/mA)"));
  Label3 = Label(Frame5, "Label3", 1080, 375, 375, 255, QStringLiteral("MAX:"));
  Text2 = Entry(Frame5, "Text2", 1680, 360, 855, 270, QString());
  Label4 = Label(Frame5, "Label4", 1080, 735, 375, 255, QStringLiteral("MIN:"));
  Text3 = Entry(Frame5, "Text3", 1680, 720, 855, 270, QString());
  Label5 = Label(Frame5, "Label5", 720, 1095, 975, 255, QStringLiteral("AVERAGE:"));
  Text4 = Entry(Frame5, "Text4", 1680, 1080, 855, 270, QString());

  // Alarm value.
  Frame6 = Frame(w, "Frame6", 10320, 5760, 3135, 1575, QStringLiteral("报警值设定"));
  Shape2 = Placed(new IndicatorCircle(Qt::white, Qt::white, Frame6), "Shape2", 360, 630, 495, 495);
  // 1080 twips wide, so that six digits of the 15-point font, such as the
  // highest alarm value "350000", show whole.
  Text1 = Entry(Frame6, "Text1", 960, 660, 1080, 435, QString());
  Text1->setFont(SongFont(15));
  Option4 = Placed(new QRadioButton(QStringLiteral("mA"), Frame6), "Option4", 2160, 480, 495, 255);
  Option5 = Placed(new QRadioButton(QStringLiteral("A"), Frame6), "Option5", 2160, 960, 495, 255);

  // Link status.
  Frame7 = Frame(w, "Frame7", 10320, 8520, 3135, 1575, QStringLiteral("通信状态"));
  Shape1 = Placed(new IndicatorCircle(QColor(0, 0, 255), Qt::white, Frame7), "Shape1", 360, 600, 495, 495);
  Label1 = Label(Frame7, "Label1", 1200, 480, 1335, 255, QStringLiteral("COM1打开成功"));
  Label2 = Label(Frame7, "Label2", 1200, 960, 1815, 375, QStringLiteral("仪表连接失败"));

  // Status line.
  Label6 = Placed(new StatusLine(QStringLiteral("状态信息"), w), "Label6", 480, 10440, 6495, 255);
}

// Components without a face: the serial control, the common dialog and the
// seven timers with their intervals and whether each starts enabled.
void Form2::BuildComponents() {
  MSComm1 = Named(new CommControl(this), "MSComm1");
  CommonDialog1 = Named(new CommonDialog(this), "CommonDialog1");
  Timer1 = new IntervalTimer(QStringLiteral("Timer1"), 500, false, this);
  Timer2 = new IntervalTimer(QStringLiteral("Timer2"), 500, true, this);
  Timer3 = new IntervalTimer(QStringLiteral("Timer3"), 100, false, this);
  Timer4 = new IntervalTimer(QStringLiteral("Timer4"), 500, true, this);
  Timer5 = new IntervalTimer(QStringLiteral("Timer5"), 1000, true, this);
  Timer6 = new IntervalTimer(QStringLiteral("Timer6"), 1000, true, this);
  Timer7 = new IntervalTimer(QStringLiteral("Timer7"), 500, false, this);
}

void Form2::ConnectEvents() {
  connect(Command1, &QPushButton::clicked, this, &Form2::Command1_Click);
  connect(Command2, &QPushButton::clicked, this, &Form2::Command2_Click);
  connect(Command3, &QPushButton::clicked, this, &Form2::Command3_Click);
  connect(Command4, &QPushButton::clicked, this, &Form2::Command4_Click);
  connect(Command5, &QPushButton::clicked, this, &Form2::Command5_Click);
  connect(Command6, &QPushButton::clicked, this, &Form2::Command6_Click);
  connect(Command7, &QPushButton::clicked, this, &Form2::Command7_Click);
  connect(Command8, &QPushButton::clicked, this, &Form2::Command8_Click);
  // Option buttons run their handler when the user selects them (clicked is
  // not sent for programmatic selection, which calls the handler itself).
  connect(Option1, &QRadioButton::clicked, this, &Form2::Option1_Click);
  connect(Option2, &QRadioButton::clicked, this, &Form2::Option2_Click);

  connect(Text1, &TextBox::KeyDown, this, &Form2::Text1_KeyDown);
  connect(Text5, &TextBox::KeyDown, this, &Form2::Text5_KeyDown);
  connect(Text6, &TextBox::KeyDown, this, &Form2::Text6_KeyDown);
  connect(Text7, &TextBox::KeyDown, this, &Form2::Text7_KeyDown);
  connect(Text8, &TextBox::KeyDown, this, &Form2::Text8_KeyDown);

  connect(Picture1, &PictureBox::MouseMove, this, &Form2::Picture1_MouseMove);
  connect(Picture3, &PictureBox::MouseDown, this, &Form2::Picture3_MouseDown);
  connect(Picture3, &PictureBox::MouseMove, this, &Form2::Picture3_MouseMove);
  connect(Picture3, &PictureBox::MouseUp, this, &Form2::Picture3_MouseUp);
  connect(Picture4, &PictureBox::MouseDown, this, &Form2::Picture4_MouseDown);
  connect(Picture4, &PictureBox::MouseMove, this, &Form2::Picture4_MouseMove);
  connect(Picture4, &PictureBox::MouseUp, this, &Form2::Picture4_MouseUp);

  connect(MSComm1, &CommControl::OnComm, this, &Form2::MSComm1_OnComm);
  connect(MSComm1, &CommControl::DeviceLost, this, &Form2::MSComm1_DeviceLost);
  // A history block that keeps coming is waited for, however slowly it comes.
  connect(MSComm1, &CommControl::BytesArrived, this, [this] {
    if (HistoryReadStep == HistoryStep::AwaitingBlock) BlockReplyDeadline.setRemainingTime(kBlockSilenceMs);
  });

  connect(Timer1, &IntervalTimer::Timer, this, &Form2::Timer1_Timer);
  connect(Timer2, &IntervalTimer::Timer, this, &Form2::Timer2_Timer);
  connect(Timer3, &IntervalTimer::Timer, this, &Form2::Timer3_Timer);
  connect(Timer4, &IntervalTimer::Timer, this, &Form2::Timer4_Timer);
  connect(Timer5, &IntervalTimer::Timer, this, &Form2::Timer5_Timer);
  connect(Timer6, &IntervalTimer::Timer, this, &Form2::Timer6_Timer);
  connect(Timer7, &IntervalTimer::Timer, this, &Form2::Timer7_Timer);
}

void Form2::Form_Load() {
  ResetMainChart();
  ResetLevelRuler();
  ResetTimeRuler();
  SetDefaultSerialSettings();
  OpenSerialPort();
  SendHandshake();
  // Reply probe: replies are taken in only by the receive event, which cannot
  // have run yet, so this normally shows the hint.
  if (ReceiveBuffer.size() < meterwire::kGroupSize) {
    Label6->setText(QStringLiteral("握手失败,请检查设备是否开启或者线缆连接,通信设置是否正确."));
    Connected = kNotConnected;
  }
  // Selecting Option1 from the program sends no click, so its handler is
  // called here. The start-up order has always called it twice; the handler
  // sets states rather than toggling them, so the second call changes nothing.
  Option1->setChecked(true);
  Option1_Click();
  Option1_Click();
  InitAlarmValue();
  Command1_Click();
  // The timers built enabled (and those the steps above enabled) start
  // ticking only now, once start-up is over.
  for (IntervalTimer *t : {Timer1, Timer2, Timer3, Timer4, Timer5, Timer6, Timer7}) t->arm();
}

void Form2::Form_Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  // No timer of the window ticks again, so the closing notice is the last
  // byte the meter hears, however long the window then takes to go (on some
  // desktops hiding it waits on the display).
  for (IntervalTimer *t : {Timer1, Timer2, Timer3, Timer4, Timer5, Timer6, Timer7}) t->disarm();
  EndRunRecording();
  SendCommand(meterwire::kCloseNotice);
  if (SettingsDialog) SettingsDialog->close();
}

void Form2::showEvent(QShowEvent *e) {
  QMainWindow::showEvent(e);
  if (QWindow *handle = windowHandle())
    connect(handle, &QWindow::screenChanged, this, &Form2::FitToScreen, Qt::UniqueConnection);
  FitToScreen();
}

void Form2::FitToScreen() {
  const QSize full(ClientArea->width(), menuBar()->sizeHint().height() + ClientArea->height());
  QScreen *on = screen();
  if (!on) return;
  const QRect avail = on->availableGeometry();
  QSize room = avail.size();
  if (const QWindow *handle = windowHandle()) {
    const QMargins m = handle->frameMargins();
    room -= QSize(m.left() + m.right(), m.top() + m.bottom());
  }
  // A scroll bar needed in one direction takes room from the other.
  const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, ClientScroll);
  bool across = false, down = false;
  for (int pass = 0; pass < 3; ++pass) {
    across = full.width() + (down ? bar : 0) > room.width();
    down = full.height() + (across ? bar : 0) > room.height();
  }
  setFixedSize(qMin(full.width() + (down ? bar : 0), room.width()),
               qMin(full.height() + (across ? bar : 0), room.height()));

  // Keep a shown window inside the free area of its screen.
  if (!isVisible()) return;
  const QRect frame = frameGeometry();
  const QPoint inside(
      qBound(avail.left(), frame.left(), qMax(avail.left(), avail.right() + 1 - frame.width())),
      qBound(avail.top(), frame.top(), qMax(avail.top(), avail.bottom() + 1 - frame.height())));
  if (inside != frame.topLeft()) move(inside);
}

void Form2::closeEvent(QCloseEvent *e) {
  if (!unloaded_ && !ConfirmCloseWithUnsavedRecords()) {
    e->ignore();
    return;
  }
  Form_Unload();
  e->accept();
}

void Form2::SetDefaultSerialSettings() {
  PortName = QStringLiteral("COM1");
  BaudRate = QStringLiteral("9600");
  Parity = QStringLiteral("NONE");
  DataBits = QStringLiteral("8");
  StopBits = QStringLiteral("1");
}

Form1 &Form2::EnsureSettingsDialog() {
  if (!SettingsDialog) {
    SettingsDialog = new Form1(*this);
    SettingsDialog->Form_Load();
  }
  return *SettingsDialog;
}

int Form2::PointsPerWindow() const {
  const int last = int(kPointsPerWindowTable.size()) - 1;
  return kPointsPerWindowTable[size_t(qBound(0, Slider2->value(), last))];
}

bool Form2::IsRunning() const { return RunState.isValid() && RunState.toInt() == kRunning; }

QPrinter &Form2::Printer() {
  if (!printer_) printer_ = new QPrinter(QPrinter::HighResolution);
  return *printer_;
}
