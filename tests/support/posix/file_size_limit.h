#pragma once
// A cap on the size of the files this process writes, standing in for a full
// disk in tests of failed writes.
#include <QtGlobal>
#include <csignal>
#include <sys/resource.h>

// While one lives, writes past `bytes` fail (SIGXFSZ is ignored, so they fail
// instead of ending the process).
class FileSizeCap {
 public:
  static constexpr bool kAvailable = true;
  explicit FileSizeCap(qint64 bytes) {
    std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &saved_);
    rlimit capped = saved_;
    capped.rlim_cur = static_cast<rlim_t>(bytes);
    setrlimit(RLIMIT_FSIZE, &capped);
  }
  ~FileSizeCap() { setrlimit(RLIMIT_FSIZE, &saved_); }
  FileSizeCap(const FileSizeCap &) = delete;
  FileSizeCap &operator=(const FileSizeCap &) = delete;

 private:
  rlimit saved_{};
};
