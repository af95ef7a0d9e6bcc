#include "assessment/window/trend_panel.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>

#include "assessment/window/asset_format.h"
#include "assessment/window/trend_view.h"
#include "documents/common_dialog.h"
#include "reports/trend_chart.h"

TrendPanel::TrendPanel(bool offerBay, QWidget *parent) : QWidget(parent), BayToggle(nullptr) {
  setObjectName(QStringLiteral("TrendPanel"));
  View = new TrendView(this);
  if (offerBay) {
    BayToggle = new QCheckBox(QStringLiteral("本间隔三相(&B)"), this);
    BayToggle->setObjectName(QStringLiteral("TrendBayToggle"));
    BayToggle->setToolTip(QStringLiteral("同一间隔的各相画在一张图上"));
  }
  SaveButton = new QPushButton(QStringLiteral("保存趋势图(&S)..."), this);
  SaveButton->setObjectName(QStringLiteral("SaveTrendButton"));
  SaveButton->setAutoDefault(false);
  Files = new CommonDialog(this);
  Files->setObjectName(QStringLiteral("TrendFiles"));
  Files->Filter = QStringLiteral("PNG 图像 (*.png)|*.png|SVG 矢量图 (*.svg)|*.svg");
  Files->DefaultExt.clear();  // the extension follows the type chosen, see SaveChart
  Files->Flags = CommonDialog::SaveOverwritePrompt;
  Files->InitDir = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);

  auto *buttons = new QHBoxLayout;
  if (BayToggle) buttons->addWidget(BayToggle);
  buttons->addStretch(1);
  buttons->addWidget(SaveButton);
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(View, 1);
  layout->addLayout(buttons);

  connect(SaveButton, &QPushButton::clicked, this, &TrendPanel::SaveChart);
  UpdateButtons();
}

void TrendPanel::SetChart(const TrendChart &chart) {
  View->SetChart(chart);
  UpdateButtons();
}

void TrendPanel::ClearChart() {
  View->ClearChart();
  UpdateButtons();
}

void TrendPanel::UpdateButtons() { SaveButton->setEnabled(View->HasChart()); }

bool TrendPanel::SaveChart() {
  if (!View->HasChart()) return false;
  const TrendChart chart = View->Chart();  // a copy: the view may change while the dialog is open
  Files->FileName = FileNameText(chart.title, QStringLiteral("趋势图")) +
                    (Files->FilterIndex == 2 ? QStringLiteral(".svg") : QStringLiteral(".png"));
  if (Files->ShowSave() != CommonDialog::Accepted) return false;
  QString path = QDir::fromNativeSeparators(Files->FileName);
  Files->InitDir = QFileInfo(path).absolutePath();
  // The name's extension decides the format; without a known one, the type
  // chosen in the dialog does, and its extension is added.
  const QString suffix = QFileInfo(path).suffix().toLower();
  bool svg = suffix == QLatin1String("svg");
  if (!svg && suffix != QLatin1String("png")) {
    svg = Files->FilterIndex == 2;
    path += svg ? QStringLiteral(".svg") : QStringLiteral(".png");
    // The dialog asked about the name as typed, not this one.
    if (QFileInfo::exists(path) &&
        QMessageBox::question(this, QStringLiteral("保存趋势图"),
                              QStringLiteral("%1 已存在,要替换它吗?").arg(QDir::toNativeSeparators(path))) !=
            QMessageBox::Yes)
      return false;
  }
  QString error;
  const bool saved = svg ? SaveTrendSvg(chart, path, QSize(800, 480), &error)
                         : SaveTrendPng(chart, path, QSize(800, 480), &error);
  if (!saved) {
    QMessageBox::warning(this, QStringLiteral("保存趋势图"),
                         QStringLiteral("无法保存趋势图 %1:\n%2").arg(QDir::toNativeSeparators(path), error));
    return false;
  }
  emit status(QStringLiteral("趋势图已保存到 %1").arg(QDir::toNativeSeparators(path)));
  return true;
}
