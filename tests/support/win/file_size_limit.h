#pragma once
// A cap on the size of the files this process writes, standing in for a full
// disk in tests of failed writes. Windows has no such cap for a process, so
// tests that need one skip that case here.
#include <QtGlobal>

class FileSizeCap {
 public:
  static constexpr bool kAvailable = false;
  explicit FileSizeCap(qint64) {}
};
