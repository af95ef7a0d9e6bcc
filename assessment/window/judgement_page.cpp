#include "assessment/window/judgement_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QVBoxLayout>

#include "archive/archive.h"
#include "assessment/window/asset_format.h"
#include "assessment/window/history_dialog.h"
#include "assessment/window/judgement_model.h"

JudgementPage::JudgementPage(Archive &archive, QWidget *parent)
    : QWidget(parent), archive_(archive), store_(archive) {
  setObjectName(QStringLiteral("JudgementPage"));
  RoundChoice = new QComboBox(this);
  RoundChoice->setObjectName(QStringLiteral("JudgedRound"));
  RoundChoice->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  OnlyFlagged = new QCheckBox(QStringLiteral("只显示注意/异常(&F)"), this);
  OnlyFlagged->setObjectName(QStringLiteral("OnlyFlagged"));
  ThresholdsLine = new QLabel(this);
  ThresholdsLine->setObjectName(QStringLiteral("ThresholdsLine"));
  ThresholdsLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
  CountsLine = new QLabel(this);
  CountsLine->setObjectName(QStringLiteral("JudgementCounts"));

  Model = new JudgementModel(this);
  Filter = new QSortFilterProxyModel(this);
  Filter->setObjectName(QStringLiteral("JudgementFilter"));
  Filter->setSourceModel(Model);
  Filter->setFilterRole(JudgementModel::VerdictRole);
  Filter->setFilterKeyColumn(JudgementModel::VerdictColumn);
  JudgementTable = new QTableView(this);
  JudgementTable->setObjectName(QStringLiteral("JudgementTable"));
  JudgementTable->setModel(Filter);
  JudgementTable->setSelectionBehavior(QAbstractItemView::SelectRows);
  JudgementTable->setSelectionMode(QAbstractItemView::SingleSelection);
  JudgementTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
  JudgementTable->verticalHeader()->hide();
  JudgementTable->horizontalHeader()->setStretchLastSection(true);

  HistoryButton = new QPushButton(QStringLiteral("历次测试(&H)..."), this);
  HistoryButton->setObjectName(QStringLiteral("HistoryButton"));
  HistoryButton->setAutoDefault(false);
  SetInitialButton = new QPushButton(QStringLiteral("设为初始值(&I)"), this);
  SetInitialButton->setObjectName(QStringLiteral("SetInitialButton"));
  SetInitialButton->setAutoDefault(false);
  SetInitialButton->setToolTip(QStringLiteral("该避雷器没有初始值: 把本次测量值记为它的初始值"));

  auto *top = new QHBoxLayout;
  top->addWidget(new QLabel(QStringLiteral("测试(&R):"), this));
  top->addWidget(RoundChoice);
  top->addWidget(OnlyFlagged);
  top->addStretch(1);
  auto *bottom = new QHBoxLayout;
  bottom->addWidget(CountsLine, 1);
  bottom->addWidget(HistoryButton);
  bottom->addWidget(SetInitialButton);
  auto *layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(ThresholdsLine);
  layout->addWidget(JudgementTable, 1);
  layout->addLayout(bottom);

  connect(RoundChoice, &QComboBox::currentIndexChanged, this, &JudgementPage::Judge);
  connect(OnlyFlagged, &QCheckBox::toggled, this, [this](bool only) {
    // Verdict values 1 and 2: 注意 and 异常.
    Filter->setFilterRegularExpression(only ? QRegularExpression(QStringLiteral("^[12]$"))
                                            : QRegularExpression());
  });
  connect(JudgementTable, &QTableView::doubleClicked, this, &JudgementPage::ShowHistory);
  connect(HistoryButton, &QPushButton::clicked, this, &JudgementPage::ShowHistory);
  connect(SetInitialButton, &QPushButton::clicked, this, &JudgementPage::SetInitial);
  connect(JudgementTable->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &JudgementPage::UpdateButtons);
  connect(Filter, &QAbstractItemModel::modelReset, this, &JudgementPage::UpdateButtons);
  connect(Filter, &QAbstractItemModel::layoutChanged, this, &JudgementPage::UpdateButtons);
  UpdateButtons();
}

void JudgementPage::Reload() {
  const QString current = RoundChoice->currentData().toString();
  rounds_.clear();
  if (archive_.isOpen()) {
    const std::optional<QList<RoundRecord>> rounds = store_.rounds();
    if (!rounds) emit status(QStringLiteral("读取测试记录失败,%1.").arg(store_.errorText()));
    rounds_ = rounds.value_or(QList<RoundRecord>());
  }
  {
    const QSignalBlocker quiet(RoundChoice);
    RoundChoice->clear();
    for (const RoundRecord &r : rounds_) {
      QString text = QStringLiteral("%1  %2").arg(DateText(r.date), CellText(r.station));
      if (!r.tester.isEmpty()) text += QStringLiteral("  ") + CellText(r.tester);
      RoundChoice->addItem(text, r.uuid);
    }
    RoundChoice->setCurrentIndex(std::max(0, RoundChoice->findData(current)));
  }
  Judge();
}

void JudgementPage::SelectRound(const QString &uuid) {
  const int i = RoundChoice->findData(uuid);
  if (i >= 0) RoundChoice->setCurrentIndex(i);
}

void JudgementPage::Judge() {
  // Read afresh each time: the user may have changed the file meanwhile.
  thresholds_ = LoadThresholds();
  ThresholdsLine->setText(ThresholdsText(thresholds_));
  const int i = RoundChoice->currentIndex();
  QList<JudgedResult> rows;
  arresters_.clear();
  results_.clear();
  if (i >= 0 && i < rounds_.size()) {
    const RoundRecord &round = rounds_.at(i);
    const std::optional<QList<ArresterRecord>> arresters = store_.arresters(round.station);
    const std::optional<QList<ResultRecord>> results =
        arresters ? store_.allResults(round.station) : std::nullopt;
    if (!arresters || !results) {
      emit status(QStringLiteral("读取测量结果失败,%1.").arg(store_.errorText()));
    } else {
      arresters_ = *arresters;
      results_ = *results;
      rows = JudgeRound(round, arresters_, rounds_, results_, thresholds_);
    }
  }
  Model->SetRows(rows);
  JudgementTable->resizeColumnsToContents();
  const VerdictCounts n = CountVerdicts(rows);
  CountsLine->setText(rows.isEmpty() ? QStringLiteral("本次测试没有测量结果")
                                     : QStringLiteral("共 %1 支: 正常 %2,注意 %3,异常 %4")
                                           .arg(rows.size())
                                           .arg(n.normal)
                                           .arg(n.attention)
                                           .arg(n.abnormal));
  UpdateButtons();
}

QModelIndex JudgementPage::SelectedIndex() const {
  const QModelIndexList rows = JudgementTable->selectionModel()->selectedRows();
  return rows.isEmpty() ? QModelIndex() : rows.constFirst();
}

const JudgedResult &JudgementPage::RowAt(const QModelIndex &viewIndex) const {
  return Model->Row(Filter->mapToSource(viewIndex).row());
}

void JudgementPage::UpdateButtons() {
  const QModelIndex index = SelectedIndex();
  HistoryButton->setEnabled(index.isValid());
  bool offer = false;
  if (index.isValid()) {
    const JudgedResult &j = RowAt(index);
    offer = j.outcome.noInitial && j.result.reading == ResultReading::Value && j.result.milliAmps &&
            *j.result.milliAmps > 0;
  }
  SetInitialButton->setEnabled(offer);
}

void JudgementPage::ShowHistory() {
  const QModelIndex index = SelectedIndex();
  if (!index.isValid()) return;
  const ArresterRecord arrester = RowAt(index).arrester;
  HistoryDialog dialog(arrester, ArresterHistory(arrester, arresters_, rounds_, results_, thresholds_), this);
  dialog.exec();
}

void JudgementPage::SetInitial() {
  const QModelIndex index = SelectedIndex();
  if (!index.isValid()) return;
  const JudgedResult j = RowAt(index);
  if (!j.outcome.noInitial || !j.result.milliAmps) return;
  ArresterRecord a = j.arrester;
  a.initialMilliAmps = j.result.milliAmps;
  const int i = RoundChoice->currentIndex();
  if (i >= 0 && i < rounds_.size()) a.initialDate = rounds_.at(i).date;
  a.modifiedMs = 0;
  if (!store_.saveArrester(a)) {
    emit status(QStringLiteral("保存初始值失败,%1.").arg(store_.errorText()));
    return;
  }
  emit status(QStringLiteral("已将 %1 mA 设为 %2 %3 %4相的初始值")
                  .arg(MilliAmpsText(a.initialMilliAmps), CellText(a.voltageLevel), CellText(a.bay),
                       CellText(a.phase)));
  Judge();
  emit edited();
}
