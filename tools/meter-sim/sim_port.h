#pragma once
// The simulator's end of the serial line: a fresh raw pseudo-terminal, or an
// existing serial device, optionally reachable through a symbolic link.
#include <string>

namespace metersim {

class SimPort {
 public:
  SimPort() = default;
  SimPort(const SimPort &) = delete;
  SimPort &operator=(const SimPort &) = delete;
  ~SimPort() { close(); }

  // Opens a pseudo-terminal (device empty) or the given device, then puts the
  // link (if not empty) in place. On failure returns false with a message.
  bool open(const std::string &device, int baud, const std::string &link, std::string &error);
  // Closes the device (the peer sees a hang-up) and removes the link if it
  // still points at our device.
  void close();

  bool isOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }  // non-blocking, read/write
  const std::string &devicePath() const { return path_; }

 private:
  bool openPty(std::string &error);
  bool openDevice(const std::string &device, int baud, std::string &error);
  bool placeLink(const std::string &link, std::string &error);

  int fd_ = -1;
  int slaveFd_ = -1;  // held open so the pty never hangs up between clients
  std::string path_;
  std::string link_;
};

}  // namespace metersim
