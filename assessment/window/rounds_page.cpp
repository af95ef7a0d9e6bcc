#include "assessment/window/rounds_page.h"

#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>

#include "archive/archive.h"
#include "assessment/round_fill.h"
#include "assessment/test_order.h"
#include "assessment/window/asset_format.h"
#include "assessment/window/fill_dialog.h"
#include "assessment/window/recording_value_dialog.h"
#include "assessment/window/round_form.h"
#include "assessment/window/round_results_model.h"
#include "assessment/window/rounds_model.h"
#include "assessment/window/typed_value_dialog.h"

namespace {

QTableView *Table(QWidget *parent, const char *name, QAbstractItemModel *model) {
  auto *t = new QTableView(parent);
  t->setObjectName(QString::fromLatin1(name));
  t->setModel(model);
  t->setSelectionBehavior(QAbstractItemView::SelectRows);
  t->setSelectionMode(QAbstractItemView::SingleSelection);
  t->setEditTriggers(QAbstractItemView::NoEditTriggers);
  t->verticalHeader()->hide();
  t->horizontalHeader()->setStretchLastSection(true);
  return t;
}

QString RoundTitle(const RoundRecord &r) {
  return QStringLiteral("%1 %2").arg(CellText(r.station), DateText(r.date));
}

}  // namespace

RoundsPage::RoundsPage(Archive &archive, QWidget *parent)
    : QWidget(parent), archive_(archive), store_(archive) {
  setObjectName(QStringLiteral("RoundsPage"));
  Rounds = new RoundsModel(this);
  Results = new RoundResultsModel(this);
  RoundsTable = Table(this, "RoundsTable", Rounds);
  ResultsTable = Table(this, "RoundResultsTable", Results);

  auto button = [this](const char *name, const QString &caption) {
    auto *b = new QPushButton(caption, this);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoDefault(false);
    return b;
  };
  NewRoundButton = button("NewRoundButton", QStringLiteral("新建(&N)..."));
  EditRoundButton = button("EditRoundButton", QStringLiteral("编辑(&E)..."));
  FillButton = button("FillFromDownloadButton", QStringLiteral("从下载填入(&D)..."));
  FromRecordingButton = button("ValueFromRecordingButton", QStringLiteral("从记录取值(&R)..."));
  TypeValueButton = button("TypeValueButton", QStringLiteral("输入数值(&V)..."));
  ClearResultButton = button("ClearResultButton", QStringLiteral("清除数值"));

  auto *roundButtons = new QHBoxLayout;
  for (QPushButton *b : {NewRoundButton, EditRoundButton, FillButton}) roundButtons->addWidget(b);
  roundButtons->addStretch(1);
  auto *resultButtons = new QHBoxLayout;
  for (QPushButton *b : {FromRecordingButton, TypeValueButton, ClearResultButton})
    resultButtons->addWidget(b);
  resultButtons->addStretch(1);

  auto *upper = new QWidget(this);
  auto *upperLayout = new QVBoxLayout(upper);
  upperLayout->setContentsMargins(0, 0, 0, 0);
  upperLayout->addWidget(RoundsTable, 1);
  upperLayout->addLayout(roundButtons);
  auto *lower = new QWidget(this);
  auto *lowerLayout = new QVBoxLayout(lower);
  lowerLayout->setContentsMargins(0, 0, 0, 0);
  lowerLayout->addWidget(new QLabel(QStringLiteral("所选测试的避雷器(按测试顺序):"), lower));
  lowerLayout->addWidget(ResultsTable, 1);
  lowerLayout->addLayout(resultButtons);
  auto *splitter = new QSplitter(Qt::Vertical, this);
  splitter->addWidget(upper);
  splitter->addWidget(lower);
  splitter->setStretchFactor(1, 2);
  auto *layout = new QVBoxLayout(this);
  layout->addWidget(splitter);

  connect(NewRoundButton, &QPushButton::clicked, this, &RoundsPage::NewRound);
  connect(EditRoundButton, &QPushButton::clicked, this, &RoundsPage::EditRound);
  connect(FillButton, &QPushButton::clicked, this, &RoundsPage::FillFromDownload);
  connect(FromRecordingButton, &QPushButton::clicked, this, &RoundsPage::ValueFromRecording);
  connect(TypeValueButton, &QPushButton::clicked, this, &RoundsPage::TypeValue);
  connect(ClearResultButton, &QPushButton::clicked, this, &RoundsPage::ClearResult);
  connect(RoundsTable, &QTableView::doubleClicked, this, &RoundsPage::EditRound);
  connect(ResultsTable, &QTableView::doubleClicked, this, &RoundsPage::TypeValue);
  connect(RoundsTable->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &RoundsPage::ShowRound);
  connect(ResultsTable->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &RoundsPage::UpdateButtons);
  UpdateButtons();
}

std::optional<RoundRecord> RoundsPage::SelectedRound() const {
  const QModelIndexList rows = RoundsTable->selectionModel()->selectedRows();
  if (rows.isEmpty()) return std::nullopt;
  return Rounds->Round(rows.constFirst().row());
}

void RoundsPage::SelectRound(const QString &uuid) {
  const int row = Rounds->RowOf(uuid);
  if (row < 0) return;
  RoundsTable->selectRow(row);
  RoundsTable->scrollTo(Rounds->index(row, 0));
}

int RoundsPage::SelectedResultRow() const {
  const QModelIndexList rows = ResultsTable->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.constFirst().row();
}

void RoundsPage::Reload() {
  const std::optional<RoundRecord> selected = SelectedRound();
  QList<RoundRecord> rounds;
  QHash<QString, int> counts;
  if (archive_.isOpen()) {
    const std::optional<QList<RoundRecord>> stored = store_.rounds();
    const std::optional<QList<ResultRecord>> results = stored ? store_.allResults() : std::nullopt;
    if (!stored || !results) {
      emit status(QStringLiteral("读取测试记录失败,%1.").arg(store_.errorText()));
    } else {
      rounds = *stored;
      for (const ResultRecord &r : *results) ++counts[r.roundUuid];
    }
  }
  Rounds->SetRounds(rounds, counts);
  RoundsTable->resizeColumnsToContents();
  if (selected)
    SelectRound(selected->uuid);
  else if (!rounds.isEmpty())
    RoundsTable->selectRow(0);
  ShowRound();
}

QList<ArresterRecord> RoundsPage::OrderOf(const QString &station, QList<ArresterRecord> *all) {
  const std::optional<QList<ArresterRecord>> arresters = store_.arresters();
  if (!arresters) emit status(QStringLiteral("读取避雷器台账失败,%1.").arg(store_.errorText()));
  if (all) *all = arresters.value_or(QList<ArresterRecord>());
  return TestOrder(arresters.value_or(QList<ArresterRecord>()), station);
}

void RoundsPage::ShowRound() {
  const int resultRow = SelectedResultRow();
  const QString arrester = resultRow >= 0 ? Results->At(resultRow).arrester.uuid : QString();
  const std::optional<RoundRecord> round = SelectedRound();
  if (!round || !archive_.isOpen()) {
    Results->SetRound({}, {}, {});
  } else {
    QList<ArresterRecord> all;
    const QList<ArresterRecord> order = OrderOf(round->station, &all);
    const std::optional<QList<ResultRecord>> results = store_.results(round->uuid);
    if (!results) emit status(QStringLiteral("读取测量结果失败,%1.").arg(store_.errorText()));
    Results->SetRound(order, all, results.value_or(QList<ResultRecord>()));
    ResultsTable->resizeColumnsToContents();
    const int row = Results->RowOf(arrester);
    if (row >= 0) ResultsTable->selectRow(row);
  }
  UpdateButtons();
}

void RoundsPage::UpdateButtons() {
  const bool open = archive_.isOpen();
  const bool round = SelectedRound().has_value();
  const int row = SelectedResultRow();
  NewRoundButton->setEnabled(open);
  EditRoundButton->setEnabled(open && round);
  FillButton->setEnabled(open && round);
  FromRecordingButton->setEnabled(open && round && row >= 0);
  TypeValueButton->setEnabled(open && round && row >= 0);
  ClearResultButton->setEnabled(open && round && row >= 0 && Results->At(row).result.has_value());
}

QStringList RoundsPage::Stations() {
  QStringList stations;
  for (const ArresterRecord &a : store_.arresters().value_or(QList<ArresterRecord>()))
    if (!stations.contains(a.station)) stations << a.station;
  stations.sort();
  return stations;
}

bool RoundsPage::SaveRound(RoundRecord round, const QString &done) {
  if (!store_.saveRound(round)) {
    emit status(QStringLiteral("保存测试失败,%1.").arg(store_.errorText()));
    return false;
  }
  emit status(done);
  Reload();
  SelectRound(round.uuid);
  emit edited();
  return true;
}

void RoundsPage::NewRound() {
  RoundRecord fresh;
  fresh.date = QDate::currentDate();
  // The next round is most often made by the same people with the same meter.
  if (const std::optional<RoundRecord> last = SelectedRound()) {
    fresh.station = last->station;
    fresh.tester = last->tester;
    fresh.instrument = last->instrument;
  }
  RoundForm form(fresh, Stations(), this);
  if (form.exec() != QDialog::Accepted) return;
  SaveRound(form.Record(), QStringLiteral("已新建测试"));
}

void RoundsPage::EditRound() {
  const std::optional<RoundRecord> round = SelectedRound();
  if (!round) return;
  RoundForm form(*round, Stations(), this);
  if (form.exec() != QDialog::Accepted) return;
  SaveRound(form.Record(), QStringLiteral("已保存测试"));
}

void RoundsPage::FillFromDownload() {
  const std::optional<RoundRecord> round = SelectedRound();
  if (!round) return;
  const QList<ArresterRecord> order = OrderOf(round->station);
  if (order.isEmpty()) {
    emit status(QStringLiteral("%1 没有在运的避雷器,请先在台账中录入或导入.").arg(CellText(round->station)));
    return;
  }
  FillDialog dialog(archive_, RoundTitle(*round), order, this);
  if (dialog.exec() != QDialog::Accepted) return;
  QList<ResultRecord> results = ResultsFromPlan(dialog.Plan(), round->uuid, dialog.DownloadUuid());
  if (results.isEmpty()) return;
  if (!store_.saveResults(results)) {
    emit status(QStringLiteral("保存测量结果失败,未保存任何结果: %1.").arg(store_.errorText()));
    return;
  }
  emit status(QStringLiteral("已从下载填入 %1 支避雷器的数值").arg(results.size()));
  Reload();
  emit edited();
}

QString RoundsPage::SelectedArresterTitle() const {
  const int row = SelectedResultRow();
  if (row < 0) return QString();
  const ArresterRecord &a = Results->At(row).arrester;
  return CellText(QStringLiteral("%1 %2 %3相").arg(a.voltageLevel, a.bay, a.phase));
}

bool RoundsPage::StoreResult(ResultRecord result, const QString &done) {
  const std::optional<RoundRecord> round = SelectedRound();
  const int row = SelectedResultRow();
  if (!round || row < 0) return false;
  result.roundUuid = round->uuid;
  result.arresterUuid = Results->At(row).arrester.uuid;
  result.modifiedMs = 0;
  if (!store_.saveResult(result)) {
    emit status(QStringLiteral("保存测量结果失败,%1.").arg(store_.errorText()));
    return false;
  }
  emit status(done);
  Reload();
  emit edited();
  return true;
}

void RoundsPage::ValueFromRecording() {
  if (SelectedResultRow() < 0) return;
  RecordingValueDialog dialog(archive_, SelectedArresterTitle(), this);
  if (dialog.exec() != QDialog::Accepted) return;
  if (const std::optional<ResultRecord> r = dialog.Result())
    StoreResult(*r, QStringLiteral("已从记录取值: %1").arg(SelectedArresterTitle()));
}

void RoundsPage::TypeValue() {
  const int row = SelectedResultRow();
  if (row < 0 || !SelectedRound()) return;
  TypedValueDialog dialog(SelectedArresterTitle(), Results->At(row).result, this);
  if (dialog.exec() != QDialog::Accepted) return;
  StoreResult(dialog.Result(), QStringLiteral("已输入数值: %1").arg(SelectedArresterTitle()));
}

void RoundsPage::ClearResult() {
  const std::optional<RoundRecord> round = SelectedRound();
  const int row = SelectedResultRow();
  if (!round || row < 0 || !Results->At(row).result) return;
  const QString title = SelectedArresterTitle();
  if (!store_.removeResult(round->uuid, Results->At(row).arrester.uuid)) {
    emit status(QStringLiteral("清除数值失败,%1.").arg(store_.errorText()));
    return;
  }
  emit status(QStringLiteral("已清除数值: %1").arg(title));
  Reload();
  emit edited();
}
