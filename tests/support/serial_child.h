#pragma once
// The test executables double as helper child processes, chosen by the
// environment variable SERIAL_TEST_CHILD:
//   hold:<device>   opens <device> like the program does, prints "held", and
//                   keeps it until its standard input closes;
//   open-window     builds the main window, opens its port (COM1 of the ports
//                   folder) and prints Label1, Label6, Shape1 lit, Timer1 enabled,
//                   one per line (used to run as an unprivileged user).
#include <QProcess>
#include <QString>
#include <QStringList>
#include <memory>

// Runs the child mode when asked to; returns -1 in the normal test run.
int RunSerialChildIfAsked(int argc, char **argv);

class DeviceHolder;

// Makes COM1 of `portsDir` fail to open in the way `kind` names: "dangling"
// (a link to no device), "plainfile" (a link to a file that is no serial
// device), "held" or "forbidden" (the device `device` held open by another
// process). Returns that process for the test to keep (none for the other
// kinds); false in `ok` when the set-up itself failed.
std::unique_ptr<DeviceHolder> PrepareOpenFailure(const QString &kind, const QString &portsDir,
                                                 const QString &device, bool *ok);

// A child that holds `device` open until destroyed.
class DeviceHolder {
 public:
  explicit DeviceHolder(const QString &device);
  ~DeviceHolder() { release(); }
  bool holding() const { return holding_; }
  void release();

 private:
  QProcess process_;
  bool holding_ = false;
};
