// Operating modes, run control, the statistics tick and the alarm.
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

#include "app/controls.h"
#include "app/form2.h"
#include "charts/picture_box.h"
#include "monitor/statistics.h"
#include "numbers/format_reading.h"

namespace {

// Option1 and Option2 sit alone in their frames, so they do not exclude each
// other by themselves, and a click on the selected one would even clear it.
// Each switch therefore selects its own option and clears the other.
void SelectOnly(QRadioButton *selected, QRadioButton *other) {
  selected->setChecked(true);
  other->setChecked(false);
}

}  // namespace

// The chart, its rulers, sliders and captions: shown only in real-time monitoring.
void Form2::ShowChartArea(bool shown) {
  for (QWidget *w :
       std::initializer_list<QWidget *>{Picture1, Picture3, Picture4, Slider1, Slider2, Text7, Text8, Label8,
                                        Label10, Label14, Label15, Label16, Label17, Label18})
    w->setVisible(shown);
}

void Form2::ShowModeControls(bool realTime) {
  // The data table is shown before the chart area goes and hidden only after
  // it is back, so the area is never left empty.
  if (!realTime) RichTextBox1->setVisible(true);
  ShowChartArea(realTime);
  if (realTime) RichTextBox1->setVisible(false);
  Frame5->setEnabled(realTime);
  Frame6->setEnabled(realTime);
  for (QPushButton *b : {Command1, Command2, Command3}) b->setEnabled(realTime);
  for (QPushButton *b : {Command4, Command5, Command6, Command7, Command8}) b->setEnabled(!realTime);
  for (QAction *a : {mnurun1, mnupause, mnustop}) a->setEnabled(realTime);
  for (QAction *a : {mnuuppage, mnudownpage}) a->setEnabled(!realTime);
  Option4->setEnabled(realTime);
  Option5->setEnabled(realTime);
  Timer6->setEnabled(realTime);
}

// Real-time monitoring: the chart area with its rulers and sliders, the
// statistics and alarm frames and the run buttons. Start-up calls it twice
// (once for the selection it makes, once as the mode's own set-up); every
// step sets a state rather than toggling one, so twice is the same as once.
void Form2::Option1_Click() {
  // A history read still under way is given up: nothing of its block that
  // is still on the line will be taken for anything.
  if (HistoryReadStep != HistoryStep::Idle) {
    HistoryReadStep = HistoryStep::Finished;
    Timer3->setEnabled(false);
  }
  ShowModeControls(true);
  OperatingMode = kRealTimeMode;
  SelectOnly(Option1, Option2);
  // Back from the history query while running: the live readings resume
  // without Start, and so does the recording, as a new one.
  if (IsRunning()) BeginRunRecording();
}

// History data query: the data table takes the chart's place, the history
// commands take over, and the meter is greeted once.
void Form2::Option2_Click() {
  ShowModeControls(false);
  Label7->setText(QStringLiteral("LIVE"));
  OperatingMode = kHistoryMode;
  SelectOnly(Option2, Option1);
  EndRunRecording();
  SendHandshake();
}

// Start: poll from now on, and ask for a reading at once.
void Form2::Command1_Click() {
  RunState = QVariant::fromValue(kRunning);
  TraceActive = true;
  BeginRunRecording();  // the recording opens with the run's first reading
  RequestLiveData();
}

// Pause: no more requests; the trace stays on the chart.
void Form2::Command2_Click() {
  RunState = QVariant::fromValue(kStopped);
  TraceActive = true;
  Label6->setText(QStringLiteral("已暂停"));
}

// Stop: no more requests, chart and rulers back to their defaults, trace
// cleared. The readings stay, so the statistics go on showing them.
void Form2::Command3_Click() {
  RunState = QVariant::fromValue(kStopped);
  TraceActive = false;
  EndRunRecording();
  ResetMainChart();
  ResetLevelRuler();
  ResetTimeRuler();
  TraceWritePos = 0;
  TraceBuffer.fill(0.0f);
  Label7->setText(QStringLiteral("LIVE"));
  Label6->setText(QStringLiteral("已停止"));
}

// Once a second: MAX, MIN and AVERAGE over the time window, and the alarm
// blink restarted while any reading reaches the alarm value.
void Form2::Timer6_Timer() {
  Timer7->setEnabled(false);
  Shape2->setLit(false);
  const WindowStatistics s = ComputeWindowStatistics(ReadingBuffer.data(), ReadingBuffer.size(),
                                                     PointsPerWindow(), ReadingsStored, AlarmValue);
  if (s.Alarm) Timer7->setEnabled(true);
  Text2->setText(FormatReading(s.Max));
  Text3->setText(FormatReading(s.Min));
  Text4->setText(FormatReading(s.Average));
}

// Alarm blink: red, on and off every 500 ms.
void Form2::Timer7_Timer() {
  Shape2->setBackColor(QColor(255, 0, 0));
  Shape2->setLit(!Shape2->Lit());
}

// The alarm value, confirmed with Enter in the chosen unit.
void Form2::Text1_KeyDown(int KeyCode, int /*Shift*/) {
  if (KeyCode != kEnterKey) return;
  const QString text = Text1->text();
  auto apply = [&](AlarmUnit unit) {
    const AlarmEntry entry = ReadAlarmEntry(text, unit);
    if (entry.Accepted)
      AlarmValue = entry.ValueMilliAmpere;
    else
      Label6->setText(QStringLiteral("输入值超出范围"));
  };
  if (Option4->isChecked()) apply(AlarmUnit::MilliAmpere);
  if (Option5->isChecked()) apply(AlarmUnit::Ampere);
}

void Form2::InitAlarmValue() { AlarmValue = kStartupAlarmValue; }
