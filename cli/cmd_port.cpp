// ports and probe: what each COM name stands for here, and whether a meter answers.
#include <QStringList>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/meter_client.h"
#include "serial/port_names.h"

namespace cli {

namespace {

QString HexBytes(const QByteArray &bytes) {
  QStringList parts;
  for (char c : bytes) parts << QString::number(quint8(c));
  return parts.join(QLatin1Char(' '));
}

}  // namespace

int RunPorts(const QStringList &args) {
  CommandLine line(
      QStringLiteral("ports [options]"),
      QStringLiteral("Lists COM1 to COM16 with the device each stands for on this machine\n"
                     "and whether it exists, is busy, or may not be used. ") +
          (portnames::UsesPortsFolder()
               ? QStringLiteral("COMn is the link\n"
                                "COMn in the ports folder ($ARRESTER_PORTS_DIR, else\n"
                                "~/.config/arrester-monitor/ports); without a link COM1-4 are\n"
                                "/dev/ttyS0-3, COM5-12 /dev/ttyUSB0-7, COM13-16 /dev/ttyACM0-3.\n")
               : QStringLiteral("COMn is\nWindows' own port of that name.\n")) +
          QStringLiteral("Each present port is opened and closed again; nothing is sent."));
  if (const int rc = line.parse(args, 0, 0); rc >= 0) return rc;

  if (portnames::UsesPortsFolder()) Out(QStringLiteral("Ports folder: %1\n").arg(portnames::PortsFolder()));
  bool dialoutHint = false;
  for (int n = portnames::kFirstPort; n <= portnames::kLastPort; ++n) {
    const portnames::Resolved where = portnames::ResolvePort(n);
    QString device = portnames::DescribePort(n);
    if (where.linked) device += QStringLiteral(" (link)");
    QString state;
    if (where.device.isEmpty()) {
      state = QStringLiteral("missing");
    } else {
      MeterClient probe;
      switch (probe.open(n, LineSettings{})) {
        case MeterClient::OpenError::None: state = QStringLiteral("available"); break;
        case MeterClient::OpenError::Busy: state = QStringLiteral("busy"); break;
        case MeterClient::OpenError::NotPermitted:
          state = QStringLiteral("not permitted");
          dialoutHint = true;
          break;
        case MeterClient::OpenError::NoDevice: state = QStringLiteral("not a serial device"); break;
        case MeterClient::OpenError::SettingsRefused:
        case MeterClient::OpenError::Other: state = QStringLiteral("cannot be opened"); break;
      }
    }
    Out(QStringLiteral("%1  %2  %3\n").arg(portnames::PortName(n), -5).arg(device, -34).arg(state));
  }
  if (dialoutHint)
    Out(
        QStringLiteral("Ports marked \"not permitted\" need membership of the dialout group:\n"
                       "  sudo usermod -aG dialout $USER   (then log in again)\n"));
  return kExitOk;
}

int ConnectMeter(const CommandLine &line, MeterClient &client, QString *portName) {
  QString error;
  const int port = line.port(&error);
  if (port == 0) return line.usageError(error);
  const std::optional<LineSettings> settings = line.lineSettings(&error);
  if (!settings) return line.usageError(error);
  *portName = portnames::PortName(port);
  if (client.open(port, *settings) != MeterClient::OpenError::None) {
    Err(client.openErrorText() + QLatin1Char('\n'));
    return kExitPortFailed;
  }
  QByteArray reply;
  if (client.handshake(2, &reply)) return -1;
  if (g_interrupted) {
    Err(QStringLiteral("%1: interrupted before the meter answered\n").arg(*portName));
    client.closeWithNotice();
    return kExitNoAnswer;
  }
  if (reply.isEmpty())
    Err(QStringLiteral("%1: the meter does not answer (no reply to the handshake on %2 at %3)\n")
            .arg(*portName, client.device(), settings->Text()));
  else
    Err(QStringLiteral("%1: the meter answered the handshake wrongly (%2 instead of 213 85 85)\n")
            .arg(*portName, HexBytes(reply.left(3))));
  client.closeWithNotice();
  return kExitNoAnswer;
}

int RunProbe(const QStringList &args) {
  CommandLine line(QStringLiteral("probe COMn [options]"),
                   QStringLiteral("Opens the port and shakes hands with the meter. Prints \"ok\" when the\n"
                                  "meter answers, else says what failed."));
  line.addLineOptions();
  line.parser.addPositionalArgument(QStringLiteral("port"), QStringLiteral("COM1 to COM16."));
  if (const int rc = line.parse(args, 1, 1); rc >= 0) return rc;
  MeterClient client;
  QString name;
  if (const int rc = ConnectMeter(line, client, &name); rc >= 0) return rc;
  client.closeWithNotice();
  Out(QStringLiteral("ok\n"));
  return kExitOk;
}

}  // namespace cli
