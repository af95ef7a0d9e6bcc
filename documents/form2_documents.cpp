// History table commands, saving the table and the chart, printing.
#include "app/form2.h"

void Form2::Command4_Click() {}
void Form2::Command5_Click() {}
void Form2::Command6_Click() {}
void Form2::Command7_Click() {}
void Form2::Command8_Click() {}
void Form2::mnuuppage_Click() {}
void Form2::mnudownpage_Click() {}
void Form2::SaveChartPicture() {}
void Form2::mnuprint_Click() {}
void Form2::mnuprintsetting_Click() {}
