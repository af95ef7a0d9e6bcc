// Monitoring end to end against the meter simulator on a pseudo-terminal.
#include <QImage>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QtTest>

#include "app/controls.h"
#include "app/form2.h"
#include "charts/picture_box.h"
#include "support/event_wait.h"
#include "support/sim_process.h"

using testsupport::MeterSim;
using testsupport::pumpEvents;
using testsupport::waitUntil;

namespace {
constexpr quint8 kHandshake = 5;
constexpr quint8 kLiveRequest = 35;
}  // namespace

class TestMonitorSim : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() { testsupport::makeTemporaryPortsDir(); }
  void liveReadingsGrowTraceAndStatistics();
  void modeSwitchStopsAndResumesPolling();
};

void TestMonitorSim::liveReadingsGrowTraceAndStatistics() {
  // Code 1 is milliamperes with two decimals: every reading is 5.5 mA.
  MeterSim sim({"--waveform", "constant", "--code", "1", "--value", "5.5"});
  QVERIFY(sim.waitReady());
  Form2 form;
  form.Slider2->setValue(0);  // 1 s window: 17 readings fill it
  form.Form_Load();
  QVERIFY(waitUntil([&] { return form.Connected == 1; }, 10000));

  // One stored reading, one more trace point: the write position follows the
  // number of live replies, and the chart changes with each of them.
  QImage before = form.Picture1->property("Image").value<QImage>();
  QVERIFY(waitUntil([&] { return form.TraceWritePos >= 3; }, 10000));
  form.Command2_Click();  // pause, then let replies already asked for arrive
  pumpEvents(1000);
  const int replies = sim.countReceived(kLiveRequest);
  QCOMPARE(int(form.TraceWritePos), replies);
  QVERIFY(form.Picture1->property("Image").value<QImage>() != before);
  const float point = form.TraceBuffer[1];
  QVERIFY(point > 0);
  for (int i = 1; i <= replies; ++i) QCOMPARE(form.TraceBuffer[size_t(i)], point);
  for (int i = replies + 1; i < Form2::kBufferSize; ++i) QCOMPARE(form.TraceBuffer[size_t(i)], 0.0f);

  // Start asks at once: with the polling tick held, the request is Start's own.
  form.Timer4->setEnabled(false);
  form.Command1_Click();
  QVERIFY(sim.waitForReceived(kLiveRequest, replies + 1, 3000));
  QVERIFY(waitUntil([&] { return form.TraceWritePos == replies + 1; }, 3000));
  before = form.Picture1->property("Image").value<QImage>();
  form.Timer4->setEnabled(true);
  QVERIFY(waitUntil([&] { return form.TraceWritePos == replies + 2; }, 3000));
  QVERIFY(form.Picture1->property("Image").value<QImage>() != before);

  // Once 17 readings fill the window, the next tick shows the reading three times.
  QVERIFY(waitUntil(
      [&] {
        return form.Text2->text() == QLatin1String("5.5") && form.Text3->text() == QLatin1String("5.5") &&
               form.Text4->text() == QLatin1String("5.5");
      },
      30000));
  form.close();
}

void TestMonitorSim::modeSwitchStopsAndResumesPolling() {
  MeterSim sim({"--waveform", "constant", "--code", "1", "--value", "5.5"});
  QVERIFY(sim.waitReady());
  Form2 form;
  form.Form_Load();
  QVERIFY(waitUntil([&] { return form.Connected == 1; }, 10000));
  QVERIFY(sim.waitForReceived(kLiveRequest, 1, 3000));

  // History mode: one handshake, and the live requests stop without Pause.
  const int handshakes = sim.countReceived(kHandshake);
  form.Option2->click();
  QVERIFY(sim.waitForReceived(kHandshake, handshakes + 1, 3000));
  pumpEvents(700);  // a request already on its way may still land
  const int requests = sim.countReceived(kLiveRequest);
  pumpEvents(1500);
  QCOMPARE(sim.countReceived(kLiveRequest), requests);
  QCOMPARE(form.RunState.toInt(), 1);

  // A second history selection greets the meter once more.
  form.Option2->click();
  QVERIFY(sim.waitForReceived(kHandshake, handshakes + 2, 3000));

  // Back to real-time: polling resumes by itself, since the run state is still running.
  form.Option1->click();
  QVERIFY(sim.waitForReceived(kLiveRequest, requests + 1, 3000));
  QCOMPARE(sim.countReceived(kHandshake), handshakes + 2);
  form.close();
}

QTEST_MAIN(TestMonitorSim)
#include "test_monitor_sim.moc"
