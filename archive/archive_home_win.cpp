#include <QDir>
#include <shlobj.h>
#include <windows.h>

#include "archive/archive_home.h"

// The user's application-data folder (Roaming AppData), the one Qt's
// AppDataLocation is made from. The window and the console tool carry
// different application names, so the folder is asked of Windows directly
// and both find the same archive under it.
QString DefaultArchiveDataFolder() {
  PWSTR path = nullptr;
  QString folder;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_RoamingAppData, KF_FLAG_DONT_VERIFY, nullptr, &path)))
    folder = QDir::fromNativeSeparators(QString::fromWCharArray(path));
  CoTaskMemFree(path);
  if (folder.isEmpty()) folder = QDir::fromNativeSeparators(qEnvironmentVariable("APPDATA"));
  if (folder.isEmpty()) folder = QDir::homePath() + QStringLiteral("/AppData/Roaming");
  return folder;
}
