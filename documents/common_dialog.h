#pragma once
// CommonDialog1: one file-save and print dialog object whose properties stay
// set from one use to the next.
#include <QObject>
#include <QString>

class CommonDialog : public QObject {
  Q_OBJECT
  Q_PROPERTY(QString FileName MEMBER FileName)
  Q_PROPERTY(QString Filter MEMBER Filter)
  Q_PROPERTY(int FilterIndex MEMBER FilterIndex)
  Q_PROPERTY(QString DefaultExt MEMBER DefaultExt)
  Q_PROPERTY(QString InitDir MEMBER InitDir)
  Q_PROPERTY(bool CancelError MEMBER CancelError)
  Q_PROPERTY(int Flags MEMBER Flags)
 public:
  explicit CommonDialog(QObject *parent = nullptr) : QObject(parent) {}

  // Outcome codes of the Show* operations.
  enum Outcome { Accepted = 0, Cancelled = 32755 };

  QString FileName = QStringLiteral("c:\\qirn.txt");
  QString Filter = QStringLiteral("*.txt");
  int FilterIndex = 1;
  QString DefaultExt = QStringLiteral(".txt");
  QString InitDir;
  bool CancelError = false;
  int Flags = 0;
};
