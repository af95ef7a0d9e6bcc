// The monitoring program: one window, started and shown.
#include <QApplication>
#include <csignal>

#include "app/app_setup.h"
#include "app/form2.h"

int main(int argc, char **argv) {
  // Writing past a file-size limit must fail the write (EFBIG, reported in
  // the status line like a full disk) instead of ending the program.
  std::signal(SIGXFSZ, SIG_IGN);
  KeepNoSettingsBetweenRuns();
  QApplication app(argc, argv);
  InstallFontSubstitutes();
  InstallChineseTranslation(app);
  Form2 form;
  form.Form_Load();
  form.show();
  return app.exec();
}
