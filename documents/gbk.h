#pragma once
// Code page 936 (GBK) through the system's own converter, for a Qt built
// without ICU: glibc's iconv on Linux, the code page functions on Windows.
// One file per system (gbk_posix.cpp, gbk_win.cpp), chosen by CMake.
#include <QByteArray>
#include <QString>

// `text` as GBK bytes; a character GBK cannot hold becomes one "?".
QByteArray EncodeGbkBySystem(const QString &text);
// GBK bytes as text; a byte that is no GBK becomes U+FFFD.
QString DecodeGbkBySystem(const QByteArray &bytes);
