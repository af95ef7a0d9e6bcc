#pragma once
// Where the archive lives when neither an option nor $ARRESTER_ARCHIVE names
// a file: the user's data folder, by the system's own conventions.
#include <QString>

// The folder that holds arrester-monitor/archive.sqlite by default.
QString DefaultArchiveDataFolder();
