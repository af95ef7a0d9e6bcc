#pragma once
// A bare raw-mode client of the simulator's device, without the program's serial layer.
#include <QByteArray>
#include <QString>

class PtyClient {
 public:
  explicit PtyClient(const QString &path);
  ~PtyClient();
  PtyClient(const PtyClient &) = delete;
  PtyClient &operator=(const PtyClient &) = delete;

  bool isOpen() const { return fd_ >= 0; }
  bool write(const QByteArray &bytes);
  // Reads until `count` bytes arrived or timeoutMs passed; returns what arrived.
  QByteArray read(int count, int timeoutMs);
  // True once the far end has hung up (read fails or reports end of file).
  bool waitHangUp(int timeoutMs);
  void close();

 private:
  int fd_ = -1;
};
