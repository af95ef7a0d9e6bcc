#include "app/app_setup.h"

#include <QApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QSettings>
#include <QTranslator>

void InstallFontSubstitutes() {
  const QStringList songFaces = {QStringLiteral("AR PL UMing CN"),   QStringLiteral("AR PL UMing TW"),
                                 QStringLiteral("AR PL UMing HK"),   QStringLiteral("Noto Serif CJK SC"),
                                 QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Zen Hei")};
  QFont::insertSubstitutions(QStringLiteral("宋体"), songFaces);
  QFont::insertSubstitutions(QStringLiteral("SimSun"), songFaces);
}

void InstallChineseTranslation(QApplication &app) {
  auto *qt = new QTranslator(&app);
  const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  if (qt->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"), dir))
    app.installTranslator(qt);
}

void KeepNoSettingsBetweenRuns() {
  // A device node is no folder, even for root, so every settings file below
  // it fails to open: reads find nothing and writes are dropped quietly.
  const QString nowhere = QStringLiteral("/dev/null");
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, nowhere);
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, nowhere);
}
