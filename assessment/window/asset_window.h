#pragma once
// The register window (避雷器台账): three pages over the archive's arrester
// register, test rounds and judgement. It has its own connection to the
// archive, is not modal and does not keep the program running once the main
// window has closed.
#include <QString>
#include <QWidget>
#include <memory>

class Archive;
class JudgementPage;
class QLabel;
class QPushButton;
class QTabWidget;
class RegisterPage;
class RoundsPage;

class AssetWindow : public QWidget {
  Q_OBJECT
 public:
  explicit AssetWindow(const QString &archivePath, QWidget *parent = nullptr);
  ~AssetWindow() override;

  QString ArchivePath() const { return archivePath_; }

  QTabWidget *Pages;
  RegisterPage *Register;
  RoundsPage *Rounds;
  JudgementPage *Judgement;
  QPushButton *RefreshButton;
  QLabel *Status;

 public slots:
  // Opens the archive if it is not yet, and reads every page afresh.
  void Refresh();

 protected:
  void showEvent(QShowEvent *e) override;

 private:
  QString archivePath_;
  std::unique_ptr<Archive> archive_;
};
