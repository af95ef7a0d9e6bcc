#pragma once
// A trend chart on screen: the same drawing as the report and the exported
// images, scaled to the widget, with a hint while there is nothing to show.
#include <QWidget>

#include "reports/trend_chart.h"

class TrendView : public QWidget {
  Q_OBJECT
 public:
  explicit TrendView(QWidget *parent = nullptr);

  void SetChart(const TrendChart &chart);
  void ClearChart();
  bool HasChart() const { return hasChart_; }
  const TrendChart &Chart() const { return chart_; }

  QSize sizeHint() const override { return {640, 300}; }
  QSize minimumSizeHint() const override { return {320, 180}; }

 protected:
  void paintEvent(QPaintEvent *event) override;

 private:
  TrendChart chart_;
  bool hasChart_ = false;
};
