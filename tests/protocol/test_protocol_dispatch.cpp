// The reply dispatcher and the live decoder on a window without a port: the
// reply is put into ReceiveBuffer and the last command into CommandBuffer.
#include <QLabel>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QSlider>
#include <QtTest>
#include <memory>

#include "app/controls.h"
#include "app/form2.h"
#include "protocol/history_table.h"
#include "serial/comm_control.h"
#include "support/bytes.h"
#include "support/event_wait.h"

namespace {

using testsupport::Bytes;

// Every status text the dispatcher may write ("存储的组数为:" carries a count).
bool IsOwnStatusText(const QString &text) {
  static const QStringList fixed = {
      QStringLiteral("握手成功"),
      QStringLiteral("握手失败,下位机返回出错"),
      QStringLiteral("接收组数失败"),
      QStringLiteral("返回历史数据正常"),
      QStringLiteral("返回历史数据不完整"),
      QStringLiteral("返回历史数据与组数不符"),
      QStringLiteral("接收电流数据正常"),
      QStringLiteral("接收电流数据失败"),
      QStringLiteral("未知值"),
  };
  if (fixed.contains(text)) return true;
  static const QRegularExpression count(QStringLiteral("^存储的组数为:(0|[1-9][0-9]{0,2})$"));
  const auto m = count.match(text);
  return m.hasMatch() && m.captured(1).toInt() <= 255;
}

}  // namespace

class TestProtocolDispatch : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase();
  void init();
  void cleanup();

  void handshakeAccepted();
  void handshakeRejected_data();
  void handshakeRejected();
  void countReply_data();
  void countReply();
  void thresholdFollowsExpectedReply();
  void historyReplyFillsTable();
  void historyShortBlock();
  void liveReplyDecodesOneGroup();
  void liveInvalidCodeStoresNothing();
  void liveShortBlockStoresNothing();
  void liveRingThroughWindow();
  void unknownCommand_data();
  void unknownCommand();
  void shortBlocksInExactHeapBuffers();
  void randomBlocksUnderEveryCommand();
  void sendersWithoutPort();

 private:
  void dispatch(int command, const QByteArray &reply) {
    form->CommandBuffer = QByteArray(1, static_cast<char>(command));
    form->ReceiveBuffer = reply;
    form->DispatchReply();
  }
  QString status() const { return form->Label6->text(); }
  std::unique_ptr<Form2> form;
};

void TestProtocolDispatch::initTestCase() { testsupport::makeTemporaryPortsDir(); }

void TestProtocolDispatch::init() {
  form = std::make_unique<Form2>();
  form->ResetMainChart();
  form->ResetLevelRuler();
  form->ResetTimeRuler();
}

void TestProtocolDispatch::cleanup() { form.reset(); }

void TestProtocolDispatch::handshakeAccepted() {
  QVERIFY(form->Timer2->Enabled());
  dispatch(5, Bytes({213, 85, 85, 1, 2, 3}));  // extra bytes are ignored
  QCOMPARE(status(), QStringLiteral("握手成功"));
  QCOMPARE(form->Label2->text(), QStringLiteral("设备连接成功"));
  QVERIFY(!form->Timer2->Enabled());
  QCOMPARE(form->Connected, short(1));
}

void TestProtocolDispatch::handshakeRejected_data() {
  QTest::addColumn<QByteArray>("reply");
  QTest::newRow("swapped") << Bytes({85, 213, 85});
  QTest::newRow("last byte wrong") << Bytes({213, 85, 84});
  QTest::newRow("empty") << QByteArray();
  QTest::newRow("one byte") << Bytes({213});
  QTest::newRow("two bytes") << Bytes({213, 85});
}

void TestProtocolDispatch::handshakeRejected() {
  QFETCH(QByteArray, reply);
  dispatch(5, reply);
  QCOMPARE(status(), QStringLiteral("握手失败,下位机返回出错"));
  QCOMPARE(form->Label2->text(), QStringLiteral("仪表连接失败"));
  QVERIFY(form->Timer2->Enabled());
  QCOMPARE(form->Connected, short(0));
}

void TestProtocolDispatch::countReply_data() {
  QTest::addColumn<QByteArray>("reply");
  QTest::addColumn<int>("threshold");
  QTest::addColumn<int>("groupCount");
  QTest::addColumn<QString>("text");
  // GroupCount is 9 before each reply.
  QTest::newRow("none stored") << Bytes({5, 5, 0}) << 3 << 0 << QStringLiteral("存储的组数为:0");
  QTest::newRow("one") << Bytes({5, 5, 1}) << 3 << 1 << QStringLiteral("存储的组数为:1");
  QTest::newRow("100") << Bytes({5, 5, 100}) << 300 << 100 << QStringLiteral("存储的组数为:100");
  QTest::newRow("most") << Bytes({5, 5, 255}) << 765 << 255 << QStringLiteral("存储的组数为:255");
  QTest::newRow("extra bytes") << Bytes({5, 5, 2, 9, 9}) << 6 << 2 << QStringLiteral("存储的组数为:2");
  QTest::newRow("bad header") << Bytes({5, 4, 7}) << 3 << 9 << QStringLiteral("接收组数失败");
  QTest::newRow("empty") << QByteArray() << 3 << 9 << QStringLiteral("接收组数失败");
  QTest::newRow("header only") << Bytes({5, 5}) << 3 << 9 << QStringLiteral("接收组数失败");
}

void TestProtocolDispatch::countReply() {
  QFETCH(QByteArray, reply);
  QFETCH(int, threshold);
  QFETCH(int, groupCount);
  QFETCH(QString, text);
  form->GroupCount = 9;
  form->MSComm1->setRThreshold(27);
  dispatch(15, reply);
  QCOMPARE(form->MSComm1->RThreshold(), threshold);
  QCOMPARE(form->GroupCount, short(groupCount));
  QCOMPARE(status(), text);
}

void TestProtocolDispatch::thresholdFollowsExpectedReply() {
  dispatch(15, Bytes({5, 5, 255}));
  QCOMPARE(form->MSComm1->RThreshold(), 765);
  dispatch(25, QByteArray(765, '\x01'));
  QCOMPARE(form->MSComm1->RThreshold(), 3);
  dispatch(15, Bytes({5, 5, 4}));
  QCOMPARE(form->MSComm1->RThreshold(), 12);
  dispatch(15, Bytes({0, 5, 4}));  // a bad count reply brings it back too
  QCOMPARE(form->MSComm1->RThreshold(), 3);
}

void TestProtocolDispatch::historyReplyFillsTable() {
  dispatch(15, Bytes({5, 5, 3}));
  const QByteArray block = Bytes({12, 34, 1, 1, 5, 10, 0, 7, 19, 77, 77, 9});
  dispatch(25, block);
  // One group more than announced: decoded as far as the count goes, the
  // extra bytes ignored.
  QCOMPARE(status(), QStringLiteral("返回历史数据正常"));
  const QString lead = QStringLiteral("\r\n") + QString(30, QLatin1Char(' '));
  const QString gap(22, QLatin1Char(' '));
  const QString expected = HistoryTableHeading() + lead + "001" + gap + "AC 12.34 mA" + lead + "002" + gap +
                           "AC 0.105mA" + lead + "003" + gap + "DC -0.7 A";
  QCOMPARE(form->RichTextBox1->Text(), expected);
  dispatch(15, Bytes({5, 5, 3}));
  dispatch(25, block.left(9));
  QCOMPARE(status(), QStringLiteral("返回历史数据正常"));
  QCOMPARE(form->RichTextBox1->Text(), expected);
  dispatch(25, block.left(9));  // a second block without a count reply before it
  QCOMPARE(status(), QStringLiteral("返回历史数据与组数不符"));

  // No groups: the table is only its heading.
  dispatch(15, Bytes({5, 5, 0}));
  dispatch(25, Bytes({1, 2, 3}));
  QCOMPARE(form->RichTextBox1->Text(), HistoryTableHeading());
  QCOMPARE(status(), QStringLiteral("返回历史数据正常"));
}

void TestProtocolDispatch::historyShortBlock() {
  form->GroupCount = 4;
  dispatch(25, Bytes({12, 34, 1, 1}));
  QCOMPARE(status(), QStringLiteral("返回历史数据不完整"));
  const QStringList lines = form->RichTextBox1->Text().split(QStringLiteral("\r\n"));
  QCOMPARE(lines.size(), 3 + 1 + 1);
  QCOMPARE(lines.last(), HistoryMissingGroupsRow(4, 1));
  QCOMPARE(form->MSComm1->RThreshold(), 3);
}

void TestProtocolDispatch::liveReplyDecodesOneGroup() {
  form->GroupCount = 200;  // left from a history read
  form->Option4->setEnabled(false);
  form->Option5->setEnabled(false);
  form->Slider1->setValue(4);
  form->TraceWritePos = 3;
  dispatch(35, Bytes({12, 34, 1, 99, 99, 99}));
  QCOMPARE(form->GroupCount, short(1));
  QVERIFY(form->Option4->isEnabled() && form->Option5->isEnabled());
  QCOMPARE(form->Label7->text(), QStringLiteral("12.34mA"));
  QCOMPARE(form->ReadingBuffer[3], 12.34f);
  QCOMPARE(form->TraceWritePos, short(4));
  QCOMPARE(form->TraceBuffer[4], 12.34f);
  QCOMPARE(form->Label8->text(), QStringLiteral("100mA"));
  QCOMPARE(status(), QStringLiteral("接收电流数据正常"));

  form->Slider1->setValue(9);
  dispatch(35, Bytes({0, 1, 10}));  // 0.001 mA at full scale 0.05 mA
  QCOMPARE(form->Label7->text(), QStringLiteral("0.001mA"));
  QCOMPARE(form->TraceBuffer[5], 5.0f);
  QCOMPARE(form->Label8->text(), QStringLiteral("0.05mA"));
}

void TestProtocolDispatch::liveInvalidCodeStoresNothing() {
  form->TraceWritePos = 2;
  form->Label8->setText(QStringLiteral("x"));
  for (int code : {0, 21, 255}) {
    dispatch(35, Bytes({12, 34, code}));
    QCOMPARE(form->Label7->text(), QStringLiteral("ERROR"));
    QCOMPARE(form->TraceWritePos, short(2));
    QCOMPARE(form->Label8->text(), QStringLiteral("x"));
  }
  QVERIFY(
      std::all_of(form->ReadingBuffer.begin(), form->ReadingBuffer.end(), [](float v) { return v == 0; }));
}

void TestProtocolDispatch::liveShortBlockStoresNothing() {
  form->TraceWritePos = 2;
  for (const QByteArray &reply : {QByteArray(), Bytes({12}), Bytes({12, 34})}) {
    dispatch(35, reply);
    QCOMPARE(form->Label7->text(), QStringLiteral("LIVE"));
    QCOMPARE(form->TraceWritePos, short(2));
    QVERIFY(status() != QStringLiteral("接收电流数据正常"));
    QVERIFY(IsOwnStatusText(status()));
  }
}

void TestProtocolDispatch::liveRingThroughWindow() {
  form->Slider2->setValue(0);                                    // 16 points per window
  for (int i = 1; i <= 17; ++i) dispatch(35, Bytes({0, i, 3}));  // i / 10 mA
  QCOMPARE(form->TraceWritePos, short(17));
  QCOMPARE(form->ReadingBuffer[16], 1.7f);
  dispatch(35, Bytes({0, 50, 3}));
  QCOMPARE(form->TraceWritePos, short(0));
  QCOMPARE(form->TraceBuffer[0], 5.0f);
  QCOMPARE(form->ReadingBuffer[0], 0.1f);
}

void TestProtocolDispatch::unknownCommand_data() {
  QTest::addColumn<QByteArray>("command");
  QTest::newRow("nothing sent yet") << QByteArray(1, '\0');
  QTest::newRow("empty command buffer") << QByteArray();
  QTest::newRow("other byte") << Bytes({36});
}

void TestProtocolDispatch::unknownCommand() {
  QFETCH(QByteArray, command);
  form->CommandBuffer = command;
  form->ReceiveBuffer = Bytes({213, 85, 85});
  form->GroupCount = 5;
  form->DispatchReply();
  QCOMPARE(status(), QStringLiteral("未知值"));
  QCOMPARE(form->Connected, short(0));
  QCOMPARE(form->GroupCount, short(5));
  QCOMPARE(form->Label7->text(), QStringLiteral("LIVE"));
  QCOMPARE(form->MSComm1->RThreshold(), 3);
}

// Each block sits in a heap buffer of exactly its size, with no terminator
// behind it, so AddressSanitizer reports any read past the block.
void TestProtocolDispatch::shortBlocksInExactHeapBuffers() {
  for (int command : {5, 15, 25, 35}) {
    for (int size = 0; size <= 8; ++size) {
      std::unique_ptr<char[]> raw(new char[size > 0 ? size : 1]);
      for (int i = 0; i < size; ++i) raw[i] = static_cast<char>(i % 3 == 2 ? 1 : 5);
      form->GroupCount = 3;  // announces more than the short blocks hold
      form->CommandBuffer = QByteArray(1, static_cast<char>(command));
      form->ReceiveBuffer = QByteArray::fromRawData(raw.get(), size);
      form->DispatchReply();
      form->ReceiveBuffer.clear();  // before the raw buffer goes away
      QVERIFY(IsOwnStatusText(status()));
    }
  }
}

void TestProtocolDispatch::randomBlocksUnderEveryCommand() {
  QRandomGenerator random(20240611);
  auto randomBlock = [&random] {
    // Mostly the sizes that matter (around 3 and short of 3 x N), some long.
    const int size = random.bounded(4) == 0 ? random.bounded(800) : random.bounded(8);
    QByteArray b(size, Qt::Uninitialized);
    for (char &c : b) c = static_cast<char>(random.bounded(256));
    // Now and then a real header, so the count branch sets large thresholds.
    if (size >= 2 && random.bounded(3) == 0) b[0] = b[1] = 5;
    return b;
  };
  for (int command = 0; command < 256; ++command) {
    const bool known = command == 5 || command == 15 || command == 25 || command == 35;
    const int rounds = known ? 1500 : 8;
    for (int i = 0; i < rounds; ++i) {
      if (known && random.bounded(2) == 0) {
        // Alternate commands as the real exchanges do.
        dispatch(15, randomBlock());
        QVERIFY(form->GroupCount >= 0 && form->GroupCount <= 255);
      }
      form->Slider1->setValue(random.bounded(10));
      form->Slider2->setValue(random.bounded(5));
      dispatch(command, randomBlock());
      const int threshold = form->MSComm1->RThreshold();
      QVERIFY2(threshold >= 3 && threshold <= 765, qPrintable(QString::number(threshold)));
      QVERIFY2(IsOwnStatusText(status()), qPrintable(status()));
      QVERIFY(form->TraceWritePos >= 0 && form->TraceWritePos <= 500);
    }
  }
}

void TestProtocolDispatch::sendersWithoutPort() {
  QVERIFY(!form->MSComm1->PortOpen());
  form->CommandBuffer = QByteArray(1, 35);
  form->SendCommand(15);
  form->SendHandshake();
  QCOMPARE(form->CommandBuffer, QByteArray(1, 35));

  // The history read needs the link and history mode; Timer3 is one-shot.
  form->OperatingMode = 2;
  form->StartHistoryRead();
  QVERIFY(!form->Timer3->Enabled());
  form->Connected = 1;
  form->OperatingMode = 1;
  form->StartHistoryRead();
  QVERIFY(!form->Timer3->Enabled());
  form->OperatingMode = 2;
  form->StartHistoryRead();
  QVERIFY(form->Timer3->Enabled());
  form->Timer3_Timer();
  QVERIFY(!form->Timer3->Enabled());
}

QTEST_MAIN(TestProtocolDispatch)
#include "test_protocol_dispatch.moc"
