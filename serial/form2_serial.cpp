// Opening the serial port, reporting the outcome, retrying, the link indicator.
#include <QComboBox>
#include <QLabel>

#include "app/controls.h"
#include "app/form2.h"
#include "archive/recorder.h"
#include "serial/comm_control.h"
#include "serial/form1.h"
#include "serial/line_settings.h"
#include "serial/port_names.h"

namespace {

// A failed open: the message, the port status, and a dark, steady indicator.
// Timer5 keeps running and tries again.
void ReportOpenFailure(Form2 &w, const QString &message, const QString &status) {
  w.Label6->setText(message);
  w.Label1->setText(status);
  w.Timer1->setEnabled(false);
  w.Shape1->setLit(false);
}

}  // namespace

void Form2::OpenSerialPort() {
  const QString name = EnsureSettingsDialog().Combo1->currentText();
  MSComm1->setPortOpen(true);
  switch (MSComm1->Error()) {
    case CommControl::NoError:
      Label6->setText(name + QStringLiteral("已打开"));
      Label1->setText(QStringLiteral("串口通信正常"));
      Timer1->setEnabled(true);
      break;
    case CommControl::InvalidPort:
      ReportOpenFailure(*this, name + QStringLiteral("电脑端口无效."), QStringLiteral("串口无效"));
      break;
    case CommControl::PermissionDenied:
      ReportOpenFailure(*this,
                        name + QStringLiteral("打开失败,没有使用该串口的权限,"
                                              "请将当前用户加入dialout组后重新登录."),
                        QStringLiteral("串口打开失败"));
      break;
    case CommControl::SettingsRefused:
      ReportOpenFailure(*this,
                        name + QStringLiteral("打开失败,串口不支持通信参数") + MSComm1->Settings() +
                            QStringLiteral(",请更改通信设置."),
                        QStringLiteral("串口打开失败"));
      break;
    default:  // in use, locked by another program, or any other refusal
      ReportOpenFailure(*this, name + QStringLiteral("打开失败,请检查串口是否被占用或者尝试其它串口."),
                        QStringLiteral("串口打开失败"));
      break;
  }
  MSComm1->ClearError();
}

SerialChoice Form2::CurrentSerialChoice() const { return {PortName, BaudRate, Parity, DataBits, StopBits}; }

void Form2::ApplySerialChoice(const SerialChoice &choice, SerialChoice::Pick pick) {
  PortName = choice.PortName;
  BaudRate = choice.BaudRate;
  Parity = choice.Parity;
  DataBits = choice.DataBits;
  StopBits = choice.StopBits;
  if (pick == SerialChoice::Pick::Port) {
    if (MSComm1->PortOpen()) MSComm1->setPortOpen(false);
    // Another port is another meter, or none: the link is greeted afresh, and
    // the recording on the old port ends (the next reading starts a new one).
    DropInstrumentLink();
    if (MeasurementRecorder) MeasurementRecorder->endRecording();
    MSComm1->setCommPort(portnames::PortNumber(PortName));
    OpenSerialPort();
    return;
  }
  const QString wanted = choice.SettingsText();
  if (MSComm1->setSettings(wanted)) return;

  // Refused: the variables go back to what the port really uses.
  const QString inUse = MSComm1->Settings();
  if (const std::optional<LineSettings> s = LineSettings::Parse(inUse)) {
    BaudRate = QString::number(s->baudRate);
    Parity = LineSettings::ParityWord(s->parity);
    DataBits = QString::number(s->dataBits);
    StopBits = LineSettings::StopText(s->stopBits);
  }
  Label6->setText(PortName + QStringLiteral("不支持通信参数") + wanted + QStringLiteral(",已恢复为") + inUse +
                  QLatin1Char('.'));
}

void Form2::Timer1_Timer() { Shape1->setLit(!Shape1->Lit()); }

void Form2::Timer5_Timer() {
  if (!MSComm1->PortOpen()) OpenSerialPort();
}

void Form2::mnucomsetting_Click() {
  Form1 &dialog = EnsureSettingsDialog();
  // A dialog closed since it was last shown comes back as newly created,
  // showing the current settings.
  if (!dialog.isVisible()) dialog.Form_Load();
  dialog.show();
  dialog.raise();
  dialog.activateWindow();
}

// No link to the meter is assumed until it answers the handshake again,
// which the handshake clock repeats once the port is open.
void Form2::DropInstrumentLink() {
  Connected = kNotConnected;
  Label2->setText(QStringLiteral("仪表连接失败"));
  Timer2->setEnabled(true);
}

void Form2::MSComm1_DeviceLost() {
  // Whatever comes back under this name is greeted afresh.
  DropInstrumentLink();
  if (MSComm1->PortOpen()) return;  // already open again
  ReportOpenFailure(*this, EnsureSettingsDialog().Combo1->currentText() + QStringLiteral("电脑端口无效."),
                    QStringLiteral("串口无效"));
}
