#pragma once
// Command-line options of the meter simulator.
#include <string>
#include <vector>

#include "reading_groups.h"

namespace metersim {

struct Options {
  std::string link;           // symlink to create to the device (empty: none)
  std::string device;         // existing serial device to use instead of a new pty
  std::string logFile;        // log destination (empty: standard output)
  std::string controlFile;    // commands appended to this file by a controller (empty: none)
  int baud = 9600;            // line speed set on --device, and the pace of --pace
  int groups = 10;            // stored groups, 0..255
  std::string historyFile;    // --history-file: the stored groups come from it
  std::vector<Group> stored;  // its groups (groups is their count)
  Waveform waveform = Waveform::Constant;
  int code = 1;          // reading code of live readings
  double value = 12.34;  // live reading in the code's unit
  int period = 20;       // live readings per sine/ramp cycle
  bool badHandshake = false;
  bool badCount = false;
  bool shortHistory = false;
  int historyGroups = -1;  // groups sent for 25 whatever the count said (-1: the count)
  int blockPauseMs = 0;    // the history answer stops this long halfway
  bool silent = false;
  bool garbage = false;
  int delayMs = 0;
  int countDelayMs = -1;   // delay of the count reply alone (-1: delayMs)
  long pauseAfter = -1;    // go quiet after this many answers (-1: never)
  int pauseMs = 0;         // how long the quiet lasts
  long vanishAfter = -1;   // close the device after this many received bytes (-1: never)
  int returnAfterMs = -1;  // come back this long after vanishing (-1: never)
  bool pace = false;       // answers leave at the line's speed (10 bits a byte at baud)
};

enum class ParseResult { Ok, Help, Version, Error };

// Parses argv into opts; on Error, a message has been written to stderr.
ParseResult parseOptions(int argc, char **argv, Options &opts);

// The --help text.
const char *usageText();

// The --version line: the project version, and the Qt the project was built
// with (the simulator itself links none of it).
std::string versionText();

}  // namespace metersim
