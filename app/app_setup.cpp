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
  // Qt's own folder where Qt is installed (Linux), else the folder beside the
  // program, where a program that brings its own Qt (Windows) keeps it.
  const QLocale chinese(QLocale::Chinese, QLocale::China);
  for (const QString &dir : {QLibraryInfo::path(QLibraryInfo::TranslationsPath),
                             QCoreApplication::applicationDirPath() + QStringLiteral("/translations")}) {
    if (qt->load(chinese, QStringLiteral("qtbase"), QStringLiteral("_"), dir)) {
      app.installTranslator(qt);
      return;
    }
  }
  delete qt;
}

void KeepNoSettingsBetweenRuns() {
  // A device node is no folder, even for root, so every settings file below
  // it fails to open: reads find nothing and writes are dropped quietly.
  const QString nowhere = QStringLiteral("/dev/null");
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, nowhere);
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, nowhere);
}
