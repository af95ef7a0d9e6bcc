// Time of one complete redraw of the trend chart with a full 500-segment
// trace on an image the size of the chart on screen (533 x 400 pixels).
#include <QGuiApplication>
#include <QImage>
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "charts/chart_drawing.h"

int main(int argc, char **argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);

  QImage image(533, 400, QImage::Format_RGB32);
  const QTransform scale = charts::ScaleTransform(image.size(), charts::kMainChartScale);
  std::array<float, 501> trace{};
  for (size_t i = 0; i < trace.size(); ++i) trace[i] = float(500 + 450 * std::sin(i * 0.05));
  charts::TraceView view;
  view.active = true;
  view.points = trace.data();
  view.size = int(trace.size());
  view.pointsPerWindow = 500;

  for (int i = 0; i < 50; ++i)  // warm-up
    charts::DrawMainChart(image, scale, charts::kChartBackColor, 0, 500, 500, 0, view);

  constexpr int kRuns = 1001;
  std::vector<double> ms;
  ms.reserve(kRuns);
  for (int i = 0; i < kRuns; ++i) {
    const float x2 = float(i % 1000);  // a cursor being dragged
    const auto t0 = std::chrono::steady_clock::now();
    charts::DrawMainChart(image, scale, charts::kChartBackColor, 0, x2, 500, 0, view);
    const auto t1 = std::chrono::steady_clock::now();
    ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
  }
  std::nth_element(ms.begin(), ms.begin() + kRuns / 2, ms.end());
  const double median = ms[kRuns / 2];
  std::printf("chart_draw_main_chart_median: %.4f ms\n", median);
  std::printf("chart_draw_share_of_16.7ms_frame: %.2f %%\n", median / 16.7 * 100.0);
  return 0;
}
