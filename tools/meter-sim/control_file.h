#pragma once
// Commands for the simulator appended to a file by a controller that cannot
// send it signals (a Windows test under Wine starts it as a foreign process).
#include <string>

namespace metersim {

class ControlFile {
 public:
  enum class Command { None, Vanish, Stop };

  ControlFile() = default;
  ~ControlFile();
  ControlFile(const ControlFile &) = delete;
  ControlFile &operator=(const ControlFile &) = delete;

  // Opens `path`, creating it empty if missing; false with `error` set on failure.
  bool open(const std::string &path, std::string &error);
  bool isOpen() const { return fd_ >= 0; }
  // Reads what was appended since the last call. A "vanish" line gives Vanish
  // (one per call; the rest waits for the next call); "stop", or the file
  // having been removed, gives Stop. Unknown lines are ignored.
  Command next();

 private:
  int fd_ = -1;
  std::string pending_;
};

}  // namespace metersim
