// Table text to GBK bytes, the Chinese reasons of failed writes, and the
// save dialog's reading of the filter text.
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include "support/file_bytes.h"
#include "documents/name_filters.h"
#include "documents/text_export.h"
#include "unprivileged.h"  // support/posix or support/win, by system

class TestTextExport : public QObject {
  Q_OBJECT
 private slots:
  void encodesGbkWithCrLf_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("ascii lines") << QStringLiteral("a\r\nb") << QByteArray("a\r\nb");
    QTest::newRow("bare LF becomes CR LF") << QStringLiteral("a\nb\n") << QByteArray("a\r\nb\r\n");
    QTest::newRow("header words") << QStringLiteral("组 数  数 值")
                                  << QByteArray::fromHex("d7e920cafd2020cafd20d6b5");
    QTest::newRow("code page 936 euro") << QStringLiteral("€") << QByteArray::fromHex("80");
    QTest::newRow("outside GBK") << QStringLiteral("xßy😀z") << QByteArray("x?y?z");
    QTest::newRow("empty") << QString() << QByteArray();
  }
  void encodesGbkWithCrLf() {
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(EncodeTableText(text).toHex(' '), bytes.toHex(' '));
  }

  void failureReasons_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("reason");
    QTest::newRow("folder missing") << QStringLiteral("/nonexistent-folder/t.txt")
                                    << QStringLiteral("文件夹不存在");
#ifndef Q_OS_WIN  // Linux only: /sys refuses new files even to root
    QTest::newRow("protected folder") << QStringLiteral("/sys/t.txt") << QStringLiteral("没有写入权限");
#endif
    QTest::newRow("target is a folder") << QDir::tempPath() << QStringLiteral("已有同名文件夹");
  }
  void failureReasons() {
    QFETCH(QString, path);
    QFETCH(QString, reason);
    QCOMPARE(WriteFileAtomically(path, "x"), reason);
  }

  // A folder closed to new files leaves no room for the temporary file: an
  // existing file there that may be written is replaced in place, while no
  // new file appears and a protected file stays as it was.
  void closedFolderTakesOnlyWritableFiles() {
    QTemporaryDir dir;
    QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFile::ExeOther | QFile::ExeGroup);
    const QString folder = dir.filePath(QStringLiteral("closed"));
    QVERIFY(QDir().mkdir(folder));
    const QString writable = folder + QStringLiteral("/Kestrelomat.txt");
    const QString protectedFile = folder + QStringLiteral("/protected.txt");
    WriteRaw(writable, "an earlier, longer table");
    WriteRaw(protectedFile, "kept");
    const auto all = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                     QFileDevice::WriteGroup | QFileDevice::ReadOther | QFileDevice::WriteOther;
    QVERIFY(QFile::setPermissions(writable, all));
    QVERIFY(QFile::setPermissions(protectedFile,
                                  QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    const auto closed = QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                        QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther;
    QVERIFY(QFile::setPermissions(folder, closed));

    QString replaced, created, refused;
    {
      Unprivileged user;
      if (!user.active()) QSKIP("cannot drop root rights here");
      replaced = WriteFileAtomically(writable, "new table");
      created = WriteFileAtomically(folder + QStringLiteral("/new.txt"), "x");
      refused = WriteFileAtomically(protectedFile, "x");
    }
    QFile::setPermissions(folder, closed | QFileDevice::WriteOwner);
    QCOMPARE(replaced, QString());
    QCOMPARE(ReadAll(writable), QByteArray("new table"));
    QCOMPARE(created, QStringLiteral("没有写入权限"));
    QCOMPARE(refused, QStringLiteral("没有写入权限"));
    QCOMPARE(ReadAll(protectedFile), QByteArray("kept"));
    QCOMPARE(QDir(folder).entryList(QDir::Files),
             (QStringList{QStringLiteral("Kestrelomat.txt"), QStringLiteral("protected.txt")}));
  }

  void createFolder() {
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("k"));
    QCOMPARE(CreateFolder(folder), QString());
    QVERIFY(QFileInfo(folder).isDir());
    QCOMPARE(CreateFolder(folder), QString());  // already there

    const QString file = dir.filePath(QStringLiteral("f"));
    WriteRaw(file, "x");
    QCOMPARE(CreateFolder(file), QStringLiteral("已有同名文件"));
    QCOMPARE(CreateFolder(file + QStringLiteral("/k")), QStringLiteral("路径中有同名文件,不是文件夹"));
    QCOMPARE(ReadAll(file), QByteArray("x"));
  }

  void filterTextToNameFilters_data() {
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("nameFilters");
    QTest::newRow("text") << QStringLiteral("文本格式 (*.txt)|*.txt")
                          << QStringList{QStringLiteral("文本格式 (*.txt) (*.txt)")};
    QTest::newRow("picture, closing bar")
        << QStringLiteral("位图格式 (*.bmp)|*.bmp|jpg格式 (*.jpg)|*jpg|")
        << QStringList{QStringLiteral("位图格式 (*.bmp) (*.bmp)"), QStringLiteral("jpg格式 (*.jpg) (*jpg)")};
    QTest::newRow("several patterns")
        << QStringLiteral("All|*.a;*.b") << QStringList{QStringLiteral("All (*.a *.b)")};
  }
  void filterTextToNameFilters() {
    QFETCH(QString, filter);
    QFETCH(QStringList, nameFilters);
    QCOMPARE(NameFiltersOf(filter), nameFilters);
  }
};

QTEST_GUILESS_MAIN(TestTextExport)
#include "test_text_export.moc"
