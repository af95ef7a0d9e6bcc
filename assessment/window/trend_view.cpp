#include "assessment/window/trend_view.h"

#include <QPainter>

TrendView::TrendView(QWidget *parent) : QWidget(parent) {
  setObjectName(QStringLiteral("TrendView"));
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void TrendView::SetChart(const TrendChart &chart) {
  chart_ = chart;
  hasChart_ = true;
  update();
}

void TrendView::ClearChart() {
  chart_ = TrendChart();
  hasChart_ = false;
  update();
}

void TrendView::paintEvent(QPaintEvent *) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::white);
  if (!hasChart_) {
    painter.setPen(palette().color(QPalette::Disabled, QPalette::Text));
    painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("选择一支避雷器查看它的趋势"));
    return;
  }
  painter.setRenderHint(QPainter::Antialiasing);
  DrawTrend(painter, QRectF(rect()), chart_);
}
