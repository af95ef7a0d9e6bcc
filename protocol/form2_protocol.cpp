// Command senders, pollers, the receive path, the reply dispatcher and the decoders.
#include <QLabel>
#include <QRadioButton>
#include <QSlider>
#include <algorithm>
#include <limits>

#include "app/controls.h"
#include "app/form2.h"
#include "archive/archive_types.h"
#include "charts/chart_scale.h"
#include "protocol/history_table.h"
#include "protocol/meter_wire.h"
#include "protocol/reading.h"
#include "protocol/reading_text.h"
#include "protocol/trace_ring.h"
#include "serial/comm_control.h"

namespace {

using meterwire::kCloseNotice;
using meterwire::kCountQuery;
using meterwire::kHandshake;
using meterwire::kHistoryRequest;
using meterwire::kLiveRequest;

constexpr int kReplySize = meterwire::kGroupSize;  // handshake, count and live replies
constexpr int kSilentAfterRequests = 3;  // unanswered live requests before the meter counts as silent
constexpr int kMaxGroups = 255;          // the count reply's one byte
// The line counts as quiet after this many byte times and the margin.
constexpr int kQuietLineBytes = 4;
constexpr int kQuietLineMarginMs = 100;

bool IsHandshakeReply(const QByteArray &b) { return meterwire::IsHandshakeReply(b.constData(), b.size()); }
bool IsCountReply(const QByteArray &b) { return meterwire::IsCountReply(b.constData(), b.size()); }

}  // namespace

void Form2::MSComm1_OnComm() {
  if (MSComm1->CommEvent() != CommControl::EvReceive) return;
  ReceiveBuffer = MSComm1->Input();
  MSComm1->setInBufferCount(0);
  MSComm1->setOutBufferCount(0);
  DispatchReply();
}

void Form2::DispatchReply() {
  const int command = CommandBuffer.isEmpty() ? kCloseNotice : static_cast<uint8_t>(CommandBuffer[0]);
  switch (command) {
    case kHandshake:
      if (IsHandshakeReply(ReceiveBuffer)) {
        Label6->setText(QStringLiteral("握手成功"));
        Label2->setText(QStringLiteral("设备连接成功"));
        Timer2->setEnabled(false);
        Connected = kConnected;
        UnansweredRequests = 0;  // the meter answers again
      } else {
        Label6->setText(QStringLiteral("握手失败,下位机返回出错"));
      }
      break;

    case kCountQuery:
      // A count reply that comes after the read gave up waiting is a failed
      // count read too: its history request was never written.
      if (IsCountReply(ReceiveBuffer) && HistoryReadStep != HistoryStep::CountTimedOut) {
        const int n = static_cast<uint8_t>(ReceiveBuffer[2]);
        MSComm1->setRThreshold(n == 0 ? kReplySize : kReplySize * n);
        GroupCount = static_cast<short>(n);
        CountAnnounced = true;
        Label6->setText(QStringLiteral("存储的组数为:%1").arg(n));
      } else {
        MSComm1->setRThreshold(kReplySize);
        CountAnnounced = false;
        Label6->setText(QStringLiteral("接收组数失败"));
      }
      // Either way the reply has been handled and the history request may go.
      if (HistoryReadStep == HistoryStep::AwaitingCount) HistoryReadStep = HistoryStep::CountHandled;
      break;

    case kHistoryRequest: {
      // Bytes after the block of this read was handled, or of a read given
      // up, answer nothing that is still asked: they are dropped unseen.
      if (HistoryReadStep != HistoryStep::AwaitingBlock && HistoryReadStep != HistoryStep::Idle) {
        MSComm1->setInBufferCount(0);
        break;
      }
      // A block of at least the groups a valid count reply announced is a
      // normal return (extra bytes are ignored); a shorter one is decoded as
      // far as it goes and said so.
      const int expected = kReplySize * GroupCount;
      const bool announced = CountAnnounced;
      if (announced && ReceiveBuffer.size() >= expected)
        Label6->setText(QStringLiteral("返回历史数据正常"));
      else if (ReceiveBuffer.size() < expected)
        Label6->setText(QStringLiteral("返回历史数据不完整"));
      else
        Label6->setText(QStringLiteral("返回历史数据与组数不符"));
      CountAnnounced = false;
      if (HistoryReadStep == HistoryStep::AwaitingBlock) {
        HistoryReadStep = HistoryStep::Finished;
        Timer3->setEnabled(false);
      }
      DecodeHistoryData();
      // One read, one download; a read that brought no whole group leaves none.
      if (ReadingGroup::WholeGroupsIn(ReceiveBuffer) > 0)
        RecordHistoryBlock(ReceiveBuffer, announced ? GroupCount : kGroupsAnnouncedUnknown);
      MSComm1->setRThreshold(kReplySize);
      break;
    }

    case kLiveRequest:
      if (ReceiveBuffer.size() < kReplySize) {
        // Bytes lost to a purge: nothing to decode, nothing stored.
        Label6->setText(QStringLiteral("接收电流数据失败"));
        break;
      }
      LiveReplyAwaited = false;
      UnansweredRequests = 0;
      GroupCount = 1;
      Option4->setEnabled(true);
      Option5->setEnabled(true);
      DecodeLiveData();
      Label6->setText(QStringLiteral("接收电流数据正常"));
      break;

    default: Label6->setText(QStringLiteral("未知值")); break;
  }
}

void Form2::SendCommand(int command) {
  if (!MSComm1->PortOpen()) return;
  // A live request superseded before a decodable reply came counts as
  // unanswered; the count stops at its largest value rather than wrapping.
  if (LiveReplyAwaited && UnansweredRequests < std::numeric_limits<short>::max()) ++UnansweredRequests;
  LiveReplyAwaited = command == kLiveRequest;
  // A history read in progress ends with any command but its own two.
  if (command != kCountQuery && command != kHistoryRequest) HistoryReadStep = HistoryStep::Idle;
  CommandBuffer = QByteArray(1, static_cast<char>(static_cast<uint8_t>(command)));
  // Whatever was received and not yet handled belongs to earlier commands.
  // It is dropped before the write, not after: a fast meter (or a busy PC)
  // could otherwise have the answer to this very command in the buffer by
  // the time of the purge, and it would be lost.
  MSComm1->setInBufferCount(0);
  // The receive threshold belongs to the command now waiting for its reply.
  // Every reply is 3 bytes except the history block, whose size the count
  // reply has just set; so a larger threshold left by an unfinished history
  // read can never hold back the replies to later commands.
  if (command != kHistoryRequest) MSComm1->setRThreshold(kReplySize);
  MSComm1->Output(CommandBuffer);
  // Only bytes left over from earlier writes; the serial control keeps the
  // byte just written.
  MSComm1->setOutBufferCount(0);
  if (command == kHistoryRequest) {
    LineSettling = true;
    BlockRequestWritten.start();
  }
}

bool Form2::LineReadyForRequest() {
  if (!LineSettling) return true;
  // Quiet since the block's request and since its last byte: a few byte
  // times at the line's speed and a margin for a meter slow to start.
  const int baud = std::max(1, MSComm1->Settings().section(QLatin1Char(','), 0, 0).toInt());
  const qint64 quietMs = kQuietLineBytes * 10 * 1000 / baud + kQuietLineMarginMs;
  if (std::min(MSComm1->MsSinceLastReceive(), BlockRequestWritten.elapsed()) < quietMs) return false;
  LineSettling = false;
  MSComm1->setInBufferCount(0);
  return true;
}

void Form2::SendHandshake() { SendCommand(kHandshake); }

void Form2::RequestLiveData() {
  if (OperatingMode != kRealTimeMode || Connected != kConnected || !IsRunning()) return;
  // The rest of a history block still arriving is no live reading: the
  // request waits (a later tick asks) until the line has gone quiet.
  if (!LineReadyForRequest()) return;
  SendCommand(kLiveRequest);
  // A display nobody feeds says so; the next good reply brings back the
  // normal message. Polling itself goes on unchanged.
  if (UnansweredRequests >= kSilentAfterRequests && MSComm1->PortOpen())
    Label6->setText(QStringLiteral("下位机无应答,请检查仪表"));
}

void Form2::StartHistoryRead() {
  if (Connected != kConnected || OperatingMode != kHistoryMode) return;
  CountAnnounced = false;
  Timer3->setEnabled(true);
  // A block of an earlier read still arriving: the count query waits for
  // the line to go quiet, and that block is dropped.
  if (!LineReadyForRequest()) {
    HistoryReadStep = HistoryStep::AwaitingQuietLine;
    return;
  }
  WriteCountQuery();
}

void Form2::WriteCountQuery() {
  SendCommand(kCountQuery);
  // Nothing was written while the port is closed, so no reply is awaited.
  HistoryReadStep = MSComm1->PortOpen() ? HistoryStep::AwaitingCount : HistoryStep::Idle;
  CountReplyDeadline.setRemainingTime(kCountReplyTimeoutMs);
}

void Form2::Timer2_Timer() { SendHandshake(); }

// The history request is written only once the count reply has been handled,
// so a late count reply is never taken for history data. Until then the timer
// looks again every tick; a count reply that has not come in time fails the
// read. The block is then awaited for as long as it keeps coming.
void Form2::Timer3_Timer() {
  switch (HistoryReadStep) {
    case HistoryStep::AwaitingQuietLine:
      if (LineReadyForRequest()) WriteCountQuery();
      return;
    case HistoryStep::AwaitingCount:
      if (!CountReplyDeadline.hasExpired()) return;
      HistoryReadStep = HistoryStep::CountTimedOut;
      Timer3->setEnabled(false);
      Label6->setText(QStringLiteral("接收组数失败"));
      return;
    case HistoryStep::CountHandled: {
      HistoryReadStep = HistoryStep::Idle;
      // Without a valid count the block's size is unknown: it is gathered
      // until the meter stops sending, up to the largest block there is.
      if (!CountAnnounced) MSComm1->setRThreshold(kReplySize * kMaxGroups);
      SendCommand(kHistoryRequest);
      if (!MSComm1->PortOpen()) {
        Timer3->setEnabled(false);
        return;
      }
      BlockReplyDeadline.setRemainingTime(kCountReplyTimeoutMs);
      HistoryReadStep = HistoryStep::AwaitingBlock;
      return;
    }
    case HistoryStep::AwaitingBlock:
      if (!BlockReplyDeadline.hasExpired()) return;
      TakeHistoryBlock();
      return;
    case HistoryStep::Idle:
    case HistoryStep::CountTimedOut:
    case HistoryStep::Finished: Timer3->setEnabled(false); return;
  }
}

// The meter has stopped sending before the receive threshold was reached:
// what did arrive is the reply, so the table shows it with the missing
// groups noted. A read that brought nothing keeps the table as it was.
void Form2::TakeHistoryBlock() {
  Timer3->setEnabled(false);
  ReceiveBuffer = MSComm1->Input();
  MSComm1->setInBufferCount(0);
  MSComm1->setRThreshold(kReplySize);
  if (ReceiveBuffer.isEmpty()) {
    HistoryReadStep = HistoryStep::Finished;
    CountAnnounced = false;
    Label6->setText(QStringLiteral("返回历史数据失败"));
    return;
  }
  DispatchReply();
}

void Form2::Timer4_Timer() { RequestLiveData(); }

void Form2::DecodeLiveData() {
  // Only the last group counts: each one replaces the display of the one before.
  const int groups = std::min<int>(GroupCount, ReadingGroup::WholeGroupsIn(ReceiveBuffer));
  if (groups <= 0) return;
  const ReadingGroup group = ReadingGroup::At(ReceiveBuffer, groups - 1);
  const LiveReading reading = DecodeLiveReading(group);
  Label7->setText(reading.caption);
  RecordLiveReading(group);  // a queue push; overloads and invalid codes too
  if (!reading.valid) return;

  const int fullScale = Slider1->value();
  // The slot this reading goes to (none when it finds the ring's end) now
  // holds a reading, for the statistics.
  const int window = PointsPerWindow();
  if (TraceWritePos >= 0 && TraceWritePos <= std::min(window, kBufferSize - 1))
    ReadingsStored = std::max<short>(ReadingsStored, TraceWritePos + 1);
  StoreRingReading(ReadingBuffer, TraceBuffer, TraceWritePos, window, reading.milliAmps,
                   ToChartUnits(reading.milliAmps, fullScale));
  Label8->setText(FullScaleCaption(fullScale));
  RedrawMainChart();
}

void Form2::DecodeHistoryData() { RichTextBox1->setText(HistoryTableText(ReceiveBuffer, GroupCount)); }
