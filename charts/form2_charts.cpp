// The main trend chart, the two ruler strips and the pointer read-out.
// The handlers only read and write the window's state; the drawing and the
// drag rules live in charts/chart_drawing.
#include <QLabel>

#include "app/controls.h"
#include "app/form2.h"
#include "app/key_codes.h"
#include "charts/chart_drawing.h"
#include "charts/picture_box.h"
#include "numbers/number_text.h"

namespace {

using keycodes::kLeftButton;

void ApplyScale(PictureBox &box, const charts::UserScale &s) {
  box.setScale(s.left, s.top, s.width, s.height);
}

}  // namespace

void Form2::ResetMainChart() {
  Picture1->setBackColor(charts::kChartBackColor);
  ApplyScale(*Picture1, charts::kMainChartScale);
  CursorX1 = 0;
  CursorX2 = 500;
  CursorY = 500;
  CursorZ = 0;
  DrawMainChart(0, 500, 500, 0);
}

void Form2::DrawMainChart(float x1, float x2, float y, float z) {
  charts::TraceView trace;
  trace.active = TraceActive;
  trace.points = TraceBuffer.data();
  trace.size = int(TraceBuffer.size());
  trace.pointsPerWindow = PointsPerWindow();
  charts::DrawMainChart(Picture1->canvas(), Picture1->userToPixel(), Picture1->BackColor(), x1, x2, y, z,
                        trace);
  Picture1->refresh();
}

void Form2::ResetTimeRuler() {
  Picture4->setBackColor(charts::kRulerBackColor);
  ApplyScale(*Picture4, charts::kTimeRulerScale);
  DrawTimeRuler(float(CursorX1), float(CursorX2));
}

void Form2::DrawTimeRuler(float a, float b) {
  if (charts::DrawTimeRuler(Picture4->canvas(), Picture4->userToPixel(), Picture4->BackColor(),
                            Picture4->font(), a, b))
    Picture4->refresh();
}

void Form2::ResetLevelRuler() {
  Picture3->setBackColor(charts::kRulerBackColor);
  ApplyScale(*Picture3, charts::kLevelRulerScale);
  DrawLevelRuler(float(CursorY), float(CursorZ));
}

void Form2::DrawLevelRuler(float a, float b) {
  if (charts::DrawLevelRuler(Picture3->canvas(), Picture3->userToPixel(), Picture3->BackColor(),
                             Picture3->font(), a, b))
    Picture3->refresh();
}

void Form2::Picture1_MouseMove(int, int, float X, float Y) {
  if (const auto text = charts::PointerReadout(X, Y)) Label18->setText(*text);
}

void Form2::RedrawMainChart() {
  DrawMainChart(float(CursorX1), float(CursorX2), float(CursorY), float(CursorZ));
}

void Form2::RedrawTimeCursors() {
  DrawTimeRuler(float(CursorX1), float(CursorX2));
  RedrawMainChart();
}

void Form2::RedrawLevelCursors() {
  DrawLevelRuler(float(CursorY), CursorZ);
  RedrawMainChart();
}

// ---- Time ruler ------------------------------------------------------------

void Form2::Picture4_MouseDown(int Button, int, float X, float) {
  if (Button != kLeftButton) return;
  TimeDragState = charts::TimeRulerGrab(CursorX1, CursorX2, X);
}

void Form2::Picture4_MouseMove(int, int, float X, float) {
  if (TimeDragState == charts::kDragFirst)
    CursorX1 = charts::ClampToChart(X);
  else if (TimeDragState == charts::kDragSecond)
    CursorX2 = charts::ClampToChart(X);
  else
    return;
  RedrawTimeCursors();
}

void Form2::Picture4_MouseUp(int Button, int, float, float) {
  if (Button == kLeftButton) TimeDragState = charts::kNoDrag;
}

// ---- Level ruler -----------------------------------------------------------

void Form2::Picture3_MouseDown(int Button, int, float, float Y) {
  if (Button != kLeftButton) return;
  LevelDragState = charts::LevelRulerGrab(CursorY, CursorZ, Y);
}

void Form2::Picture3_MouseMove(int, int, float, float Y) {
  if (LevelDragState == charts::kDragFirst)
    CursorY = charts::ClampToChart(Y);
  else if (LevelDragState == charts::kDragSecond)
    CursorZ = charts::ClampZ(Y);
  else
    return;
  RedrawLevelCursors();
}

void Form2::Picture3_MouseUp(int Button, int, float, float) {
  if (Button == kLeftButton) LevelDragState = charts::kNoDrag;
}

// ---- Typed cursor entries ----------------------------------------------------

std::optional<double> Form2::EnteredCursor(int KeyCode, const TextBox &box) {
  if (KeyCode != kEnterKey) return std::nullopt;
  const double v = ReadNumberLeniently(box.text());
  if (!charts::IsValidCursorEntry(v)) {
    Label6->setText(QStringLiteral("输入无效值"));
    return std::nullopt;
  }
  return v;
}

void Form2::Text5_KeyDown(int KeyCode, int) {
  if (const auto v = EnteredCursor(KeyCode, *Text5)) {
    CursorX1 = *v;
    RedrawTimeCursors();
  }
}

void Form2::Text6_KeyDown(int KeyCode, int) {
  if (const auto v = EnteredCursor(KeyCode, *Text6)) {
    CursorX2 = *v;
    RedrawTimeCursors();
  }
}

void Form2::Text7_KeyDown(int KeyCode, int) {
  if (const auto v = EnteredCursor(KeyCode, *Text7)) {
    CursorY = *v;
    RedrawLevelCursors();
  }
}

void Form2::Text8_KeyDown(int KeyCode, int) {
  if (const auto v = EnteredCursor(KeyCode, *Text8)) {
    CursorZ = short(RoundHalfEven(*v));
    RedrawLevelCursors();
  }
}
