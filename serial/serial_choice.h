#pragma once
// What the settings dialog hands to the main window: the five serial settings
// as its lists name them ("COM1", "9600", "NONE", "8", "1"). The window keeps
// them and applies them to its serial control; the dialog only chooses.
#include <QString>

struct SerialChoice {
  QString PortName, BaudRate, Parity, DataBits, StopBits;

  // Which list the user picked from: a port pick reopens the port (also the
  // same one again); any other pick applies the line settings to the port.
  enum class Pick { Port, LineSettings };

  // The line-settings text the choice asks for: baud, parity letter, data
  // bits and stop bits ("9600,N,8,1").
  QString SettingsText() const {
    return BaudRate + QLatin1Char(',') + Parity.left(1) + QLatin1Char(',') + DataBits + QLatin1Char(',') +
           StopBits;
  }
};
