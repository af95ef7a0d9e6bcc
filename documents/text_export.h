#pragma once
// Writing documents to disk: the data table as GBK text with CR LF line
// breaks, and files written whole or not at all. Failures come back as a
// short Chinese reason for the status line.
#include <QByteArray>
#include <QString>

// The table text as code page 936 (GBK) bytes, every line break written as
// CR LF. Characters GBK cannot hold become "?".
QByteArray EncodeTableText(const QString &text);
// Any text as GBK bytes, its line breaks left as they are.
QByteArray EncodeGbk(const QString &text);

// Writes `bytes` to `path` through a temporary file that replaces the old
// file only once everything is written, so a failure leaves an earlier file
// as it was. Only an existing, writable file in a folder where no new file
// may be made is written in place. Returns an empty string on success, else
// the reason.
QString WriteFileAtomically(const QString &path, const QByteArray &bytes);

// Creates the folder `path` (its parent must exist). Returns an empty string
// when the folder exists afterwards, else the reason.
QString CreateFolder(const QString &path);

// Chinese reason for a failed file operation by its errno value.
QString FileFailureReason(int errnoValue);
