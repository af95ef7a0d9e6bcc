// History table commands, saving the table as text and the chart as a picture.
#include <QBuffer>
#include <QDir>
#include <QFileInfo>

#include "app/controls.h"
#include "app/form2.h"
#include "charts/picture_box.h"
#include "documents/common_dialog.h"
#include "documents/keystrokes.h"
#include "documents/text_export.h"
#include "protocol/history_table.h"

namespace {

// The name offered for a new text file: the program's own name for its data,
// the same as the default folder's, so a first save needs no typing.
const QString kDefaultFileName = QStringLiteral("Kestrelomat");
const QString kTextFilter = QStringLiteral("文本格式 (*.txt)|*.txt");
// The JPEG type's pattern is "*jpg" without the dot, as this dialog has
// always offered it: it matches every name ending in "jpg", ".jpg" among
// them, so no JPEG file is hidden; its description still reads "(*.jpg)".
const QString kPictureFilter = QStringLiteral("位图格式 (*.bmp)|*.bmp|jpg格式 (*.jpg)|*jpg|");

// The fixed folder documents are offered in first: ~/Kestrelomat.
QString DefaultFolder() { return QDir::homePath() + QStringLiteral("/Kestrelomat"); }

bool IsJpegName(const QString &path) {
  const QString name = path.toLower();
  return name.endsWith(QStringLiteral(".jpg")) || name.endsWith(QStringLiteral(".jpeg"));
}

// Creates the default folder when `isMissing` says so. A folder that cannot
// be made is reported; the dialog is still offered so the user can save
// somewhere else.
void EnsureDefaultFolder(StatusLine *status, bool isMissing) {
  if (!isMissing) return;
  const QString reason = CreateFolder(DefaultFolder());
  if (!reason.isEmpty()) status->setText(QStringLiteral("默认文件夹创建失败,") + reason + QLatin1Char('.'));
}

}  // namespace

void Form2::Command4_Click() { StartHistoryRead(); }

void Form2::Command6_Click() { RichTextBox1->setText(HistoryTableHeading()); }

// Paging is the table's own Page Up / Page Down key handling, so view and
// caret move by one visible page and stop at either end.
void Form2::Command7_Click() {
  RichTextBox1->setFocus();
  PostKeyStroke(RichTextBox1, Qt::Key_PageUp);
}

void Form2::Command8_Click() {
  RichTextBox1->setFocus();
  PostKeyStroke(RichTextBox1, Qt::Key_PageDown);
}

void Form2::mnuuppage_Click() { Command7_Click(); }
void Form2::mnudownpage_Click() { Command8_Click(); }

void Form2::Command5_Click() {
  CommonDialog1->FileName = kDefaultFileName;
  CommonDialog1->Filter = kTextFilter;
  CommonDialog1->DefaultExt = QStringLiteral(".txt");
  CommonDialog1->InitDir = DefaultFolder();
  EnsureDefaultFolder(Label6, !QFileInfo(DefaultFolder()).isDir());
  CommonDialog1->CancelError = true;
  if (CommonDialog1->ShowSave() != CommonDialog::Accepted) return;

  const QString reason = WriteFileAtomically(CommonDialog1->FileName, EncodeTableText(RichTextBox1->Text()));
  if (!reason.isEmpty()) Label6->setText(QStringLiteral("文件保存失败,") + reason + QLatin1Char('.'));
}

void Form2::SaveChartPicture() {
  CommonDialog1->FileName = kDefaultFileName;
  CommonDialog1->Filter = kPictureFilter;
  // The extension follows the type chosen at the previous use of the dialog.
  CommonDialog1->DefaultExt =
      CommonDialog1->FilterIndex == 1 ? QStringLiteral(".bmp") : QStringLiteral(".jpg");
  CommonDialog1->InitDir = DefaultFolder();
  // A file of that name counts as present: no folder is made over it.
  EnsureDefaultFolder(Label6, !QFileInfo::exists(DefaultFolder()));
  CommonDialog1->CancelError = true;
  if (CommonDialog1->ShowSave() != CommonDialog::Accepted) return;

  const QString path = CommonDialog1->FileName;
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  const QImage picture = Picture1->Image().convertToFormat(QImage::Format_RGB32);
  if (!picture.save(&buffer, IsJpegName(path) ? "JPG" : "BMP")) {
    Label6->setText(QStringLiteral("图片保存失败,图片编码出错."));
    return;
  }
  const QString reason = WriteFileAtomically(path, bytes);
  if (!reason.isEmpty()) Label6->setText(QStringLiteral("图片保存失败,") + reason + QLatin1Char('.'));
}
