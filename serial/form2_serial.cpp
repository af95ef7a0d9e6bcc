// Opening the serial port, reporting the outcome, retrying, the link indicator.
#include "app/form2.h"

void Form2::OpenSerialPort() {}
void Form2::Timer1_Timer() {}
void Form2::Timer5_Timer() {}
void Form2::mnucomsetting_Click() {}
