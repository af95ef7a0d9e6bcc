#pragma once
// Form2: the main window. It owns every control, timer and variable of the
// running program. Controls are child objects named by their object names
// (Command1, Label6, ...), the procedures are public slots, and the variables are readable properties,
// so everything can be reached by name from outside.
//
// The class is defined across one file per subsystem:
//   app/form2.cpp             controls, fonts, start-up and shutdown
//   app/form2_menus.cpp       menu tree, edit keystrokes, about box
//   serial/form2_serial.cpp   port opening, retry, link indicator
//   protocol/form2_protocol.cpp  senders, pollers, dispatch, decoders
//   monitor/form2_monitor.cpp    modes, run control, statistics, alarm
//   charts/form2_charts.cpp      main chart, rulers, pointer read-out
//   documents/form2_documents.cpp  table commands, saving, printing
//   records/form2_records.cpp      recording runs and downloads, records window
//   assessment/window/form2_assets.cpp  the arrester register window
#include <QByteArray>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <array>
#include <optional>

#include "app/key_codes.h"
#include "app/status_line.h"
#include "protocol/trace_ring.h"
#include "serial/serial_choice.h"

class QAction;
class QGroupBox;
class QLabel;
class QMenu;
class QPrinter;
class QPushButton;
class QRadioButton;
class QScrollArea;
class QSlider;
class CommControl;
class AssetWindow;
class Recorder;
class RecordsWindow;
struct ReadingGroup;
class CommonDialog;
class Form1;
class IndicatorCircle;
class IntervalTimer;
class PictureBox;
class RichTextBox;
class TextBox;

class Form2 : public QMainWindow {
  Q_OBJECT
  // Serial settings shared with the settings dialog.
  Q_PROPERTY(QString PortName MEMBER PortName)
  Q_PROPERTY(QString BaudRate MEMBER BaudRate)
  Q_PROPERTY(QString Parity MEMBER Parity)
  Q_PROPERTY(QString DataBits MEMBER DataBits)
  Q_PROPERTY(QString StopBits MEMBER StopBits)
  // Protocol state.
  Q_PROPERTY(QByteArray ReceiveBuffer MEMBER ReceiveBuffer)
  Q_PROPERTY(QByteArray CommandBuffer MEMBER CommandBuffer)
  Q_PROPERTY(short GroupCount MEMBER GroupCount)
  Q_PROPERTY(short Connected MEMBER Connected)
  Q_PROPERTY(short UnansweredRequests MEMBER UnansweredRequests)
  // Readings and trace.
  Q_PROPERTY(QList<float> ReadingBuffer READ readingBufferList)
  Q_PROPERTY(QList<float> TraceBuffer READ traceBufferList)
  Q_PROPERTY(short TraceWritePos MEMBER TraceWritePos)
  Q_PROPERTY(short ReadingsStored MEMBER ReadingsStored)
  Q_PROPERTY(bool TraceActive MEMBER TraceActive)
  // Monitoring.
  Q_PROPERTY(short OperatingMode MEMBER OperatingMode)
  Q_PROPERTY(QVariant RunState MEMBER RunState)
  Q_PROPERTY(float AlarmValue MEMBER AlarmValue)
  // Cursors and drags.
  Q_PROPERTY(double CursorX1 MEMBER CursorX1)
  Q_PROPERTY(double CursorX2 MEMBER CursorX2)
  Q_PROPERTY(double CursorY MEMBER CursorY)
  Q_PROPERTY(short CursorZ MEMBER CursorZ)
  Q_PROPERTY(short TimeDragState MEMBER TimeDragState)
  Q_PROPERTY(short LevelDragState MEMBER LevelDragState)

 public:
  explicit Form2(QWidget *parent = nullptr);
  ~Form2() override;

  // ---- Coded states ------------------------------------------------------------
  // The properties keep the plain numbers outside code reads; these names say
  // what each number means.
  static constexpr short kRealTimeMode = 1;  // OperatingMode: real-time monitoring
  static constexpr short kHistoryMode = 2;   // OperatingMode: history data query
  static constexpr short kNotConnected = 0;  // Connected: no correct handshake reply (yet)
  static constexpr short kConnected = 1;     // Connected: the meter answered the handshake
  static constexpr short kStopped = 0;       // RunState: paused or stopped
  static constexpr short kRunning = 1;       // RunState: running (no value before the first Start)
  // TimeDragState and LevelDragState hold charts::kNoDrag, kDragFirst or
  // kDragSecond (charts/chart_drawing.h): no marker, x1 or y, x2 or Z grabbed.
  // Above anything the meter can read, so no alarm sounds until the user sets one.
  static constexpr float kStartupAlarmValue = 1000000;
  static constexpr int kEnterKey = keycodes::kEnter;  // the key code of Enter in KeyDown
  // Points per chart window for Slider2 positions 0..4 (captions "1s" to "30s").
  static constexpr std::array<int, 5> kPointsPerWindowTable{16, 83, 166, 250, 500};
  // ReadingBuffer and TraceBuffer, indices 0..500: the ring's size.
  static constexpr int kBufferSize = kRingSize;

  // Whether RunState holds kRunning (it has no value until the first Start).
  bool IsRunning() const;

  // ---- Application shell -------------------------------------------------
  // The client area holds every control at its fixed place; it scrolls inside
  // ClientScroll when the screen is too small for the whole window.
  QScrollArea *ClientScroll;
  QWidget *ClientArea;
  QGroupBox *Frame1, *Frame2, *Frame3, *Frame5, *Frame6, *Frame7;
  QRadioButton *Option1, *Option2, *Option4, *Option5;
  // Command buttons: caption, role, and the file whose handler drives it.
  QPushButton *Command1;  // "开始" Start: run and poll — monitor/form2_monitor.cpp
  QPushButton *Command2;  // "暂停" Pause: no more requests — monitor/form2_monitor.cpp
  QPushButton *Command3;  // "停止" Stop: clear trace, reset chart — monitor/form2_monitor.cpp
  QPushButton *Command4;  // "读取" read the history — documents/form2_documents.cpp
  QPushButton *Command5;  // "保存" save the data table as text — documents/form2_documents.cpp
  QPushButton *Command6;  // "清空" clear the data table — documents/form2_documents.cpp
  QPushButton *Command7;  // "上翻" page the table up — documents/form2_documents.cpp
  QPushButton *Command8;  // "下翻" page the table down — documents/form2_documents.cpp
  // Status labels, and who writes them.
  QLabel *Label1;  // port status — serial/form2_serial.cpp
  QLabel *Label2;  // instrument link — protocol/form2_protocol.cpp, serial/form2_serial.cpp
  QLabel *Label7;  // live reading, "LIVE" when none — protocol/form2_protocol.cpp, monitor/form2_monitor.cpp
  QLabel *Label8;      // full-scale caption of Slider1 — protocol/form2_protocol.cpp
  QLabel *Label18;     // pointer read-out over the chart — charts/form2_charts.cpp
  StatusLine *Label6;  // the status line, written by every subsystem; keeps what it showed for a look back
  // Fixed captions: MAX/MIN/AVERAGE (3-5), "y:" and "Z:" (9, 11), "x1:" and
  // "x2:" (12, 13), time-window captions "1s" to "30s" (10, 14-17).
  QLabel *Label3, *Label4, *Label5, *Label9, *Label10, *Label11, *Label12, *Label13, *Label14, *Label15,
      *Label16, *Label17;
  TextBox *Text1, *Text2, *Text3, *Text4, *Text5, *Text6, *Text7, *Text8;
  QSlider *Slider1, *Slider2;
  RichTextBox *RichTextBox1;
  PictureBox *Picture1, *Picture2, *Picture3, *Picture4;
  IndicatorCircle *Shape1, *Shape2;
  CommControl *MSComm1;
  CommonDialog *CommonDialog1;
  // Timers: interval, role, and the file whose handler runs on each tick.
  IntervalTimer *Timer1;  // link-indicator blink, 500 ms — serial/form2_serial.cpp
  IntervalTimer *Timer2;  // handshake retry until answered, 500 ms — protocol/form2_protocol.cpp
  IntervalTimer *Timer3;  // history read steps after the count query, 100 ms — protocol/form2_protocol.cpp
  IntervalTimer *Timer4;  // live polling, 500 ms — protocol/form2_protocol.cpp
  IntervalTimer *Timer5;  // port re-open after a failed open, 1000 ms — serial/form2_serial.cpp
  IntervalTimer *Timer6;  // statistics and alarm test, 1000 ms — monitor/form2_monitor.cpp
  IntervalTimer *Timer7;  // alarm-lamp blink, 500 ms — monitor/form2_monitor.cpp

  // Menus (top-level menus and their items).
  QMenu *mnufile, *mnuedit, *mnurun, *mnuhelp;
  QAction *mnusave, *mnuprint, *mnuprintsetting, *mnuexit;
  QAction *mnucomsetting, *mnuuppage, *mnudownpage, *mnux, *mnucopy, *mnupaste, *mnudelete, *mnucancel;
  QAction *mnurun1, *mnupause, *mnustop;
  QAction *mnuaboutus;

  // ---- Serial link ---------------------------------------------------------
  QString PortName, BaudRate, Parity, DataBits, StopBits;
  Form1 *SettingsDialog = nullptr;  // the settings dialog, created hidden at start-up
  Form1 &EnsureSettingsDialog();
  // The five settings as the settings dialog hands them over.
  SerialChoice CurrentSerialChoice() const;
  // Takes the settings dialog's choice into the five variables. A port pick
  // closes the port and opens the chosen one; any other pick applies the line
  // settings to the serial control, and a refused one puts the variables back
  // to the settings in use and says so in the status line.
  void ApplySerialChoice(const SerialChoice &choice, SerialChoice::Pick pick);

  // ---- Instrument protocol -------------------------------------------------
  QByteArray ReceiveBuffer;
  QByteArray CommandBuffer = QByteArray(1, '\0');
  short GroupCount = 0;
  short Connected = kNotConnected;
  std::array<float, kBufferSize> ReadingBuffer{};
  std::array<float, kBufferSize> TraceBuffer{};
  short TraceWritePos = 0;
  // ReadingBuffer slots 0..ReadingsStored-1 hold readings; the rest were never written.
  short ReadingsStored = 0;
  // Live requests in a row that got no decodable reply; three mean the meter
  // is not answering.
  short UnansweredRequests = 0;
  bool LiveReplyAwaited = false;  // the last live request still waits for its reply
  // The two-step history read: the history request goes out only after the
  // count reply has been handled, and the count reply is awaited for a while.
  // A block is read until the meter stops sending (kBlockSilenceMs without a
  // byte); what came by then is the reply. Once the block of a read has been
  // handled, or the read was given up, later bytes belong to no request.
  enum class HistoryStep {
    Idle,
    AwaitingQuietLine,  // 读取 pressed while a block was still arriving
    AwaitingCount,
    CountHandled,
    CountTimedOut,
    AwaitingBlock,
    Finished
  };
  HistoryStep HistoryReadStep = HistoryStep::Idle;
  bool CountAnnounced = false;  // the count reply of this read was valid
  QDeadlineTimer CountReplyDeadline;
  // A history block may still be on the line (its request was written and
  // the line has not been quiet since): the next request waits for quiet.
  bool LineSettling = false;
  QElapsedTimer BlockRequestWritten;
  // The block is taken as it is when this passes: kCountReplyTimeoutMs after
  // its request, pushed to kBlockSilenceMs after each arrival of bytes.
  QDeadlineTimer BlockReplyDeadline;
  static constexpr int kBlockSilenceMs = 1000;
  static constexpr int kCountReplyTimeoutMs = 2000;

  // ---- Monitoring ----------------------------------------------------------
  short OperatingMode = 0;  // kRealTimeMode or kHistoryMode; 0 until Form_Load selects one
  QVariant RunState;        // kRunning or kStopped as a short; no value until the first Start
  bool TraceActive = false;
  float AlarmValue = kStartupAlarmValue;  // set again by InitAlarmValue at start-up

  // ---- Charts ----------------------------------------------------------------
  double CursorX1 = 0, CursorX2 = 500, CursorY = 500;
  short CursorZ = 0;
  short TimeDragState = 0, LevelDragState = 0;  // charts::kNoDrag, kDragFirst, kDragSecond

  // ---- Documents -------------------------------------------------------------
  QPrinter &Printer();  // one printer for the whole session

  // Points per window for the present Slider2 position.
  int PointsPerWindow() const;

  // ---- Measurement archive ---------------------------------------------------
  // The program attaches a recorder; a window without one records nothing.
  // `path` is the archive the records window lists (also without a recorder).
  void AttachArchive(const QString &path, Recorder *recorder);
  QString ArchivePath;
  QPointer<Recorder> MeasurementRecorder;
  bool RunRecording = false;         // a run is on: its readings make a recording
  bool ArchiveFailureShown = false;  // told in Label6, once per failure episode
  // Red, at the right end of the menu bar, for as long as readings cannot be
  // written: the reason and how many wait. Hidden otherwise.
  QLabel *ArchiveMarker = nullptr;
  void UpdateArchiveMarker();
  // Closing with readings the archive has not taken: asks whether to save
  // them as CSV elsewhere, wait, or quit anyway. True when the window may close.
  bool ConfirmCloseWithUnsavedRecords();
  QAction *mnurecords;
  QPointer<RecordsWindow> RecordsWindow1;
  QAction *mnuassets;
  QPointer<AssetWindow> AssetWindow1;
  void BeginRunRecording();  // Start, or back to real-time while running
  void EndRunRecording();    // Stop, a switch to history, exit
  void RecordLiveReading(const ReadingGroup &group);
  void RecordHistoryBlock(const QByteArray &block, int groupsAnnounced);

 public slots:
  // Application shell
  void Form_Load();
  void Form_Unload();
  void SetDefaultSerialSettings();
  void mnuexit_Click();
  void mnusave_Click();
  void mnux_Click();
  void mnucopy_Click();
  void mnupaste_Click();
  void mnudelete_Click();
  void mnucancel_Click();
  void mnurun1_Click();
  void mnupause_Click();
  void mnustop_Click();
  void mnuaboutus_Click();
  void mnurecords_Click();
  void mnuassets_Click();

  // Serial link
  void OpenSerialPort();
  void Timer1_Timer();
  void Timer5_Timer();
  void mnucomsetting_Click();
  void MSComm1_DeviceLost();  // the open device vanished; reported like a failed open
  void DropInstrumentLink();  // not connected until the next correct handshake reply

  // Instrument protocol
  void MSComm1_OnComm();
  void DispatchReply();
  void SendCommand(int command);
  void SendHandshake();
  void RequestLiveData();
  void StartHistoryRead();
  void Timer2_Timer();
  void Timer3_Timer();
  void Timer4_Timer();
  void DecodeLiveData();
  void DecodeHistoryData();

  // Monitoring
  void Option1_Click();
  void Option2_Click();
  void Command1_Click();
  void Command2_Click();
  void Command3_Click();
  void Timer6_Timer();
  void Timer7_Timer();
  void Text1_KeyDown(int KeyCode, int Shift);
  void InitAlarmValue();

  // Charts
  void ResetMainChart();
  void DrawMainChart(float x1, float x2, float y, float z);
  void ResetTimeRuler();
  void DrawTimeRuler(float a, float b);
  void ResetLevelRuler();
  void DrawLevelRuler(float a, float b);
  void Picture1_MouseMove(int Button, int Shift, float X, float Y);
  void Picture3_MouseDown(int Button, int Shift, float X, float Y);
  void Picture3_MouseMove(int Button, int Shift, float X, float Y);
  void Picture3_MouseUp(int Button, int Shift, float X, float Y);
  void Picture4_MouseDown(int Button, int Shift, float X, float Y);
  void Picture4_MouseMove(int Button, int Shift, float X, float Y);
  void Picture4_MouseUp(int Button, int Shift, float X, float Y);
  void Text5_KeyDown(int KeyCode, int Shift);
  void Text6_KeyDown(int KeyCode, int Shift);
  void Text7_KeyDown(int KeyCode, int Shift);
  void Text8_KeyDown(int KeyCode, int Shift);

  // Documents
  void Command4_Click();
  void Command5_Click();
  void Command6_Click();
  void Command7_Click();
  void Command8_Click();
  void mnuuppage_Click();
  void mnudownpage_Click();
  void SaveChartPicture();
  void mnuprint_Click();
  void mnuprintsetting_Click();

 protected:
  void closeEvent(QCloseEvent *e) override;
  void showEvent(QShowEvent *e) override;

 private:
  void BuildControls();  // in four parts:
  void BuildModeFrames();
  void BuildChartArea();
  void BuildSideFrames();
  void BuildComponents();
  // Gives the window its full size, or the screen's available area when that
  // is smaller (the client area then scrolls).
  void FitToScreen();
  void ShowChartArea(bool shown);
  // Shows and enables what belongs to one mode, hides and disables what
  // belongs to the other.
  void ShowModeControls(bool realTime);
  // Redraws a ruler strip and the main chart at the present cursors.
  void RedrawTimeCursors();
  void RedrawLevelCursors();
  void RedrawMainChart();
  // A cursor position typed into `box`: a value once Enter confirms one
  // within the chart; a refused value is said in the status line.
  std::optional<double> EnteredCursor(int KeyCode, const TextBox &box);
  // Whether a request may be written now. After a history request the line
  // must first have been quiet for a few byte times, so that the rest of a
  // block is never taken for the reply to the next request.
  bool LineReadyForRequest();
  void WriteCountQuery();
  // The history read's block wait is over: what arrived is the reply.
  void TakeHistoryBlock();
  void BuildMenus();
  void ConnectEvents();
  QList<float> readingBufferList() const { return {ReadingBuffer.begin(), ReadingBuffer.end()}; }
  QList<float> traceBufferList() const { return {TraceBuffer.begin(), TraceBuffer.end()}; }

  bool unloaded_ = false;
  QPrinter *printer_ = nullptr;
};
