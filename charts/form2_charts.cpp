// The main trend chart, the two ruler strips and the pointer read-out.
#include "app/form2.h"

void Form2::ResetMainChart() {}
void Form2::DrawMainChart(float, float, float, float) {}
void Form2::ResetTimeRuler() {}
void Form2::DrawTimeRuler(float, float) {}
void Form2::ResetLevelRuler() {}
void Form2::DrawLevelRuler(float, float) {}
void Form2::Picture1_MouseMove(int, int, float, float) {}
void Form2::Picture3_MouseDown(int, int, float, float) {}
void Form2::Picture3_MouseMove(int, int, float, float) {}
void Form2::Picture3_MouseUp(int, int, float, float) {}
void Form2::Picture4_MouseDown(int, int, float, float) {}
void Form2::Picture4_MouseMove(int, int, float, float) {}
void Form2::Picture4_MouseUp(int, int, float, float) {}
void Form2::Text5_KeyDown(int, int) {}
void Form2::Text6_KeyDown(int, int) {}
void Form2::Text7_KeyDown(int, int) {}
void Form2::Text8_KeyDown(int, int) {}
