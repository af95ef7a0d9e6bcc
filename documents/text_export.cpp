#include "documents/text_export.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringEncoder>
#include <cerrno>

#include "documents/file_error.h"
#include "documents/gbk.h"

namespace {

bool IsWritableFileInClosedFolder(const QString &path) {
  const QFileInfo file(path);
  return file.isFile() && file.isWritable() && !QFileInfo(file.absolutePath()).isWritable();
}

// Windows says "path not found" where a part of the path is a file, not a
// folder; that case gets its own reason, as on Linux.
int MissingOrNotFolder(const QString &path, int err) {
  if (err != ENOENT) return err;
  QString up = QFileInfo(path).absolutePath();
  for (int depth = 0; depth < 256; ++depth) {
    const QFileInfo info(up);
    if (info.exists()) return info.isDir() ? err : ENOTDIR;
    const QString parent = info.absolutePath();
    if (parent == up) break;
    up = parent;
  }
  return err;
}

}  // namespace

QByteArray EncodeTableText(const QString &text) {
  QString crlf = text;
  crlf.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  crlf.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  crlf.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
  crlf.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
  return EncodeGbk(crlf);
}

QByteArray EncodeGbk(const QString &text) {
  QStringEncoder gbk("GBK");
  if (gbk.isValid()) return gbk.encode(text);
  return EncodeGbkBySystem(text);
}

QString FileFailureReason(int errnoValue) {
  switch (errnoValue) {
    case EACCES:
    case EPERM: return QStringLiteral("没有写入权限");
    case EROFS: return QStringLiteral("磁盘只读,不能写入");
    case ENOSPC:
    case EDQUOT: return QStringLiteral("磁盘空间不足");
    case EFBIG: return QStringLiteral("文件超出允许的大小");
    case ENOENT: return QStringLiteral("文件夹不存在");
    case ENOTDIR: return QStringLiteral("路径中有同名文件,不是文件夹");
    case EISDIR: return QStringLiteral("已有同名文件夹");
    case ENAMETOOLONG: return QStringLiteral("文件名太长");
    case EIO: return QStringLiteral("磁盘读写错误");
    case EEXIST: return QStringLiteral("已有同名文件");
    default: return QStringLiteral("写入出错");
  }
}

QString WriteFileAtomically(const QString &path, const QByteArray &bytes) {
  if (QFileInfo(path).isDir()) return FileFailureReason(EISDIR);
  QSaveFile file(path);
  // The temporary file cannot be made in a folder closed to new files; an
  // existing file there that may be written is replaced in place instead.
  // Everywhere else the write stays all or nothing.
  file.setDirectWriteFallback(IsWritableFileInClosedFolder(path));
  ClearFileError();
  if (!file.open(QIODevice::WriteOnly)) return FileFailureReason(LastFileError());
  // A short text stays in the file's write buffer until flushed; a failed
  // flush must stop the save here, since commit() would still put the
  // incomplete file in place of the earlier one.
  if (file.write(bytes) != bytes.size() || !file.flush()) {
    const int err = LastFileError();
    file.cancelWriting();
    return FileFailureReason(err);
  }
  ClearFileError();
  if (!file.commit()) {
    const int err = LastFileError();
    if (file.error() == QFileDevice::RenameError && err == 0) return QStringLiteral("无法替换原文件");
    return FileFailureReason(err);
  }
  return {};
}

QString CreateFolder(const QString &path) {
  const QFileInfo info(path);
  if (info.isDir()) return {};
  if (info.exists()) return FileFailureReason(EEXIST);
  ClearFileError();
  if (QDir().mkdir(path)) return {};
  const int err = LastFileError();
  if (QFileInfo(path).isDir()) return {};  // made meanwhile by someone else
  return FileFailureReason(MissingOrNotFolder(path, err));
}
