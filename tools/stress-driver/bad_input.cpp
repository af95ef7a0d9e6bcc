// stress-driver bad-input: every text box of the live window is fed awkward
// texts, each typed as a user would and confirmed with a real Enter key press.
// What should happen is written out by hand below from the window's documented
// rules for typed numbers, not computed by the reader the window itself uses,
// so a fault in that reader shows up here as a wrong outcome.
#include <QApplication>
#include <QClipboard>
#include <QCommandLineParser>
#include <QImage>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>
#include <limits>
#include <type_traits>
#include <vector>

#include "app/controls.h"
#include "app/form2.h"
#include "charts/picture_box.h"
#include "stress_driver.h"
#include "support/event_wait.h"
#include "support/sim_process.h"

namespace stress {
namespace {

// Beyond every range a box accepts: the number a text begins with is too
// large for a double, and the window must refuse it rather than take it as 0.
constexpr double kBeyondAnyRange = std::numeric_limits<double>::infinity();

// One awkward text and the number it stands for under the documented rules:
// blanks ignored, the longest leading number taken (ASCII digits, sign, point,
// exponent), 0 when the text does not begin with a number.
struct Input {
  QString label;
  QString text;
  double leadingNumber;
};

std::vector<Input> Inputs() {
  return {
      {QStringLiteral("empty"), QString(), 0},
      {QStringLiteral("blanks"), QStringLiteral("    "), 0},
      {QStringLiteral("\"1e999\""), QStringLiteral("1e999"), kBeyondAnyRange},
      {QStringLiteral("\"-0\""), QStringLiteral("-0"), 0},    // minus zero is no negative number
      {QStringLiteral("\"NaN\""), QStringLiteral("NaN"), 0},  // letters: no leading number
      {QStringLiteral("10,000 digits"), QString(10000, QLatin1Char('9')), kBeyondAnyRange},
      {QStringLiteral("10,000 characters after a 5"), QStringLiteral("5") + QString(9999, QChar(0x6D4B)), 5},
      // Full-width digits are characters of Chinese input, not the digits of a number.
      {QStringLiteral("full-width digits"), QStringLiteral("１２３"), 0},
      {QStringLiteral("Chinese text"), QStringLiteral("报警值五百"), 0},
  };
}

// The boxes, and for Text1 the unit chosen beside it.
enum class Target {
  AlarmNoUnit,
  AlarmMilliAmpere,
  AlarmAmpere,
  Text2,
  Text3,
  Text4,
  CursorX1,
  CursorX2,
  CursorY,
  CursorZ,
  Table
};

const std::vector<Target> kTargets{
    Target::AlarmNoUnit, Target::AlarmMilliAmpere, Target::AlarmAmpere, Target::Text2,   Target::Text3,
    Target::Text4,       Target::CursorX1,         Target::CursorX2,    Target::CursorY, Target::CursorZ,
    Target::Table};

QString TargetName(Target t) {
  switch (t) {
    case Target::AlarmNoUnit: return QStringLiteral("Text1 (no unit)");
    case Target::AlarmMilliAmpere: return QStringLiteral("Text1 (mA)");
    case Target::AlarmAmpere: return QStringLiteral("Text1 (A)");
    case Target::Text2: return QStringLiteral("Text2");
    case Target::Text3: return QStringLiteral("Text3");
    case Target::Text4: return QStringLiteral("Text4");
    case Target::CursorX1: return QStringLiteral("Text5");
    case Target::CursorX2: return QStringLiteral("Text6");
    case Target::CursorY: return QStringLiteral("Text7");
    case Target::CursorZ: return QStringLiteral("Text8");
    case Target::Table: return QStringLiteral("RichTextBox1");
  }
  return {};
}

QWidget *BoxOf(Form2 &form, Target t) {
  switch (t) {
    case Target::AlarmNoUnit:
    case Target::AlarmMilliAmpere:
    case Target::AlarmAmpere: return form.Text1;
    case Target::Text2: return form.Text2;
    case Target::Text3: return form.Text3;
    case Target::Text4: return form.Text4;
    case Target::CursorX1: return form.Text5;
    case Target::CursorX2: return form.Text6;
    case Target::CursorY: return form.Text7;
    case Target::CursorZ: return form.Text8;
    case Target::Table: return form.RichTextBox1;
  }
  return nullptr;
}

// What a case may change, and the pictures that must not change when nothing
// was taken.
struct WindowState {
  float alarmValue = 0;
  double x1 = 0, x2 = 0, y = 0;
  short z = 0;
  short timeDrag = 0, levelDrag = 0;
  QVariant runState;
  short mode = 0;
  QStringList boxTexts;  // Text1 .. Text8
  QString status;
  QImage chart, levelRuler, timeRuler;
};

WindowState Sample(const Form2 &form) {
  WindowState s;
  s.alarmValue = form.AlarmValue;
  s.x1 = form.CursorX1;
  s.x2 = form.CursorX2;
  s.y = form.CursorY;
  s.z = form.CursorZ;
  s.timeDrag = form.TimeDragState;
  s.levelDrag = form.LevelDragState;
  s.runState = form.RunState;
  s.mode = form.OperatingMode;
  for (const TextBox *box :
       {form.Text1, form.Text2, form.Text3, form.Text4, form.Text5, form.Text6, form.Text7, form.Text8})
    s.boxTexts << box->text();
  s.status = form.Label6->text();
  s.chart = form.Picture1->Image();
  s.levelRuler = form.Picture3->Image();
  s.timeRuler = form.Picture4->Image();
  return s;
}

// The documented outcome of Enter in `t` holding a text whose leading number
// is `v`: the state after, starting from `before`. Returns whether a cursor
// was taken (its ruler and the chart are then redrawn).
bool ApplyDocumentedRule(Target t, double v, WindowState &after) {
  const QString outOfRange = QStringLiteral("输入值超出范围");
  const QString invalid = QStringLiteral("输入无效值");
  // Alarm value: 0 to 350,000 mA, or 0 to 350 A kept as mA; nothing happens
  // without a unit.
  auto alarm = [&](double limit, double factor) {
    if (v < 0 || v > limit)
      after.status = outOfRange;
    else
      after.alarmValue = float(v * factor);
    return false;
  };
  // Cursor entries: 0 to 1000 chart units. The table's numbers are whole, so
  // the rounding Z gets changes nothing.
  auto cursor = [&](auto &field) {
    if (v < 0 || v > 1000) {
      after.status = invalid;
      return false;
    }
    field = std::remove_reference_t<decltype(field)>(v);
    return true;
  };
  switch (t) {
    case Target::AlarmMilliAmpere: return alarm(350000, 1);
    case Target::AlarmAmpere: return alarm(350, 1000);
    case Target::CursorX1: return cursor(after.x1);
    case Target::CursorX2: return cursor(after.x2);
    case Target::CursorY: return cursor(after.y);
    case Target::CursorZ: return cursor(after.z);
    case Target::AlarmNoUnit:
    case Target::Text2:
    case Target::Text3:
    case Target::Text4:
    case Target::Table: return false;  // no entry handler: nothing changes
  }
  return false;
}

// Replaces the box's content the way a user does: select everything, then
// type over it. ASCII is typed key by key; other characters arrive as an input
// method commits them; a long text is pasted.
void TypeInto(QWidget *box, const QString &text) {
  auto *line = qobject_cast<QLineEdit *>(box);
  auto *table = qobject_cast<QPlainTextEdit *>(box);
  if (line) line->selectAll();
  if (table) table->selectAll();
  const bool hasText = line ? !line->text().isEmpty() : !table->toPlainText().isEmpty();
  if (text.isEmpty()) {
    if (hasText) QTest::keyClick(box, Qt::Key_Backspace);
    return;
  }
  if (text.size() > 100) {
    QApplication::clipboard()->setText(text);
    QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
    return;
  }
  bool ascii = true;
  for (QChar c : text) ascii = ascii && c.unicode() < 128;
  if (ascii) {
    QTest::keyClicks(box, text);
  } else {
    QInputMethodEvent commit;
    commit.setCommitString(text);
    QApplication::sendEvent(box, &commit);
  }
}

QString Shown(double v) { return QString::number(v, 'g', 10); }

// The differences between what the rule says and what the window did.
QStringList Differences(const WindowState &expected, const WindowState &got, bool picturesMayChange) {
  QStringList d;
  auto check = [&](const QString &what, const QString &want, const QString &have) {
    if (want != have) d << QStringLiteral("%1 %2 (expected %3)").arg(what, have.left(60), want.left(60));
  };
  check(QStringLiteral("AlarmValue"), Shown(expected.alarmValue), Shown(got.alarmValue));
  check(QStringLiteral("CursorX1"), Shown(expected.x1), Shown(got.x1));
  check(QStringLiteral("CursorX2"), Shown(expected.x2), Shown(got.x2));
  check(QStringLiteral("CursorY"), Shown(expected.y), Shown(got.y));
  check(QStringLiteral("CursorZ"), Shown(expected.z), Shown(got.z));
  check(QStringLiteral("TimeDragState"), Shown(expected.timeDrag), Shown(got.timeDrag));
  check(QStringLiteral("LevelDragState"), Shown(expected.levelDrag), Shown(got.levelDrag));
  check(QStringLiteral("RunState"), expected.runState.toString(), got.runState.toString());
  check(QStringLiteral("OperatingMode"), Shown(expected.mode), Shown(got.mode));
  check(QStringLiteral("Label6"), expected.status, got.status);
  for (int i = 0; i < expected.boxTexts.size(); ++i)
    check(QStringLiteral("Text%1").arg(i + 1), expected.boxTexts.at(i), got.boxTexts.value(i));
  if (!picturesMayChange) {
    if (expected.chart != got.chart) d << QStringLiteral("the chart was redrawn");
    if (expected.levelRuler != got.levelRuler) d << QStringLiteral("the level ruler was redrawn");
    if (expected.timeRuler != got.timeRuler) d << QStringLiteral("the time ruler was redrawn");
  }
  return d;
}

}  // namespace

int RunBadInput(const QStringList &args) {
  QCommandLineParser parser;
  if (const int status = ParseOptions(
          parser, args,
          QStringLiteral("Feeds every text box of the window awkward texts and checks the outcomes."));
      status >= 0)
    return status;

  // The window runs as the user has it: connected to a meter and polling.
  testsupport::MeterSim sim;
  if (!sim.waitReady()) Note(QStringLiteral("bad-input: the simulator did not come up; going on without it"));
  Form2 form;
  form.show();
  form.Form_Load();
  if (!testsupport::waitUntil([&] { return form.Connected == Form2::kConnected; }, 15000))
    Note(QStringLiteral("bad-input: the window did not connect; the boxes are fed all the same"));

  const std::vector<Input> inputs = Inputs();
  int tried = 0, asDocumented = 0;
  for (Target target : kTargets) {
    // The unit beside Text1: none at start-up, then mA, then A (the two are
    // exclusive, so each pick replaces the other).
    if (target == Target::AlarmMilliAmpere) form.Option4->click();
    if (target == Target::AlarmAmpere) form.Option5->click();
    QWidget *box = BoxOf(form, target);
    for (const Input &input : inputs) {
      testsupport::pumpEvents(20);  // the window lives on between cases
      // A start away from every default and every value a case can set, so
      // any change shows; the pictures are drawn to match it.
      form.AlarmValue = 4321;
      form.CursorX1 = 111;
      form.CursorX2 = 777;
      form.CursorY = 333;
      form.CursorZ = 444;
      form.DrawTimeRuler(111, 777);
      form.DrawLevelRuler(333, 444);
      form.DrawMainChart(111, 777, 333, 444);
      const QString caseName = TargetName(target) + QStringLiteral(" <- ") + input.label;
      form.Label6->setText(QStringLiteral("bad-input case %1").arg(tried + 1));

      // Nothing below runs the event loop, so only the typing and the Enter
      // act on the window between the two samples.
      WindowState expected = Sample(form);
      TypeInto(box, input.text);
      const int index = target == Target::Table ? -1 : int(QString(box->objectName()).mid(4).toInt()) - 1;
      QStringList notes;
      if (index >= 0) {
        const QString typed = static_cast<TextBox *>(box)->text();
        if (typed != input.text) notes << QStringLiteral("typing left \"%1\" in the box").arg(typed.left(60));
        expected.boxTexts[index] = input.text;  // what the user typed stays
      }
      const bool picturesMayChange = ApplyDocumentedRule(target, input.leadingNumber, expected);
      QTest::keyClick(box, Qt::Key_Return);
      ++tried;

      notes << Differences(expected, Sample(form), picturesMayChange);
      if (notes.isEmpty())
        ++asDocumented;
      else
        Note(QStringLiteral("bad-input: %1: %2").arg(caseName, notes.join(QStringLiteral("; "))));
    }
  }
  const int planned = int(kTargets.size() * inputs.size());
  bool ok = Figure(QStringLiteral("bad input: cases tried"), QString::number(tried), tried == planned,
                   QStringLiteral("%1 (%2 boxes or units x %3 texts)")
                       .arg(planned)
                       .arg(kTargets.size())
                       .arg(inputs.size()));
  ok = Figure(QStringLiteral("bad input: outcomes as documented"),
              QStringLiteral("%1 of %2").arg(asDocumented).arg(tried), asDocumented == tried,
              QStringLiteral("all")) &&
       ok;
  return ok ? 0 : 1;
}

}  // namespace stress
