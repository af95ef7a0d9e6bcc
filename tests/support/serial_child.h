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

// Runs the child mode when asked to; returns -1 in the normal test run.
int RunSerialChildIfAsked(int argc, char **argv);

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
