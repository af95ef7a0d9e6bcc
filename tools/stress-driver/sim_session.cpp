#include "sim_session.h"

#include <QEventLoop>
#include <QLabel>
#include <QTimer>

#include "app/form2.h"
#include "support/event_wait.h"

namespace stress {

void IdleWait(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

bool LoadWindow(Form2 &w, int timeoutMs, const QString &baud) {
  w.Form_Load();
  if (!baud.isEmpty()) {
    // What the settings dialog hands over when the user picks a speed.
    SerialChoice choice = w.CurrentSerialChoice();
    choice.BaudRate = baud;
    w.ApplySerialChoice(choice, SerialChoice::Pick::LineSettings);
  }
  w.show();
  return testsupport::waitUntil([&] { return w.Connected == Form2::kConnected; }, timeoutMs);
}

QString ShownReading(const Form2 &w) { return w.Label7->text(); }

bool WaitNewReading(const Form2 &w, const QString &before, int timeoutMs) {
  return testsupport::waitUntil([&] { return ShownReading(w) != before; }, timeoutMs);
}

QStringList DistinctReadingArgs() {
  // Reading n is 99.99 mA * n / 9999, sent as the count value n.
  return {QStringLiteral("--waveform"), QStringLiteral("ramp"),    QStringLiteral("--period"),
          QStringLiteral("10000"),      QStringLiteral("--value"), QStringLiteral("99.99")};
}

}  // namespace stress
