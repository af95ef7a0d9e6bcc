#pragma once
// Process-wide set-up shared by the program and the tests: the Song-style
// Chinese font asked for by name, and Qt's own Chinese translation.
class QApplication;

// Maps "宋体"/SimSun onto an installed Song/Ming face so the window's texts
// render as real glyphs on machines without SimSun.
void InstallFontSubstitutes();

// Loads Qt's Simplified Chinese translation so standard dialogs speak Chinese.
void InstallChineseTranslation(QApplication &app);
