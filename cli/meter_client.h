#pragma once
// A small synchronous client for the meter over QSerialPort, for a console
// program without an event loop. Every exchange is one command byte and a
// reply of known length; every wait is bounded, so a silent meter never hangs
// the caller. It keeps the window's rules on the line: unread input is
// discarded before each command is written, and a command byte already handed
// to the port is never purged.
#include <QByteArray>
#include <QSerialPort>
#include <QString>
#include <csignal>
#include <functional>

#include "protocol/meter_wire.h"
#include "serial/line_settings.h"

namespace cli {

// Command bytes, from the meter's wire format.
constexpr quint8 kCmdHandshake = meterwire::kHandshake;
constexpr quint8 kCmdGroupCount = meterwire::kCountQuery;
constexpr quint8 kCmdHistory = meterwire::kHistoryRequest;
constexpr quint8 kCmdLive = meterwire::kLiveRequest;
constexpr quint8 kCmdClosing = meterwire::kCloseNotice;

// Set from a signal handler (Ctrl+C): every wait returns early.
extern volatile std::sig_atomic_t g_interrupted;

class MeterClient {
 public:
  enum class OpenError { None, NoDevice, Busy, NotPermitted, SettingsRefused, Other };

  MeterClient() = default;
  ~MeterClient();  // closes the port, sending nothing
  MeterClient(const MeterClient &) = delete;
  MeterClient &operator=(const MeterClient &) = delete;

  // Opens COM<port> (1..16), resolved as the window does, with the given
  // line settings.
  OpenError open(int port, const LineSettings &settings);
  // Plain words for the last open failure, naming the port and the device.
  QString openErrorText() const { return openErrorText_; }
  QString device() const { return device_; }
  const LineSettings &settings() const { return settings_; }
  bool isOpen() const { return port_.isOpen(); }
  // True once the device went away (cable pulled, simulator gone).
  bool lost() const { return lost_; }

  // Discards unread input, writes `command`, and waits until `expected`
  // bytes have arrived, timeoutMs has passed, or an interrupt came. Returns
  // what arrived: possibly short, possibly longer (extra bytes are left to the
  // next purge). `progress` is called with the byte count as bytes come in.
  QByteArray exchange(quint8 command, int expected, int timeoutMs,
                      const std::function<void(int)> &progress = {});

  // Writes a command that has no reply and waits (bounded) until it is on the line.
  void send(quint8 command);

  // The handshake, tried `attempts` times; true on the reply 213 85 85.
  // `reply` gets the last bytes received.
  bool handshake(int attempts, QByteArray *reply = nullptr);

  // A reply time-out for `bytes` bytes at the line's speed: one second plus
  // twice their time on the wire.
  int replyTimeoutMs(int bytes) const;

  // Sends the closing notice when the port is open, then closes it.
  void closeWithNotice();

 private:
  bool writeByte(quint8 byte);
  void drain(int timeoutMs);

  QSerialPort port_;
  LineSettings settings_;
  QString device_;
  QString openErrorText_;
  bool lost_ = false;
};

}  // namespace cli
