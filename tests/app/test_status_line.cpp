// The status line's history: the last twenty messages with their local time,
// newest first, repeats counted; and hovering the status line of a window
// that monitors the meter simulator shows messages long since replaced.
#include <QHelpEvent>
#include <QToolTip>
#include <QtTest>
#include <ctime>

#include "app/controls.h"
#include "app/form2.h"
#include "app/status_history.h"
#include "app/status_line.h"
#include "support/event_wait.h"
#include "support/sim_process.h"

using testsupport::MeterSim;

namespace {

qint64 LocalMs(int h, int m, int s) {
  return QDateTime(QDate(2024, 5, 6), QTime(h, m, s)).toMSecsSinceEpoch();
}

// The lines of the tooltip hovering `label` shows, or none.
QStringList Hover(QWidget *label) {
  const QPoint at = label->rect().center();
  QHelpEvent hover(QEvent::ToolTip, at, label->mapToGlobal(at));
  QApplication::sendEvent(label, &hover);
  if (!QToolTip::isVisible()) return {};
  return QToolTip::text().split(QLatin1Char('\n'));
}

}  // namespace

class TestStatusLine : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() {
    // Eight hours east of UTC, so a time shown in UTC would not pass.
    qputenv("TZ", "CST-8");
    tzset();
    testsupport::makeTemporaryPortsDir();
  }

  void keepsTwentyNewestFirstWithRepeatsCounted() {
    StatusHistory h;
    QCOMPARE(h.Lines(), QStringList());
    h.Record(QStringLiteral("接收电流数据正常"), LocalMs(9, 5, 1));
    h.Record(QStringLiteral("接收电流数据正常"), LocalMs(9, 5, 2));
    h.Record(QStringLiteral("接收电流数据正常"), LocalMs(9, 5, 7));
    h.Record(QStringLiteral("输入值超出范围"), LocalMs(13, 0, 0));
    h.Record(QStringLiteral("接收电流数据正常"), LocalMs(23, 59, 59));
    QCOMPARE(h.Lines(), (QStringList{QStringLiteral("23:59:59  接收电流数据正常"),
                                     QStringLiteral("13:00:00  输入值超出范围"),
                                     QStringLiteral("09:05:07  接收电流数据正常  ×3")}));

    for (int i = 1; i <= 25; ++i) h.Record(QStringLiteral("存储的组数为:%1").arg(i), LocalMs(10, 0, i));
    const QStringList lines = h.Lines();
    QCOMPARE(lines.size(), StatusHistory::kCapacity);
    QCOMPARE(lines.first(), QStringLiteral("10:00:25  存储的组数为:25"));
    QCOMPARE(lines.last(), QStringLiteral("10:00:06  存储的组数为:6"));
  }

  // A typing error is replaced by the next live reply within half a second;
  // hovering still shows it, below the counted live replies and above the
  // start-up messages. The status line itself shows what it always did.
  void hoverShowsReplacedMessages() {
    MeterSim sim;
    QVERIFY(sim.waitReady());
    Form2 w;
    QVERIFY(Hover(w.Label6).isEmpty());  // nothing written yet
    w.Form_Load();
    w.show();
    const QString live = QStringLiteral("接收电流数据正常");
    QVERIFY(testsupport::waitUntil([&] { return w.Label6->text() == live; }, 10000));

    w.Text5->setText(QStringLiteral("1500"));
    w.Text5_KeyDown(13, 0);
    QCOMPARE(w.Label6->text(), QStringLiteral("输入无效值"));
    QVERIFY(sim.waitForReceived(35, sim.countReceived(35) + 2, 10000));
    QVERIFY(testsupport::waitUntil([&] { return w.Label6->text() == live; }, 10000));
    QVERIFY(testsupport::waitUntil([&] { return Hover(w.Label6).value(0).contains(QStringLiteral("×")); },
                                   10000));

    const QStringList lines = Hover(w.Label6);
    QVERIFY(lines.size() <= StatusHistory::kCapacity);
    const QRegularExpression line(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d  (.+?)(  ×(\\d+))?$"));
    QStringList texts;
    for (const QString &l : lines) {
      const QRegularExpressionMatch m = line.match(l);
      QVERIFY2(m.hasMatch(), qPrintable(l));
      texts << m.captured(1);
    }
    QCOMPARE(texts.value(0), live);
    QVERIFY(line.match(lines.first()).captured(3).toInt() >= 2);
    QCOMPARE(texts.value(1), QStringLiteral("输入无效值"));
    const int handshake = texts.indexOf(QStringLiteral("握手成功"));
    QVERIFY(handshake > 1);
    QVERIFY(texts.indexOf(QStringLiteral("握手失败,请检查设备是否开启或者线缆连接,通信设置是否正确.")) >
            handshake);
    QCOMPARE(w.Label6->text(), live);
    QCOMPARE(w.Label6->toolTip(), QString());  // built on hovering only, never stored
  }
};

QTEST_MAIN(TestStatusLine)
#include "test_status_line.moc"
