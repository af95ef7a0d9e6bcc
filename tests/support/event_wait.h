#pragma once
// Small helpers for tests that drive the window through its event loop.
#include <QString>
#include <functional>

namespace testsupport {

// Runs the event loop until pred() holds or timeoutMs passes; returns pred().
bool waitUntil(const std::function<bool()> &pred, int timeoutMs);

// Runs the event loop for the given time.
void pumpEvents(int ms);

// A fresh temporary ports folder exported as ARRESTER_PORTS_DIR for this process.
// The folder lives until the process ends.
QString makeTemporaryPortsDir();

}  // namespace testsupport
