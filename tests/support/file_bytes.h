#pragma once
// Whole-file reads and writes for the document tests.
#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTest>

// The file's bytes, or "<missing>" when it cannot be read.
inline QByteArray ReadAll(const QString &path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

inline void WriteRaw(const QString &path, const QByteArray &bytes) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}
