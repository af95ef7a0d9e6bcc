#pragma once
// A trend view with its 保存趋势图 button (PNG or SVG, by the file type
// chosen), and on the judgement page a 本间隔三相 switch for the bay's phases.
#include <QWidget>

class CommonDialog;
class QCheckBox;
class QPushButton;
class TrendView;
struct TrendChart;

class TrendPanel : public QWidget {
  Q_OBJECT
 public:
  explicit TrendPanel(bool offerBay, QWidget *parent = nullptr);

  void SetChart(const TrendChart &chart);
  void ClearChart();

  TrendView *View;
  QCheckBox *BayToggle;  // null without the bay view
  QPushButton *SaveButton;
  CommonDialog *Files;  // keeps the folder and type chosen from one save to the next

 public slots:
  // Asks for a file and writes the chart shown; false when cancelled or failed
  // (a failure is shown in a message box).
  bool SaveChart();

 signals:
  void status(const QString &text);

 private:
  void UpdateButtons();
};
