// meter-sim: a stand-in for the clamp leakage-current meter on a serial line.
// It answers the meter's one-byte commands, logs every byte it receives with a
// timestamp, and can misbehave in the ways tests need. See --help.
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <algorithm>
#include <deque>
#include <iterator>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "control_file.h"
#include "meter_replies.h"
#include "protocol/meter_wire.h"
#include "sim_options.h"
#include "sim_port.h"

using namespace metersim;

namespace {

volatile sig_atomic_t gStop = 0;
void onStopSignal(int) { gStop = 1; }
volatile sig_atomic_t gVanishNow = 0;
void onVanishSignal(int) { gVanishNow = 1; }

long long monotonicUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000000LL + ts.tv_nsec / 1000;
}

class Log {
 public:
  explicit Log(FILE *out) : out_(out), start_(monotonicUs()) {}
  long long now() const { return nowUs() / 1000; }
  long long nowUs() const { return monotonicUs() - start_; }
  void line(const std::string &text) {
    std::fprintf(out_, "%lld %s\n", now(), text.c_str());
    std::fflush(out_);
  }

 private:
  FILE *out_;
  long long start_;
};

// On standard output; a log of its own (--log) gets it too, for a controller
// that reads only the log.
void announceReady(const std::string &path, Log &log, bool logIsStdout) {
  std::printf("ready %s\n", path.c_str());
  std::fflush(stdout);
  if (!logIsStdout) log.line("ready " + path);
}

struct PendingReply {
  long long dueMs;
  std::vector<std::uint8_t> bytes;
};

class Simulator {
 public:
  Simulator(const Options &opts, Log &log)
      : opts_(opts), log_(log), replies_(opts), byteUs_(10 * 1e6 / opts.baud) {}

  bool start() {
    std::string error;
    if (!opts_.controlFile.empty() && !control_.open(opts_.controlFile, error)) {
      std::fprintf(stderr, "meter-sim: %s\n", error.c_str());
      return false;
    }
    if (!port_.open(opts_.device, opts_.baud, opts_.link, error)) {
      std::fprintf(stderr, "meter-sim: %s\n", error.c_str());
      return false;
    }
    announceReady(port_.devicePath(), log_, opts_.logFile.empty());
    return true;
  }

  // Runs until a stop signal; returns the exit status.
  int run(const sigset_t &waitMask) {
    while (!gStop) {
      const long long now = log_.now();
      switch (control_.next()) {
        case ControlFile::Command::Stop: return 0;
        case ControlFile::Command::Vanish: gVanishNow = 1; break;
        case ControlFile::Command::None: break;
      }
      if (gVanishNow) {
        gVanishNow = 0;
        if (port_.isOpen()) vanish(now);  // while away there is nothing to pull
      }
      sendDueReplies(now);
      if (!port_.isOpen() && returnAtMs_ >= 0 && now >= returnAtMs_) comeBack(now);

      pollfd pfd{port_.fd(), 0, 0};
      // Paced output is written on the clock; the terminal's readiness for
      // writing matters only when a write found it full.
      const bool waitWritable = !out_.empty() && (!opts_.pace || outputBlocked_);
      if (port_.isOpen()) pfd.events = POLLIN | (waitWritable ? POLLOUT : 0);
      long long timeout = nextWakeUs(log_.nowUs());
      // A control file cannot be polled: look at it every 20 ms.
      if (control_.isOpen() && (timeout < 0 || timeout > kControlCheckUs)) timeout = kControlCheckUs;
      timespec ts{static_cast<time_t>(timeout / 1000000), static_cast<long>(timeout % 1000000) * 1000};
      const int n = ppoll(port_.isOpen() ? &pfd : nullptr, port_.isOpen() ? 1 : 0,
                          timeout < 0 ? nullptr : &ts, &waitMask);
      if (n < 0) {
        if (errno == EINTR) continue;
        std::perror("meter-sim: ppoll");
        return 1;
      }
      if (!port_.isOpen() || n == 0) continue;
      if (pfd.revents & POLLIN) {
        if (!receive()) return 1;
      } else if (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) {
        // A real device went away (a pty never hangs up: we hold its slave open).
        std::fprintf(stderr, "meter-sim: device hung up\n");
        return 1;
      }
      if (port_.isOpen() && !out_.empty()) flushOutput();
    }
    return 0;
  }

 private:
  bool receive() {
    std::uint8_t buf[4096];
    const ssize_t got = read(port_.fd(), buf, sizeof buf);
    if (got < 0) {
      if (errno == EAGAIN || errno == EINTR) return true;
      std::perror("meter-sim: read");
      return false;
    }
    if (got == 0) return true;
    const long long now = log_.now();
    for (ssize_t i = 0; i < got && port_.isOpen(); ++i) {
      log_.line("rx " + std::to_string(buf[i]));
      ++received_;
      if (opts_.vanishAfter > 0 && received_ == opts_.vanishAfter) {
        vanish(now);
        break;
      }
      std::vector<std::uint8_t> reply = replies_.answer(buf[i]);
      if (reply.empty() || now < quietUntilMs_) continue;
      if (opts_.pauseAfter > 0 && ++answered_ == opts_.pauseAfter) quietUntilMs_ = now + opts_.pauseMs;
      // Counted from the moment the command was logged, so the log never
      // shows an answer leaving sooner than the delay on a busy machine.
      const int delay =
          int(log_.now() - now) +
          (buf[i] == meterwire::kCountQuery && opts_.countDelayMs >= 0 ? opts_.countDelayMs : opts_.delayMs);
      if (buf[i] == meterwire::kHistoryRequest && opts_.blockPauseMs > 0 && reply.size() > 1) {
        // The second half leaves after the first has crossed the line (when
        // paced) and the pause has passed.
        const auto half = reply.begin() + static_cast<long>(reply.size() / 2);
        const long long firstWireMs =
            opts_.pace ? static_cast<long long>((half - reply.begin()) * byteUs_ / 1000) : 0;
        schedule({now + delay, {reply.begin(), half}});
        schedule({now + delay + firstWireMs + opts_.blockPauseMs, {half, reply.end()}});
        continue;
      }
      schedule({now + delay, std::move(reply)});
    }
    return true;
  }

  // Answers leave in the order they fall due (a count reply may be delayed
  // beyond later answers).
  void schedule(PendingReply reply) {
    auto at = pending_.end();
    while (at != pending_.begin() && std::prev(at)->dueMs > reply.dueMs) --at;
    pending_.insert(at, std::move(reply));
  }

  void sendDueReplies(long long now) {
    while (!pending_.empty() && pending_.front().dueMs <= now) {
      const auto &bytes = pending_.front().bytes;
      std::string text = "tx";
      for (auto b : bytes) text += " " + std::to_string(b);
      log_.line(text);
      // An idle line starts carrying the answer now.
      if (out_.empty()) wireUs_ = std::max(wireUs_, double(log_.nowUs()));
      out_.insert(out_.end(), bytes.begin(), bytes.end());
      pending_.pop_front();
    }
    if (port_.isOpen() && !out_.empty()) flushOutput();
  }

  void flushOutput() {
    while (!out_.empty()) {
      // Paced: only the bytes that have fully crossed the line by now.
      size_t allowed = out_.size();
      if (opts_.pace) {
        const double crossed = (double(log_.nowUs()) - wireUs_) / byteUs_;
        allowed = crossed < 1 ? 0 : std::min(out_.size(), size_t(crossed));
        if (allowed == 0) return;
      }
      const ssize_t n = write(port_.fd(), out_.data(), allowed);
      outputBlocked_ = n <= 0;
      if (n <= 0) return;  // full (EAGAIN): poll tells us when to go on
      out_.erase(out_.begin(), out_.begin() + n);
      if (opts_.pace) {
        wireUs_ += double(n) * byteUs_;
        return;  // the rest is not due yet
      }
    }
  }

  void vanish(long long now) {
    port_.close();
    pending_.clear();
    out_.clear();
    outputBlocked_ = false;
    log_.line("vanish");
    if (opts_.returnAfterMs >= 0) returnAtMs_ = now + opts_.returnAfterMs;
  }

  void comeBack(long long now) {
    std::string error;
    if (!port_.open(opts_.device, opts_.baud, opts_.link, error)) {
      returnAtMs_ = now + 100;  // e.g. the device is not back yet: try again shortly
      return;
    }
    returnAtMs_ = -1;
    log_.line("return " + port_.devicePath());
    announceReady(port_.devicePath(), log_, opts_.logFile.empty());
  }

  // Microseconds until the next scheduled event, or -1 for none.
  long long nextWakeUs(long long nowUs) const {
    long long due = -1;
    auto consider = [&due](long long at) {
      if (due < 0 || at < due) due = at;
    };
    if (!pending_.empty()) consider(pending_.front().dueMs * 1000);
    if (!port_.isOpen() && returnAtMs_ >= 0) consider(returnAtMs_ * 1000);
    // The next paced byte is due once it has crossed the line.
    if (opts_.pace && port_.isOpen() && !out_.empty() && !outputBlocked_)
      consider(static_cast<long long>(wireUs_ + byteUs_) + 1);
    return due < 0 ? -1 : (due > nowUs ? due - nowUs : 0);
  }

  static constexpr long long kControlCheckUs = 20000;

  const Options &opts_;
  Log &log_;
  MeterReplies replies_;
  SimPort port_;
  ControlFile control_;
  std::deque<PendingReply> pending_;
  std::vector<std::uint8_t> out_;
  long received_ = 0;
  long answered_ = 0;            // answers scheduled so far
  long long quietUntilMs_ = -1;  // --pause-after: nothing is answered before this
  long long returnAtMs_ = -1;
  const double byteUs_;         // --pace: wire time of one byte (10 bits)
  double wireUs_ = 0;           // --pace: when the last byte written had crossed the line
  bool outputBlocked_ = false;  // the last write found the terminal full
};

}  // namespace

int main(int argc, char **argv) {
  Options opts;
  switch (parseOptions(argc, argv, opts)) {
    case ParseResult::Help: std::fputs(usageText(), stdout); return 0;
    case ParseResult::Version: std::fputs(versionText().c_str(), stdout); return 0;
    case ParseResult::Error: std::fputs("Try meter-sim --help\n", stderr); return 2;
    case ParseResult::Ok: break;
  }

  FILE *logOut = stdout;
  if (!opts.logFile.empty()) {
    logOut = std::fopen(opts.logFile.c_str(), "w");
    if (!logOut) {
      std::fprintf(stderr, "meter-sim: cannot write %s: %s\n", opts.logFile.c_str(), std::strerror(errno));
      return 1;
    }
  }

  // Stop signals (and SIGUSR1, vanish now) are blocked except while waiting in ppoll, so none is lost.
  sigset_t stopSignals, waitMask;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  sigaddset(&stopSignals, SIGUSR1);
  sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
  struct sigaction sa {};
  sa.sa_handler = onStopSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
  sa.sa_handler = onVanishSignal;
  sigaction(SIGUSR1, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  Log log(logOut);
  int status = 1;
  {
    Simulator sim(opts, log);
    if (sim.start()) status = sim.run(waitMask);
  }  // the port closes and the link goes here
  if (logOut != stdout) std::fclose(logOut);
  return status;
}
