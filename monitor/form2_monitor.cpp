// Operating modes, run control, the statistics tick and the alarm.
#include "app/form2.h"

void Form2::Option1_Click() {}
void Form2::Option2_Click() {}
void Form2::Command1_Click() {}
void Form2::Command2_Click() {}
void Form2::Command3_Click() {}
void Form2::Timer6_Timer() {}
void Form2::Timer7_Timer() {}
void Form2::Text1_KeyDown(int, int) {}
void Form2::InitAlarmValue() {}
