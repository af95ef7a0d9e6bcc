#pragma once
// Form1: the communication settings dialog. Every pick in one of its five lists
// is handed at once to the main window, which applies it to its serial control.
#include <QWidget>

#include "serial/serial_choice.h"

class Form2;
class QComboBox;
class QGroupBox;
class QLabel;

class Form1 : public QWidget {
  Q_OBJECT
 public:
  explicit Form1(Form2 &main);

  QGroupBox *Frame1 = nullptr;
  QLabel *Label1 = nullptr, *Label2 = nullptr, *Label3 = nullptr, *Label4 = nullptr, *Label5 = nullptr;
  QComboBox *Combo1 = nullptr, *Combo2 = nullptr, *Combo3 = nullptr, *Combo4 = nullptr, *Combo5 = nullptr;

 public slots:
  void Form_Load();
  void Combo1_Click();
  void Combo2_Click();
  void Combo3_Click();
  void Combo4_Click();
  void Combo5_Click();
  void ApplySerialSettings();

 protected:
  void showEvent(QShowEvent *e) override;
  void keyPressEvent(QKeyEvent *e) override;

 private:
  void SelectCurrentSettings();
  void Choose(QString SerialChoice::*setting, QComboBox *list, SerialChoice::Pick pick);
  void RefreshPortTooltips();
  Form2 &main_;
  bool placed_ = false;  // placed over the main window at its first showing
};
