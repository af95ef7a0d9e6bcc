#include "assessment/window/asset_window.h"

#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "archive/archive.h"
#include "assessment/window/judgement_page.h"
#include "assessment/window/register_page.h"
#include "assessment/window/rounds_page.h"

AssetWindow::AssetWindow(const QString &archivePath, QWidget *parent)
    : QWidget(parent, Qt::Window), archivePath_(archivePath), archive_(std::make_unique<Archive>()) {
  setObjectName(QStringLiteral("AssetWindow"));
  setWindowTitle(QStringLiteral("避雷器台账"));
  setAttribute(Qt::WA_QuitOnClose, false);

  Pages = new QTabWidget(this);
  Pages->setObjectName(QStringLiteral("AssetPages"));
  Register = new RegisterPage(*archive_, Pages);
  Rounds = new RoundsPage(*archive_, Pages);
  Judgement = new JudgementPage(*archive_, Pages);
  Pages->addTab(Register, QStringLiteral("台账"));
  Pages->addTab(Rounds, QStringLiteral("测试"));
  Pages->addTab(Judgement, QStringLiteral("分析"));

  RefreshButton = new QPushButton(QStringLiteral("刷新(&F)"), this);
  RefreshButton->setObjectName(QStringLiteral("AssetRefreshButton"));
  RefreshButton->setAutoDefault(false);
  Status = new QLabel(this);
  Status->setObjectName(QStringLiteral("AssetStatus"));
  Status->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto *bottom = new QHBoxLayout;
  bottom->addWidget(Status, 1);
  bottom->addWidget(RefreshButton);
  auto *layout = new QVBoxLayout(this);
  layout->addWidget(Pages, 1);
  layout->addLayout(bottom);
  resize(1000, 680);

  connect(RefreshButton, &QPushButton::clicked, this, &AssetWindow::Refresh);
  // A change on one page shows on the others: a new arrester in the rounds'
  // test order, a new result in the judgement.
  connect(Register, &RegisterPage::edited, Rounds, &RoundsPage::Reload);
  connect(Register, &RegisterPage::edited, Judgement, &JudgementPage::Reload);
  connect(Rounds, &RoundsPage::edited, Judgement, &JudgementPage::Reload);
  connect(Judgement, &JudgementPage::edited, Register, &RegisterPage::Reload);
  connect(Judgement, &JudgementPage::edited, Rounds, &RoundsPage::Reload);
  connect(Register, &RegisterPage::status, Status, &QLabel::setText);
  connect(Rounds, &RoundsPage::status, Status, &QLabel::setText);
  connect(Judgement, &JudgementPage::status, Status, &QLabel::setText);
}

AssetWindow::~AssetWindow() = default;

void AssetWindow::showEvent(QShowEvent *e) {
  QWidget::showEvent(e);
  Refresh();
}

void AssetWindow::Refresh() {
  if (!archive_->isOpen() && !archive_->open(archivePath_)) {
    Status->setText(QStringLiteral("无法打开测量记录%1,%2.")
                        .arg(QDir::toNativeSeparators(archivePath_), archive_->errorText()));
  } else {
    Status->setText(QDir::toNativeSeparators(archivePath_));
  }
  Register->Reload();
  Rounds->Reload();
  Judgement->Reload();
}
