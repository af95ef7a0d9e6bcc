#pragma once
// Process-wide set-up shared by the program and the tests: the Song-style
// Chinese font asked for by name, Qt's own Chinese translation, and no
// settings kept between runs.
class QApplication;

// Maps "宋体"/SimSun onto an installed Song/Ming face so the window's texts
// render as real glyphs on machines without SimSun.
void InstallFontSubstitutes();

// Loads Qt's Simplified Chinese translation so standard dialogs speak Chinese.
void InstallChineseTranslation(QApplication &app);

// Points the settings Qt's own components keep (the file dialog's history,
// folder and view) at a folder that can never exist, so the program neither
// reads nor leaves a settings file: it stores nothing between runs.
void KeepNoSettingsBetweenRuns();
