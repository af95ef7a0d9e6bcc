#pragma once
// The serial control's test hooks (device access, line settings, lock
// folders) as they were when this was made, put back when it goes: a test
// may replace any of them and never has to undo it itself.
#include <QStringList>

#include "serial/comm_control.h"

namespace testsupport {

class SavedCommHooks {
 public:
  SavedCommHooks()
      : access_(CommControl::DeviceAccessible),
        apply_(CommControl::ApplyLineSettings),
        lockFolders_(CommControl::LockFolders) {}
  ~SavedCommHooks() {
    CommControl::DeviceAccessible = access_;
    CommControl::ApplyLineSettings = apply_;
    CommControl::LockFolders = lockFolders_;
  }
  SavedCommHooks(const SavedCommHooks &) = delete;
  SavedCommHooks &operator=(const SavedCommHooks &) = delete;

 private:
  decltype(CommControl::DeviceAccessible) access_;
  decltype(CommControl::ApplyLineSettings) apply_;
  QStringList lockFolders_;
};

}  // namespace testsupport
