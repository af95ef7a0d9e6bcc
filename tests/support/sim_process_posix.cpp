// The simulator as an ordinary child process: its log on standard output,
// vanish and stop as signals.
#include <QProcess>
#include <csignal>

#include "sim_process.h"

namespace testsupport {

void MeterSim::startProcess(const QStringList &args) {
  process_ = new QProcess;
  process_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
  process_->start(QString::fromUtf8(METER_SIM_PATH), args);
}

QByteArray MeterSim::readNewOutput() {
  if (isRunning()) process_->waitForReadyRead(0);
  return process_->readAllStandardOutput();
}

bool MeterSim::isRunning() const { return process_->state() != QProcess::NotRunning; }

void MeterSim::sendVanish() { ::kill(pid_t(process_->processId()), SIGUSR1); }

void MeterSim::stopProcess() {
  process_->terminate();
  if (!process_->waitForFinished(5000)) {
    process_->kill();
    process_->waitForFinished(5000);
  }
}

}  // namespace testsupport
