#include "serial/comm_control.h"

#include <QSerialPort>

CommControl::CommControl(QObject *parent) : QObject(parent) {}
CommControl::~CommControl() = default;

void CommControl::setCommPort(int port) { commPort_ = port; }
bool CommControl::setSettings(const QString &text) { settings_ = text; return true; }
bool CommControl::PortOpen() const { return false; }
void CommControl::setPortOpen(bool) {}
void CommControl::setRThreshold(int bytes) { rThreshold_ = bytes; }
void CommControl::Output(const QByteArray &) {}
QByteArray CommControl::Input() { return {}; }
int CommControl::InBufferCount() const { return 0; }
void CommControl::setInBufferCount(int) {}
int CommControl::OutBufferCount() const { return 0; }
void CommControl::setOutBufferCount(int) {}
QString CommControl::DevicePath() const { return {}; }
