#include "control_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace metersim {

ControlFile::~ControlFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool ControlFile::open(const std::string &path, std::string &error) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) error = "cannot open " + path + ": " + std::strerror(errno);
  return fd_ >= 0;
}

ControlFile::Command ControlFile::next() {
  if (fd_ < 0) return Command::None;
  char buf[256];
  ssize_t n;
  while ((n = ::read(fd_, buf, sizeof buf)) > 0) pending_.append(buf, static_cast<size_t>(n));
  size_t end;
  while ((end = pending_.find('\n')) != std::string::npos) {
    std::string line = pending_.substr(0, end);
    pending_.erase(0, end + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();  // written by a Windows program
    if (line == "vanish") return Command::Vanish;
    if (line == "stop") return Command::Stop;
  }
  struct stat st {};
  if (::fstat(fd_, &st) == 0 && st.st_nlink == 0) return Command::Stop;  // removed
  return Command::None;
}

}  // namespace metersim
