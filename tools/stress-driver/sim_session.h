#pragma once
// What the unplug and soak scenarios share: the window against meter-sim as
// COM1, waits that leave the process asleep, and the window's live reading.
#include <QString>
#include <QStringList>

class Form2;

namespace stress {

// Runs the event loop for `ms` with the process asleep in it between events,
// so the CPU time used meanwhile is the window's own, not a waiting loop's.
void IdleWait(int ms);

// The window as the program starts it: start-up (port, handshake, real-time
// run), then, when `baud` is given, that speed picked in the settings dialog,
// shown on the (offscreen) screen. True once the meter answered the
// handshake within `timeoutMs`.
bool LoadWindow(Form2 &w, int timeoutMs, const QString &baud = QString());

// The live reading the window shows (Label7).
QString ShownReading(const Form2 &w);

// Waits until the shown reading differs from `before`: a new live reading has
// been decoded and shown. Run with meter-sim's ramp of distinct readings
// (DistinctReadingArgs) every reading differs from the one before.
bool WaitNewReading(const Form2 &w, const QString &before, int timeoutMs);

// meter-sim arguments that make every live reading differ from the one
// before for the first 10,000 readings: a ramp of 0.01 mA steps.
QStringList DistinctReadingArgs();

}  // namespace stress
