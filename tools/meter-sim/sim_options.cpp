#include "sim_options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "history_file.h"

namespace metersim {

const char *usageText() {
  return R"(Usage: meter-sim [options]

Simulates the clamp leakage-current meter on a serial line. By default it creates a
pseudo-terminal in raw mode; the program under test opens its slave side.

Device:
  --link PATH           put a symbolic link to the device at PATH (replaces an
                        existing link there; removed again on exit), e.g.
                        --link "$ARRESTER_PORTS_DIR/COM1" makes the simulator COM1
  --device PATH         open an existing serial device instead of a pseudo-terminal
                        (a null-modem cable, one end of a socat pair)
  --baud B              line speed set on --device (default 9600); with --pace also
                        the speed at which answers leave
  --pace                send answers at the line's speed, 10 bits a byte at --baud
                        (255 history groups take about 0.8 s at 9600), instead of
                        all at once; a vanish cuts an answer still on the wire

Protocol (every command is one byte):
  5   handshake         answered with 213 85 85
  15  group count       answered with 5 5 N
  25  history data      answered with the N stored groups, 3 bytes each
  35  live reading      answered with one reading group
  0   closing notice    logged, not answered; any other byte likewise
  A reading group is: count value / 100, count value % 100, reading code.

Contents:
  --groups N            stored groups, 0..255 (default 10). Group k (1-based) has
                        reading code C[(k-1) % 16] with C = 1 3 10 5 7 11 12 13 16 17
                        18 20 9 0 21 255 (includes overload 9 and invalid codes) and
                        count value (k * 1237) mod 10000.
  --history-file FILE   store the groups listed in FILE instead (at most 255): one
                        value with its unit per line, 12.34mA, 0.5A, OL (overload)
                        or invalid; blank lines and lines starting with # are
                        skipped. Each is stored with the AC code that holds it
                        exactly, the finest that fits (12.34mA as 12 34 1, 0.5A as
                        5 0 11). The count reply announces them; the history block
                        returns exactly them. A line that cannot be stored ends
                        the simulator with status 2. Not with --groups.
  --code C              reading code of live readings, 0..255 (default 1)
  --value V             live reading in the unit of the code (default 12.34; with
                        code 1 that is 12.34 mA, sent as 12 34 1). The count value is
                        round(|V| * divisor of the code), clamped to 0..9999; codes
                        without a divisor (9, invalid) use divisor 100.
  --waveform W          constant (default): every live reading is V.
                        sine: reading n is V * (1 + 0.5 sin(2 pi n / P)).
                        ramp: reading n is V * (n mod P) / (P - 1), 0 up to V.
                        n counts live requests answered, from 0.
  --period P            P of sine and ramp, in live readings, >= 2 (default 20)

Faults:
  --bad-handshake       answer 5 with 85 213 85
  --bad-count           answer 15 with 5 4 N
  --short-history       answer 25 with only the first N/2 groups (rounded down)
  --history-groups M    answer 25 with M groups (0..1000) whatever the count reply
                        said: 0 sends nothing, more than N sends extra bytes
  --block-pause-ms T    the answer to 25 stops for T ms halfway (a meter that
                        pauses mid-block); the second half follows
  --silent              never answer anything
  --delay-ms D          send every answer D milliseconds after its command
  --count-delay-ms D    send the answer to 15 (group count) D milliseconds after it,
                        whatever --delay-ms says
  --pause-after K       after the K-th answer, answer nothing for --pause-ms
  --pause-ms T          (default 0); commands received meanwhile are logged but
                        never answered, later ones are answered as before. Once.
  --garbage             answer with pseudo-random bytes of the proper length
  --vanish-after K      on the K-th received byte (any byte counts; it is logged, not
                        answered) close the device and remove the link; a
                        pseudo-terminal's peer then sees a hang-up; answers not
                        yet sent are lost. Happens once.
  --return-after-ms T   after vanishing (--vanish-after or SIGUSR1): T ms later come
                        back with a fresh pseudo-terminal (or reopen --device) under
                        the same link
  SIGUSR1               vanish at once as --vanish-after does, any number of times;
                        ignored while the device is away

Output:
  --log FILE            write the log to FILE instead of standard output
  --control FILE        take commands from lines appended to FILE, for a controller
                        that cannot send signals (a Windows test under Wine):
                        "vanish" as SIGUSR1, "stop" as SIGTERM; removing FILE also
                        stops the simulator. FILE is created empty if missing.
  --help                this text
  --version             the version of the simulator and of the Qt it was built beside

Standard output gets "ready <device path>" each time the device is in place (after
the link, if any, exists). Log lines, flushed one at a time:
  <ms> rx <byte>        one line per received byte (decimal)
  <ms> tx <byte> ...    one line per answer sent, its bytes in decimal (with --pace:
                        when its first byte goes on the wire)
  <ms> vanish           the device was closed and the link removed
  <ms> return <path>    the device is back
  <ms> ready <path>     only in a --log file: as "ready" on standard output
<ms> counts milliseconds since the simulator started. SIGINT, SIGTERM and SIGHUP
end it cleanly, removing the link.
)";
}

std::string versionText() {
  return std::string("meter-sim ") + METER_SIM_VERSION + " (built beside Qt " + METER_SIM_QT_VERSION +
         ", which it does not use)\n";
}

namespace {

bool toLong(const char *text, long lo, long hi, long &out) {
  char *end = nullptr;
  errno = 0;
  long v = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < lo || v > hi) return false;
  out = v;
  return true;
}

bool setInt(const char *text, long lo, long hi, int &out) {
  long v = 0;
  if (!toLong(text, lo, hi, v)) return false;
  out = static_cast<int>(v);
  return true;
}

}  // namespace

ParseResult parseOptions(int argc, char **argv, Options &o) {
  bool groupsGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto flag = [&](const char *name, bool &field) {
      if (arg != name) return false;
      field = true;
      return true;
    };
    if (arg == "--help" || arg == "-h") return ParseResult::Help;
    if (arg == "--version") return ParseResult::Version;
    bool f = flag("--bad-handshake", o.badHandshake) || flag("--bad-count", o.badCount) ||
             flag("--short-history", o.shortHistory) || flag("--silent", o.silent) ||
             flag("--garbage", o.garbage) || flag("--pace", o.pace);
    if (f) continue;

    if (i + 1 >= argc) {
      std::fprintf(stderr, "meter-sim: unknown option or missing value: %s\n", arg.c_str());
      return ParseResult::Error;
    }
    const char *val = argv[++i];
    bool ok = true;
    if (arg == "--link")
      o.link = val;
    else if (arg == "--device")
      o.device = val;
    else if (arg == "--log")
      o.logFile = val;
    else if (arg == "--control")
      o.controlFile = val;
    else if (arg == "--baud")
      ok = setInt(val, 50, 4000000, o.baud);
    else if (arg == "--groups") {
      ok = setInt(val, 0, 255, o.groups);
      groupsGiven = true;
    } else if (arg == "--history-file") {
      std::string error;
      if (!readHistoryFile(val, o.stored, error)) {
        std::fprintf(stderr, "meter-sim: %s\n", error.c_str());
        return ParseResult::Error;
      }
      o.historyFile = val;
    } else if (arg == "--code")
      ok = setInt(val, 0, 255, o.code);
    else if (arg == "--period")
      ok = setInt(val, 2, 1000000, o.period);
    else if (arg == "--delay-ms")
      ok = setInt(val, 0, 3600000, o.delayMs);
    else if (arg == "--count-delay-ms")
      ok = setInt(val, 0, 3600000, o.countDelayMs);
    else if (arg == "--pause-after")
      ok = toLong(val, 1, 1L << 40, o.pauseAfter);
    else if (arg == "--history-groups")
      ok = setInt(val, 0, 1000, o.historyGroups);
    else if (arg == "--block-pause-ms")
      ok = setInt(val, 0, 3600000, o.blockPauseMs);
    else if (arg == "--pause-ms")
      ok = setInt(val, 0, 3600000, o.pauseMs);
    else if (arg == "--return-after-ms")
      ok = setInt(val, 0, 3600000, o.returnAfterMs);
    else if (arg == "--vanish-after")
      ok = toLong(val, 1, 1L << 40, o.vanishAfter);
    else if (arg == "--value") {
      char *end = nullptr;
      double v = std::strtod(val, &end);
      ok = end != val && *end == '\0' && std::isfinite(v);
      if (ok) o.value = v;
    } else if (arg == "--waveform") {
      const std::string w = val;
      if (w == "constant")
        o.waveform = Waveform::Constant;
      else if (w == "sine")
        o.waveform = Waveform::Sine;
      else if (w == "ramp")
        o.waveform = Waveform::Ramp;
      else
        ok = false;
    } else {
      std::fprintf(stderr, "meter-sim: unknown option: %s\n", arg.c_str());
      return ParseResult::Error;
    }
    if (!ok) {
      std::fprintf(stderr, "meter-sim: bad value for %s: %s\n", arg.c_str(), val);
      return ParseResult::Error;
    }
  }
  if (!o.historyFile.empty()) {
    if (groupsGiven) {
      std::fprintf(stderr, "meter-sim: --groups and --history-file cannot be combined\n");
      return ParseResult::Error;
    }
    o.groups = static_cast<int>(o.stored.size());
  }
  return ParseResult::Ok;
}

}  // namespace metersim
