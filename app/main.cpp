// The monitoring program: one window, started and shown.
#include <QApplication>

#include "app/app_setup.h"
#include "app/form2.h"

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  InstallFontSubstitutes();
  InstallChineseTranslation(app);
  Form2 form;
  form.Form_Load();
  form.show();
  return app.exec();
}
