// stress-driver: see stress_driver.h.
#include <QApplication>
#include <QStringList>
#include <cstdio>
#include <functional>
#include <map>

#include "stress_driver.h"
#include "support/event_wait.h"

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  const std::map<QString, std::function<int(const QStringList &)>> scenarios{
      {QStringLiteral("fuzz"), stress::RunFuzzedReplies}, {QStringLiteral("unplug"), stress::RunUnplug},
      {QStringLiteral("soak"), stress::RunSoak},          {QStringLiteral("bad-input"), stress::RunBadInput},
      {QStringLiteral("saves"), stress::RunSaves},
  };
  const QStringList args = QApplication::arguments().mid(1);
  const auto it = args.isEmpty() ? scenarios.end() : scenarios.find(args.first());
  if (it == scenarios.end()) {
    std::fputs("usage: stress-driver fuzz|unplug|soak|bad-input|saves [options]\n", stderr);
    return 2;
  }
  // Ports live in a folder of this run's own (COM1 is linked there).
  if (qEnvironmentVariableIsEmpty("ARRESTER_PORTS_DIR")) testsupport::makeTemporaryPortsDir();
  stress::SampleSelf();  // starts the wall clock
  return it->second(args.mid(1));
}
