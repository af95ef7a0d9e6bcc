#include "assessment/window/register_page.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QTableView>
#include <QVBoxLayout>

#include "archive/archive.h"
#include "assessment/register_csv.h"
#include "assessment/test_order.h"
#include "assessment/window/arrester_form.h"
#include "assessment/window/asset_format.h"
#include "assessment/window/import_preview_dialog.h"
#include "assessment/window/register_model.h"
#include "assessment/window/test_order_dialog.h"
#include "documents/file_dialogs.h"

namespace {
const QString kCsvFilter = QStringLiteral("CSV文件 (*.csv);;所有文件 (*)");
}  // namespace

RegisterPage::RegisterPage(Archive &archive, QWidget *parent)
    : QWidget(parent), archive_(archive), store_(archive) {
  setObjectName(QStringLiteral("RegisterPage"));
  StationFilter = new QComboBox(this);
  StationFilter->setObjectName(QStringLiteral("StationFilter"));
  StationFilter->setSizeAdjustPolicy(QComboBox::AdjustToContents);

  Model = new RegisterModel(this);
  RegisterTable = new QTableView(this);
  RegisterTable->setObjectName(QStringLiteral("RegisterTable"));
  RegisterTable->setModel(Model);
  RegisterTable->setSelectionBehavior(QAbstractItemView::SelectRows);
  RegisterTable->setSelectionMode(QAbstractItemView::SingleSelection);
  RegisterTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
  RegisterTable->verticalHeader()->hide();
  RegisterTable->horizontalHeader()->setStretchLastSection(true);

  auto button = [this](const char *name, const QString &caption) {
    auto *b = new QPushButton(caption, this);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoDefault(false);
    return b;
  };
  AddButton = button("AddArresterButton", QStringLiteral("新增(&N)..."));
  EditButton = button("EditArresterButton", QStringLiteral("编辑(&E)..."));
  RetireButton = button("RetireArresterButton", QStringLiteral("退役"));
  ImportButton = button("ImportRegisterButton", QStringLiteral("导入(&I)..."));
  ExportButton = button("ExportRegisterButton", QStringLiteral("导出(&X)..."));
  TestOrderButton = button("TestOrderButton", QStringLiteral("测试顺序(&O)..."));

  auto *top = new QHBoxLayout;
  top->addWidget(StationFilter);
  top->addStretch(1);
  auto *buttons = new QHBoxLayout;
  for (QPushButton *b : {AddButton, EditButton, RetireButton, ImportButton, ExportButton, TestOrderButton})
    buttons->addWidget(b);
  buttons->addStretch(1);
  auto *layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(RegisterTable, 1);
  layout->addLayout(buttons);

  connect(StationFilter, &QComboBox::activated, this, &RegisterPage::Reload);
  connect(AddButton, &QPushButton::clicked, this, &RegisterPage::AddArrester);
  connect(EditButton, &QPushButton::clicked, this, &RegisterPage::EditArrester);
  connect(RetireButton, &QPushButton::clicked, this, &RegisterPage::RetireArrester);
  connect(ImportButton, &QPushButton::clicked, this, &RegisterPage::Import);
  connect(ExportButton, &QPushButton::clicked, this, &RegisterPage::Export);
  connect(TestOrderButton, &QPushButton::clicked, this, &RegisterPage::ShowTestOrder);
  connect(RegisterTable, &QTableView::doubleClicked, this, &RegisterPage::EditArrester);
  connect(RegisterTable->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &RegisterPage::UpdateButtons);
  connect(Model, &QAbstractItemModel::modelReset, this, &RegisterPage::UpdateButtons);
  UpdateButtons();
}

QString RegisterPage::FilterStation() const { return StationFilter->currentData().toString(); }

void RegisterPage::Reload() {
  const int row = SelectedRow();
  const QString selected = row >= 0 ? Model->Arrester(row).uuid : QString();
  QString station = FilterStation();
  std::optional<QList<ArresterRecord>> all;
  if (archive_.isOpen()) {
    all = store_.arresters();
    if (!all) emit status(QStringLiteral("读取避雷器台账失败,%1.").arg(store_.errorText()));
  }
  const QList<ArresterRecord> arresters = all.value_or(QList<ArresterRecord>());

  // The filter lists every station of the register; a station gone from it
  // falls back to all.
  QStringList stations;
  for (const ArresterRecord &a : arresters)
    if (!stations.contains(a.station)) stations << a.station;
  stations.sort();
  if (!stations.contains(station)) station.clear();
  StationFilter->clear();
  StationFilter->addItem(QStringLiteral("全部变电站"), QString());
  for (const QString &s : stations) StationFilter->addItem(CellText(s), s);
  StationFilter->setCurrentIndex(std::max(0, StationFilter->findData(station)));

  QList<ArresterRecord> shown;
  for (const ArresterRecord &a : arresters)
    if (station.isEmpty() || a.station == station) shown << a;
  Model->SetArresters(shown);
  RegisterTable->resizeColumnsToContents();
  SelectUuid(selected);
}

int RegisterPage::SelectedRow() const {
  const QModelIndexList rows = RegisterTable->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.constFirst().row();
}

void RegisterPage::SelectUuid(const QString &uuid) {
  const int row = uuid.isEmpty() ? -1 : Model->RowOf(uuid);
  if (row < 0) return;
  RegisterTable->selectRow(row);
  RegisterTable->scrollTo(Model->index(row, 0));
}

void RegisterPage::UpdateButtons() {
  const int row = SelectedRow();
  const bool open = archive_.isOpen();
  for (QPushButton *b : {AddButton, ImportButton, ExportButton, TestOrderButton}) b->setEnabled(open);
  EditButton->setEnabled(open && row >= 0);
  RetireButton->setEnabled(open && row >= 0);
  RetireButton->setText(row >= 0 && Model->Arrester(row).retired ? QStringLiteral("恢复在运")
                                                                 : QStringLiteral("退役"));
}

bool RegisterPage::Save(ArresterRecord arrester, const QString &done) {
  if (!store_.saveArrester(arrester)) {
    emit status(QStringLiteral("保存避雷器失败,%1.").arg(store_.errorText()));
    return false;
  }
  emit status(done);
  Reload();
  SelectUuid(arrester.uuid);
  emit edited();
  return true;
}

void RegisterPage::AddArrester() {
  ArresterRecord fresh;
  const int row = SelectedRow();
  // A new arrester most often joins the station and bay just looked at.
  if (row >= 0) {
    fresh.station = Model->Arrester(row).station;
    fresh.voltageLevel = Model->Arrester(row).voltageLevel;
  } else {
    fresh.station = FilterStation();
  }
  ArresterForm form(fresh, store_.arresters().value_or(QList<ArresterRecord>()), this);
  if (form.exec() != QDialog::Accepted) return;
  Save(form.Record(), QStringLiteral("已新增避雷器"));
}

void RegisterPage::EditArrester() {
  const int row = SelectedRow();
  if (row < 0) return;
  ArresterForm form(Model->Arrester(row), store_.arresters().value_or(QList<ArresterRecord>()), this);
  if (form.exec() != QDialog::Accepted) return;
  Save(form.Record(), QStringLiteral("已保存避雷器"));
}

void RegisterPage::RetireArrester() {
  const int row = SelectedRow();
  if (row < 0) return;
  ArresterRecord a = Model->Arrester(row);
  const QString name = QStringLiteral("%1 %2 %3 %4相").arg(a.station, a.voltageLevel, a.bay, a.phase);
  if (!a.retired && QMessageBox::question(
                        this, QStringLiteral("退役"),
                        QStringLiteral("将 %1 标为退役?\n退役的避雷器不再列入测试顺序,以往的测量结果保留。")
                            .arg(CellText(name))) != QMessageBox::Yes)
    return;
  a.retired = !a.retired;
  a.modifiedMs = 0;
  Save(a, a.retired ? QStringLiteral("已退役: %1").arg(CellText(name))
                    : QStringLiteral("已恢复在运: %1").arg(CellText(name)));
}

void RegisterPage::Import() {
  QFileDialog dialog(this, QStringLiteral("导入避雷器台账"), QDir::homePath(), kCsvFilter);
  dialog.setObjectName(QStringLiteral("ImportFileDialog"));
  ChooseFileDialogKind(dialog);
  dialog.setFileMode(QFileDialog::ExistingFile);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  ImportFile(dialog.selectedFiles().constFirst());
}

bool RegisterPage::ImportFile(const QString &path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    emit status(QStringLiteral("无法读取%1,%2.").arg(QDir::toNativeSeparators(path), file.errorString()));
    return false;
  }
  const ParsedRegister parsed = ParseRegisterCsv(file.readAll());
  const std::optional<QList<ArresterRecord>> stored = store_.arresters();
  if (!stored) {
    emit status(QStringLiteral("读取避雷器台账失败,%1.").arg(store_.errorText()));
    return false;
  }
  // The plan merges each row into the stored arrester, so a column the file
  // lacks keeps its stored value instead of being emptied.
  const QList<ImportAction> plan = PlanImport(parsed, *stored);
  ImportPreviewDialog preview(QFileInfo(path).fileName(), parsed, plan, this);
  if (preview.exec() != QDialog::Accepted || !parsed.problems.isEmpty() || parsed.rows.isEmpty()) {
    emit status(QStringLiteral("未导入任何避雷器"));
    return false;
  }
  ImportCounts counts;
  if (!store_.importArresters(ImportRows(plan), &counts)) {
    emit status(QStringLiteral("导入失败,未导入任何避雷器: %1.").arg(store_.errorText()));
    return false;
  }
  emit status(QStringLiteral("已导入%1: 新增 %2,更新 %3,不变 %4")
                  .arg(QDir::toNativeSeparators(path))
                  .arg(counts.added)
                  .arg(counts.updated)
                  .arg(counts.unchanged));
  Reload();
  emit edited();
  return counts.added + counts.updated > 0;
}

void RegisterPage::Export() {
  const QString station = FilterStation();
  const QString name =
      (station.isEmpty() ? QStringLiteral("避雷器台账") : station + QStringLiteral("避雷器台账")) +
      QStringLiteral(".csv");
  QFileDialog dialog(this, QStringLiteral("导出避雷器台账"), QDir::home().filePath(name), kCsvFilter);
  dialog.setObjectName(QStringLiteral("ExportFileDialog"));
  ChooseFileDialogKind(dialog);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(QStringLiteral("csv"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  ExportFile(dialog.selectedFiles().constFirst());
}

bool RegisterPage::ExportFile(const QString &path) {
  const std::optional<QList<ArresterRecord>> arresters = store_.arresters(FilterStation());
  if (!arresters) {
    emit status(QStringLiteral("读取避雷器台账失败,%1.").arg(store_.errorText()));
    return false;
  }
  // Written whole or not at all: a failed export leaves an earlier file as it was.
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(RegisterCsv(*arresters)) < 0 || !file.commit()) {
    emit status(QStringLiteral("导出失败,%1.").arg(file.errorString()));
    return false;
  }
  emit status(
      QStringLiteral("已导出%1支避雷器到%2").arg(arresters->size()).arg(QDir::toNativeSeparators(path)));
  return true;
}

void RegisterPage::ShowTestOrder() {
  QString station = FilterStation();
  if (station.isEmpty()) {
    const int row = SelectedRow();
    if (row >= 0) station = Model->Arrester(row).station;
  }
  if (station.isEmpty() && StationFilter->count() == 2) station = StationFilter->itemData(1).toString();
  if (station.isEmpty()) {
    emit status(QStringLiteral("请先在上方选择变电站"));
    return;
  }
  const std::optional<QList<ArresterRecord>> arresters = store_.arresters(station);
  if (!arresters) {
    emit status(QStringLiteral("读取避雷器台账失败,%1.").arg(store_.errorText()));
    return;
  }
  TestOrderDialog dialog(station, TestOrder(*arresters, station), this);
  dialog.exec();
}
