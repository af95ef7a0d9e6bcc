// The monitoring program: one window, started and shown, recording every run
// and every history download into the measurement archive.
#include <QApplication>
#include <QCommandLineParser>
#include <memory>
#include <string_view>

#include "app/app_setup.h"
#include "app/form2.h"
#include "app/stop_signals.h"
#include "archive/archive.h"
#include "archive/recorder.h"

namespace {

// True when the command line asks only for the help or the version text.
bool AsksOnlyForText(int argc, char **argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help" || arg == "-?" || arg == "--help-all" || arg == "-v" ||
        arg == "--version")
      return true;
  }
  return false;
}

}  // namespace

int main(int argc, char **argv) {
  KeepRunningPastFileSizeLimit();
  KeepNoSettingsBetweenRuns();
  QCoreApplication::setApplicationVersion(
      QStringLiteral(ARRESTER_VERSION " (Qt %1)").arg(QLatin1String(qVersion())));

  QCommandLineParser options;
  options.setApplicationDescription(
      QStringLiteral("Monitors a clamp leakage-current meter on a serial line and records every\n"
                     "real-time run and every history download in the measurement archive."));
  options.addHelpOption();
  options.addVersionOption();
  const QCommandLineOption archiveOption(
      QStringLiteral("archive"),
      QStringLiteral("The archive file (default: $ARRESTER_ARCHIVE, else\n"
                     "arrester-monitor/archive.sqlite in the user's data folder)."),
      QStringLiteral("PATH"));
  const QCommandLineOption noRecordOption(QStringLiteral("no-record"),
                                          QStringLiteral("Record nothing in the archive."));
  options.addOption(archiveOption);
  options.addOption(noRecordOption);
  // The help and version texts only print: they need no display, so they are
  // answered before the window's application connects to one.
  if (AsksOnlyForText(argc, argv)) {
    QCoreApplication textOnly(argc, argv);
    options.process(textOnly);
  }
  QApplication app(argc, argv);
  options.process(app);

  InstallFontSubstitutes();
  InstallChineseTranslation(app);

  const QString archivePath = ResolveArchivePath(options.value(archiveOption));
  // The recorder outlives the window, which ends its recording on closing.
  std::unique_ptr<Recorder> recorder;
  if (!options.isSet(noRecordOption)) recorder = std::make_unique<Recorder>(archivePath);
  Form2 form;
  form.AttachArchive(archivePath, recorder.get());
  CloseOnTerminate(form);
  form.Form_Load();
  form.show();
  return app.exec();
}
