#include "assessment/window/fill_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

#include "archive/archive.h"
#include "assessment/window/asset_format.h"
#include "assessment/window/fill_plan_model.h"

namespace {

QString DownloadText(const EntrySummary &e) {
  QString count = QStringLiteral("%1组").arg(e.count);
  if (!e.complete)
    count = e.groupsAnnounced == kGroupsAnnouncedUnknown
                ? QStringLiteral("%1组(不完整)").arg(e.count)
                : QStringLiteral("%1/%2组(不完整)").arg(e.count).arg(e.groupsAnnounced);
  QString text =
      QStringLiteral("%1  %2  %3")
          .arg(QDateTime::fromMSecsSinceEpoch(e.startedMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
               count, CellText(e.portName));
  if (!e.label.isEmpty()) text += QStringLiteral("  ") + CellText(e.label);
  if (!e.repeatOf.isEmpty()) text += QStringLiteral("  (重复)");
  return text;
}

QString NumberList(QList<int> numbers) {
  std::sort(numbers.begin(), numbers.end());
  QStringList texts;
  for (int n : numbers) texts << QString::number(n);
  return texts.join(QStringLiteral("、"));
}

}  // namespace

FillDialog::FillDialog(Archive &archive, const QString &roundTitle, const QList<ArresterRecord> &order,
                       QWidget *parent)
    : QDialog(parent), archive_(archive), order_(order) {
  setObjectName(QStringLiteral("FillDialog"));
  setWindowTitle(QStringLiteral("从下载填入 - %1").arg(roundTitle));

  DownloadChoice = new QComboBox(this);
  DownloadChoice->setObjectName(QStringLiteral("DownloadChoice"));
  downloads_ = archive_.listDownloads();  // newest first
  for (const EntrySummary &e : downloads_) DownloadChoice->addItem(DownloadText(e));
  FromGroup = new QSpinBox(this);
  FromGroup->setObjectName(QStringLiteral("FromGroup"));
  FromGroup->setMinimum(1);
  FromGroup->setToolTip(QStringLiteral("本次测试从下载的第几组开始(之前的组属于别的测试)"));

  Model = new FillPlanModel(this);
  FillTable = new QTableView(this);
  FillTable->setObjectName(QStringLiteral("FillTable"));
  FillTable->setModel(Model);
  FillTable->setSelectionBehavior(QAbstractItemView::SelectRows);
  FillTable->setSelectionMode(QAbstractItemView::SingleSelection);
  FillTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
  FillTable->verticalHeader()->hide();
  FillTable->horizontalHeader()->setStretchLastSection(true);

  auto button = [this](const char *name, const QString &caption) {
    auto *b = new QPushButton(caption, this);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoDefault(false);
    return b;
  };
  SkipGroupButton = button("SkipGroupButton", QStringLiteral("跳过此组(重测)(&G)"));
  SkipArresterButton = button("SkipArresterButton", QStringLiteral("跳过此避雷器(漏测)(&M)"));
  ResetButton = button("ResetCorrectionsButton", QStringLiteral("撤销调整"));
  Summary = new QLabel(this);
  Summary->setObjectName(QStringLiteral("FillSummary"));
  Summary->setWordWrap(true);
  PartialFill = new QCheckBox(QStringLiteral("组数与避雷器不一致时,仍填入有数值的避雷器(&P)"), this);
  PartialFill->setObjectName(QStringLiteral("PartialFill"));

  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  ConfirmButton = buttons->button(QDialogButtonBox::Ok);
  ConfirmButton->setObjectName(QStringLiteral("FillConfirmButton"));
  ConfirmButton->setText(QStringLiteral("确定"));
  buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto *top = new QHBoxLayout;
  top->addWidget(new QLabel(QStringLiteral("历史数据下载(&D):"), this));
  top->addWidget(DownloadChoice, 1);
  top->addWidget(new QLabel(QStringLiteral("起始组号:"), this));
  top->addWidget(FromGroup);
  auto *corrections = new QHBoxLayout;
  corrections->addWidget(SkipGroupButton);
  corrections->addWidget(SkipArresterButton);
  corrections->addWidget(ResetButton);
  corrections->addStretch(1);
  auto *layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(FillTable, 1);
  layout->addLayout(corrections);
  layout->addWidget(Summary);
  layout->addWidget(PartialFill);
  layout->addWidget(buttons);
  resize(720, 520);

  connect(DownloadChoice, &QComboBox::currentIndexChanged, this, &FillDialog::LoadDownload);
  connect(FromGroup, &QSpinBox::valueChanged, this, [this](int from) {
    corrections_.fromGroup = from;
    Pair();
  });
  connect(SkipGroupButton, &QPushButton::clicked, this, &FillDialog::SkipSelectedGroup);
  connect(SkipArresterButton, &QPushButton::clicked, this, &FillDialog::SkipSelectedArrester);
  connect(ResetButton, &QPushButton::clicked, this, &FillDialog::ResetCorrections);
  connect(PartialFill, &QCheckBox::toggled, this, &FillDialog::UpdateState);
  connect(FillTable->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &FillDialog::UpdateState);
  LoadDownload();
}

const FillPlan &FillDialog::Plan() const { return Model->Plan(); }

QString FillDialog::DownloadUuid() const {
  const int i = DownloadChoice->currentIndex();
  return i >= 0 && i < downloads_.size() ? downloads_.at(i).uuid : QString();
}

void FillDialog::LoadDownload() {
  groups_.clear();
  loadError_.clear();
  const int i = DownloadChoice->currentIndex();
  if (i >= 0 && i < downloads_.size() &&
      !archive_.forEachRow(downloads_.at(i), [this](const ArchivedRow &row) {
        groups_ << row;
        return true;
      })) {
    groups_.clear();
    loadError_ = QStringLiteral("读取下载的数据失败,%1.").arg(archive_.errorText());
  }
  corrections_ = FillCorrections();
  const QSignalBlocker quiet(FromGroup);
  FromGroup->setMaximum(std::max<int>(1, int(groups_.size())));
  FromGroup->setValue(1);
  Pair();
}

int FillDialog::SelectedRow() const {
  const QModelIndexList rows = FillTable->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.constFirst().row();
}

void FillDialog::Pair() {
  const int row = SelectedRow();
  Model->SetPlan(PairGroups(order_, groups_, corrections_), corrections_);
  if (row >= 0 && row < Model->rowCount()) FillTable->selectRow(row);
  FillTable->resizeColumnsToContents();
  UpdateState();
}

void FillDialog::SkipSelectedGroup() {
  const int group = Model->GroupOf(SelectedRow());
  if (group <= 0) return;
  corrections_.skippedGroups.insert(group);
  Pair();
}

void FillDialog::SkipSelectedArrester() {
  const int position = Model->PositionOf(SelectedRow());
  if (position < 0) return;
  if (!corrections_.skippedArresters.remove(position)) corrections_.skippedArresters.insert(position);
  Pair();
}

void FillDialog::ResetCorrections() {
  corrections_.skippedGroups.clear();
  corrections_.skippedArresters.clear();
  Pair();
}

void FillDialog::UpdateState() {
  const FillPlan &plan = Model->Plan();
  const int row = SelectedRow();
  SkipGroupButton->setEnabled(Model->GroupOf(row) > 0);
  SkipArresterButton->setEnabled(Model->PositionOf(row) >= 0);
  SkipArresterButton->setText(Model->PositionOf(row) >= 0 && corrections_.skippedArresters.contains(row)
                                  ? QStringLiteral("取消跳过此避雷器(&M)")
                                  : QStringLiteral("跳过此避雷器(漏测)(&M)"));
  ResetButton->setEnabled(!corrections_.skippedGroups.isEmpty() || !corrections_.skippedArresters.isEmpty());

  int missing = 0;
  for (int i = 0; i < plan.pairs.size(); ++i)
    if (!plan.pairs.at(i).group && !corrections_.skippedArresters.contains(i)) ++missing;
  QStringList lines;
  bool bad = false;
  if (!loadError_.isEmpty()) {
    lines << loadError_;
    bad = true;
  } else if (downloads_.isEmpty()) {
    lines << QStringLiteral("测量记录中没有历史数据下载。请先在主窗口下载仪表中存储的数据。");
    bad = true;
  } else if (order_.isEmpty()) {
    lines << QStringLiteral("该变电站没有在运的避雷器。");
    bad = true;
  } else if (plan.exact()) {
    lines << QStringLiteral("下载共 %1 组,用 %2 组,与测试顺序中的 %3 支避雷器一一对应。")
                 .arg(groups_.size())
                 .arg(plan.groupsUsed)
                 .arg(order_.size() - corrections_.skippedArresters.size());
  } else {
    lines << QStringLiteral(
                 "组数与避雷器不一致: %1 支避雷器没有数值,%2 组多余。"
                 "请跳过重测的组或漏测的避雷器。")
                 .arg(missing)
                 .arg(plan.leftOver.size());
    bad = true;
  }
  if (!corrections_.skippedGroups.isEmpty())
    lines << QStringLiteral("已跳过第 %1 组。").arg(NumberList(corrections_.skippedGroups.values()));
  Summary->setText(lines.join(QLatin1Char(' ')));
  Summary->setStyleSheet(bad ? QStringLiteral("QLabel { color: #c00000; }") : QString());
  ConfirmButton->setEnabled(plan.groupsUsed > 0 && (plan.exact() || PartialFill->isChecked()));
}
