#include "serial/form1.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>

#include "app/form2.h"

Form1::Form1(Form2 &main) : QWidget(nullptr), main_(main) {
  setObjectName(QStringLiteral("Form1"));
  Frame1 = new QGroupBox(this);
  Combo1 = new QComboBox(Frame1);
  Combo1->setObjectName(QStringLiteral("Combo1"));
  for (int i = 1; i <= 16; ++i) Combo1->addItem(QStringLiteral("COM%1").arg(i));
}

void Form1::Form_Load() { Combo1->setCurrentText(main_.PortName); }
void Form1::Combo1_Click() {}
void Form1::Combo2_Click() {}
void Form1::Combo3_Click() {}
void Form1::Combo4_Click() {}
void Form1::Combo5_Click() {}
void Form1::ApplySerialSettings() {}
