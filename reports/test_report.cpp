#include "reports/test_report.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QFont>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QSet>

#include <algorithm>
#include <functional>

#include "assessment/test_order.h"

// ---------------------------------------------------------------------------
// Gathering the report

namespace {

// Whether round `r` was made no later than `round`: the same order the
// judgement uses to find previous values.
bool NotAfter(const RoundRecord &r, const RoundRecord &round) {
  if (r.uuid == round.uuid) return true;
  if (r.date != round.date) return r.date < round.date;
  return r.modifiedMs <= round.modifiedMs;
}

}  // namespace

TestReport MakeTestReport(const RoundRecord &round, const QList<ArresterRecord> &arresters,
                          const QList<RoundRecord> &rounds, const QList<ResultRecord> &results,
                          const Thresholds &thresholds) {
  TestReport report;
  report.round = round;
  report.number = DefaultReportNumber(round);
  report.basis = DefaultReportBasis();
  report.thresholds = thresholds;
  report.rows = JudgeRound(round, arresters, rounds, results, thresholds);

  // A trend shows the history up to this round, so a report made again
  // later shows what was known when the round was judged.
  QList<RoundRecord> earlier;
  QSet<QString> earlierIds;
  for (const RoundRecord &r : rounds) {
    if (!NotAfter(r, round)) continue;
    earlier << r;
    earlierIds.insert(r.uuid);
  }
  QSet<QString> wanted;
  for (const JudgedResult &row : report.rows)
    if (row.outcome.verdict != Verdict::Normal && !row.arrester.uuid.isEmpty())
      wanted.insert(row.arrester.uuid);
  QList<ResultRecord> history;
  for (const ResultRecord &r : results)
    if (wanted.contains(r.arresterUuid) && earlierIds.contains(r.roundUuid)) history << r;
  for (const JudgedResult &row : report.rows)
    if (wanted.contains(row.arrester.uuid) && !report.trends.contains(row.arrester.uuid))
      report.trends.insert(row.arrester.uuid, ArresterTrend(row.arrester, earlier, history, thresholds));
  return report;
}

QString DefaultReportNumber(const RoundRecord &round, int sequence) {
  return QStringLiteral("%1-%2-%3")
      .arg(round.station.trimmed(), round.date.toString(QStringLiteral("yyyyMMdd")))
      .arg(std::max(sequence, 0), 2, 10, QLatin1Char('0'));
}

// The practice in words; the figures are the thresholds line above it, so
// the two never disagree when the thresholds are changed.
QString DefaultReportBasis() {
  return QStringLiteral(
      "依据电力设备预防性试验规程: 金属氧化物避雷器运行电压下的全电流与初始值比较应无明显变化, "
      "明显增加时应加强监测, 增加较多时应停电检查; 同时参考上次测试结果及同间隔三相之间的偏差, "
      "注意、异常的界限按上行判断阈值.");
}

// ---------------------------------------------------------------------------
// Laying out and painting

namespace {

constexpr double kMarginMm = 20;
constexpr double kFooterMm = 8;  // the page-number line at the foot of the text area

QString Dash() { return QStringLiteral("—"); }

QString NumberText(const std::optional<double> &v) { return v ? QString::number(*v, 'g', 6) : Dash(); }

QString ReadingCell(const ResultRecord &r) {
  switch (r.reading) {
    case ResultReading::Value:
      return r.milliAmps ? QString::number(*r.milliAmps, 'g', 6) : QStringLiteral("无效");
    case ResultReading::Overload: return QStringLiteral("过载");
    case ResultReading::Invalid: break;
  }
  return QStringLiteral("无效");
}

QString PercentCell(const std::optional<double> &pct) {
  const QString text = ChangeText(pct);
  return text.isEmpty() ? Dash() : text;
}

QString DateCell(const QDate &date) {
  return date.isValid() ? date.toString(QStringLiteral("yyyy-MM-dd")) : Dash();
}

// The Song/Ming face: SimSun where it is installed, else the Ming faces of
// the free systems, so the report looks the same wherever it is made.
QFont ReportFont(double points, bool bold = false) {
  QFont f;
  f.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("AR PL UMing CN"),
                 QStringLiteral("AR PL UMing TW"), QStringLiteral("Noto Serif CJK SC"),
                 QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Zen Hei")});
  f.setPointSizeF(points);
  f.setBold(bold);
  return f;
}

enum class CellStyle { Plain, Bold, Inverted, Heading };

// Measures and draws wrapped text on one device, in its own pixels.
class Typesetter {
 public:
  explicit Typesetter(QPaintDevice &device)
      : device_(device), pxPerMm_(device.logicalDpiY() / 25.4), pxPerMmX_(device.logicalDpiX() / 25.4) {}

  double mm(double v) const { return v * pxPerMm_; }
  double mmX(double v) const { return v * pxPerMmX_; }
  QPaintDevice &device() const { return device_; }

  // Words wrap; a word wider than the width (a long serial number) breaks
  // anywhere rather than running into the next cell.
  int wrapFlags(const QFont &font, double width, const QString &text) const {
    const QFontMetricsF fm(font, &device_);
    const QRectF r = fm.boundingRect(QRectF(0, 0, width, 1e7), Qt::TextWordWrap, text);
    return r.width() > width + 0.5 ? int(Qt::TextWrapAnywhere) : int(Qt::TextWordWrap);
  }
  double height(const QFont &font, double width, const QString &text) const {
    const QFontMetricsF fm(font, &device_);
    if (text.isEmpty()) return fm.height();
    return std::max(fm.height(),
                    fm.boundingRect(QRectF(0, 0, width, 1e7), wrapFlags(font, width, text), text).height());
  }
  void draw(QPainter &p, const QFont &font, const QRectF &rect, int align, const QString &text) const {
    p.setFont(font);
    p.drawText(rect, align | wrapFlags(font, rect.width(), text), text);
  }

 private:
  QPaintDevice &device_;
  double pxPerMm_, pxPerMmX_;
};

using PaintFn = std::function<void(QPainter &, const QRectF &)>;

// Blocks placed top to bottom on pages: a block goes where it fits, else on
// a new page; nothing is ever cut. A new page can start with a block of its
// own (the table's header while the table runs).
class Pages {
 public:
  explicit Pages(const QRectF &body) : body_(body) { newPage(); }

  struct Placed {
    QRectF rect;
    PaintFn paint;
  };
  const QList<QList<Placed>> &pages() const { return pages_; }
  const QRectF &body() const { return body_; }

  double remaining() const { return body_.bottom() - y_; }
  bool fits(double h) const { return h <= remaining() + 0.01; }
  // Nothing placed yet on this page but its own header.
  bool freshPage() const { return pages_.last().size() <= (pageHeader_ ? 1 : 0); }
  // The room a fresh page offers after its own header.
  double freshRoom() const { return body_.height() - pageHeaderHeight_; }

  void newPage() {
    pages_.emplaceBack();
    y_ = body_.top();
    if (pageHeader_) {
      const PaintFn header = pageHeader_;
      place(pageHeaderHeight_, header);
    }
  }
  void setPageHeader(double height, PaintFn paint) {
    pageHeaderHeight_ = paint ? height : 0;
    pageHeader_ = std::move(paint);
  }
  void place(double h, PaintFn paint) {
    // Taller than any page (a register field of absurd length): it gets a
    // page of its own and is clipped there.
    h = std::min(h, body_.bottom() - y_);
    pages_.last().append({QRectF(body_.left(), y_, body_.width(), h), std::move(paint)});
    y_ += h;
  }
  // A block of height h, on this page if it fits, else on the next.
  void placeWhole(double h, PaintFn paint) {
    if (!fits(h) && !freshPage()) newPage();
    place(h, std::move(paint));
  }
  void skip(double h) { y_ = std::min(y_ + h, body_.bottom()); }

 private:
  QRectF body_;
  double y_ = 0;
  QList<QList<Placed>> pages_;
  PaintFn pageHeader_;
  double pageHeaderHeight_ = 0;
};

// A table of columns whose widths are shares of the page's width.
struct Column {
  QString title;
  double share;
  int align;
};

class Table {
 public:
  Table(const Typesetter &ts, const QList<Column> &columns, double width, double fontPoints)
      : ts_(ts),
        columns_(columns),
        font_(ReportFont(fontPoints)),
        bold_(ReportFont(fontPoints, true)),
        padX_(ts.mmX(0.8)),
        padY_(ts.mm(0.8)),
        rule_(std::max(1.0, ts.mm(0.2))) {
    double total = 0;
    for (const Column &c : columns) total += c.share;
    double x = 0;
    for (const Column &c : columns) {
      left_ << x;
      x += width * c.share / total;
    }
    left_ << width;
  }

  double cellWidth(int i) const { return left_[i + 1] - left_[i] - 2 * padX_; }

  double rowHeight(const QStringList &cells) const {
    double h = 0;
    for (int i = 0; i < cells.size() && i < columns_.size(); ++i)
      h = std::max(h, ts_.height(bold_, cellWidth(i), cells[i]));
    return h + 2 * padY_;
  }
  double headerHeight() const { return rowHeight(titles()); }
  double headingHeight(const QString &text) const {
    return ts_.height(bold_, left_.last() - 2 * padX_, text) + 2 * padY_;
  }

  PaintFn header() const {
    return [t = *this](QPainter &p, const QRectF &r) {
      p.fillRect(r, QColor(225, 225, 225));
      t.paintCells(p, r, t.titles(), QList<CellStyle>(t.columns_.size(), CellStyle::Heading), true);
    };
  }
  PaintFn row(const QStringList &cells, const QList<CellStyle> &styles) const {
    return [t = *this, cells, styles](QPainter &p, const QRectF &r) {
      t.paintCells(p, r, cells, styles, false);
    };
  }
  // A row across the whole table: a group's name.
  PaintFn heading(const QString &text) const {
    return [t = *this, text](QPainter &p, const QRectF &r) {
      p.setPen(QPen(Qt::black, t.rule_));
      p.drawRect(r);
      t.ts_.draw(p, t.bold_, r.adjusted(t.padX_, t.padY_, -t.padX_, -t.padY_),
                 Qt::AlignLeft | Qt::AlignVCenter, text);
    };
  }

 private:
  QStringList titles() const {
    QStringList t;
    for (const Column &c : columns_) t << c.title;
    return t;
  }

  void paintCells(QPainter &p, const QRectF &r, const QStringList &cells, const QList<CellStyle> &styles,
                  bool centred) const {
    p.save();
    p.setClipRect(r.adjusted(-rule_, -rule_, rule_, rule_));
    for (int i = 0; i < columns_.size(); ++i) {
      const QRectF cell(r.left() + left_[i], r.top(), left_[i + 1] - left_[i], r.height());
      const CellStyle style = i < styles.size() ? styles[i] : CellStyle::Plain;
      const QString text = i < cells.size() ? cells[i] : QString();
      const int align = (centred ? int(Qt::AlignHCenter) : columns_[i].align) | Qt::AlignVCenter;
      const QRectF inner = cell.adjusted(padX_, padY_, -padX_, -padY_);
      if (style == CellStyle::Inverted) {
        // 异常: white on black, plain to see on any printer.
        p.fillRect(cell.adjusted(rule_, rule_, -rule_, -rule_), Qt::black);
        p.setPen(Qt::white);
      } else {
        p.setPen(Qt::black);
      }
      ts_.draw(p, style == CellStyle::Plain ? font_ : bold_, inner, align, text);
      p.setPen(QPen(Qt::black, rule_));
      p.setBrush(Qt::NoBrush);
      p.drawRect(cell);
    }
    p.restore();
  }

  const Typesetter &ts_;
  QList<Column> columns_;
  QFont font_, bold_;
  double padX_, padY_, rule_;
  QList<double> left_;
};

QString GroupName(const ArresterRecord &a) {
  if (a.station.isEmpty() && a.voltageLevel.isEmpty() && a.bay.isEmpty())
    return QStringLiteral("台账中没有的避雷器");
  return QStringLiteral("%1  %2").arg(a.voltageLevel, a.bay);
}

QString GroupKey(const ArresterRecord &a) { return a.voltageLevel + QChar(0x1f) + a.bay; }

QString PlaceText(const ArresterRecord &a) {
  if (a.station.isEmpty() && a.voltageLevel.isEmpty() && a.bay.isEmpty())
    return QStringLiteral("台账中没有的避雷器 %1").arg(a.uuid.left(8));
  return QStringLiteral("%1 %2 %3相").arg(a.voltageLevel, a.bay, a.phase);
}

// The round's voltage levels, highest first, as the table groups them.
QString VoltageLevels(const QList<JudgedResult> &rows) {
  QStringList levels;
  for (const JudgedResult &r : rows)
    if (!r.arrester.voltageLevel.isEmpty() && !levels.contains(r.arrester.voltageLevel))
      levels << r.arrester.voltageLevel;
  return levels.join(QStringLiteral("、"));
}

QString OptionalText(const std::optional<double> &v, const QString &unit) {
  return v ? QString::number(*v, 'g', 4) + unit : QString();
}

// The rows judged 注意 or 异常: abnormal first, then attention, each in test order.
QList<const JudgedResult *> Flagged(const QList<JudgedResult> &rows) {
  QList<const JudgedResult *> flagged;
  for (const JudgedResult &r : rows)
    if (r.outcome.verdict != Verdict::Normal) flagged << &r;
  std::stable_sort(flagged.begin(), flagged.end(), [](const JudgedResult *a, const JudgedResult *b) {
    return a->outcome.verdict > b->outcome.verdict;
  });
  return flagged;
}

class ReportLayout {
 public:
  ReportLayout(const TestReport &report, const Typesetter &ts, const QRectF &body)
      : report_(report), ts_(ts), pages_(body) {}

  const Pages &run() {
    title();
    header();
    results();
    summary();
    trends();
    signatures();
    return pages_;
  }

 private:
  double width() const { return pages_.body().width(); }

  void title() {
    const QFont font = ReportFont(16, true);
    const QString text = QStringLiteral("金属氧化物避雷器带电测试报告");
    const double h = ts_.height(font, width(), text) + ts_.mm(6);
    pages_.place(h, [ts = ts_, font, text](QPainter &p, const QRectF &r) {
      p.setPen(Qt::black);
      ts.draw(p, font, r.adjusted(0, 0, 0, -ts.mm(3)), Qt::AlignHCenter | Qt::AlignBottom, text);
    });
    pages_.skip(ts_.mm(2));
  }

  // Label and value pairs, three to a line, then the thresholds and the
  // basis of judgement across the page.
  void header() {
    const RoundRecord &r = report_.round;
    const QList<QPair<QString, QString>> fields{
        {QStringLiteral("报告编号"), report_.number},
        {QStringLiteral("变电站"), r.station},
        {QStringLiteral("电压等级"), VoltageLevels(report_.rows)},
        {QStringLiteral("测试日期"),
         r.date.isValid() ? r.date.toString(QStringLiteral("yyyy-MM-dd")) : QString()},
        {QStringLiteral("试验人员"), r.tester},
        {QStringLiteral("测试仪器"), r.instrument},
        {QStringLiteral("天气"), r.weather},
        {QStringLiteral("环境温度"), OptionalText(r.temperatureC, QStringLiteral(" °C"))},
        {QStringLiteral("相对湿度"), OptionalText(r.humidityPercent, QStringLiteral(" %"))},
    };
    const QFont font = ReportFont(10);
    const double gap = ts_.mmX(3);
    const double cellWidth = (width() - 2 * gap) / 3;
    for (int i = 0; i < fields.size(); i += 3) {
      QStringList texts;
      double h = 0;
      for (int k = i; k < i + 3 && k < fields.size(); ++k) {
        texts << fields[k].first + QStringLiteral(": ") + fields[k].second;
        h = std::max(h, ts_.height(font, cellWidth, texts.last()));
      }
      h += ts_.mm(1.2);
      pages_.place(h, [ts = ts_, font, texts, cellWidth, gap](QPainter &p, const QRectF &r) {
        p.setPen(Qt::black);
        for (int k = 0; k < texts.size(); ++k)
          ts.draw(p, font, QRectF(r.left() + k * (cellWidth + gap), r.top(), cellWidth, r.height()),
                  Qt::AlignLeft | Qt::AlignTop, texts[k]);
      });
    }
    QString thresholds = ThresholdsText(report_.thresholds);
    const QString prefix = QStringLiteral("判断依据: ");
    if (thresholds.startsWith(prefix)) thresholds.remove(0, prefix.size());
    line(font, QStringLiteral("判断阈值: ") + thresholds);
    line(font, prefix + report_.basis);
    pages_.skip(ts_.mm(3));
  }

  void line(const QFont &font, const QString &text) {
    const double h = ts_.height(font, width(), text) + ts_.mm(1.2);
    pages_.placeWhole(h, [ts = ts_, font, text](QPainter &p, const QRectF &r) {
      p.setPen(Qt::black);
      ts.draw(p, font, r, Qt::AlignLeft | Qt::AlignTop, text);
    });
  }

  void sectionTitle(const QString &text, double keepWithNext) {
    const QFont font = ReportFont(12, true);
    const double h = ts_.height(font, width(), text) + ts_.mm(2);
    if (!pages_.fits(h + keepWithNext) && !pages_.freshPage()) pages_.newPage();
    pages_.place(h, [ts = ts_, font, text](QPainter &p, const QRectF &r) {
      p.setPen(Qt::black);
      ts.draw(p, font, r, Qt::AlignLeft | Qt::AlignTop, text);
    });
  }

  // The results, grouped by voltage level and bay: a bay that does not fit
  // on the rest of a page starts a new one whole; a bay longer than a page
  // breaks between rows, its name repeated. The header repeats on each page.
  void results() {
    const QList<Column> columns{
        {QStringLiteral("相别"), 7, Qt::AlignHCenter},
        {QStringLiteral("型号"), 21, Qt::AlignLeft},
        {QStringLiteral("出厂编号"), 18, Qt::AlignLeft},
        {QStringLiteral("测量值\n(mA)"), 11, Qt::AlignRight},
        {QStringLiteral("初始值\n(mA)"), 11, Qt::AlignRight},
        {QStringLiteral("较初始值\n(%)"), 12.5, Qt::AlignRight},
        {QStringLiteral("上次值\n(mA)"), 11, Qt::AlignRight},
        {QStringLiteral("上次日期"), 15.5, Qt::AlignHCenter},
        {QStringLiteral("较上次\n(%)"), 11, Qt::AlignRight},
        {QStringLiteral("相间偏差\n(%)"), 12.5, Qt::AlignRight},
        {QStringLiteral("结论"), 9, Qt::AlignHCenter},
        {QStringLiteral("原因"), 30.5, Qt::AlignLeft},
    };
    const Table table(ts_, columns, width(), 7.5);
    const double headerHeight = table.headerHeight();
    sectionTitle(QStringLiteral("测试结果"), headerHeight * 3);
    pages_.place(headerHeight, table.header());
    pages_.setPageHeader(headerHeight, table.header());

    if (report_.rows.isEmpty()) {
      const QString none = QStringLiteral("本次测试没有结果");
      pages_.placeWhole(table.headingHeight(none), table.heading(none));
    }
    for (int begin = 0; begin < report_.rows.size();) {
      const QString key = GroupKey(report_.rows[begin].arrester);
      int end = begin + 1;
      while (end < report_.rows.size() && GroupKey(report_.rows[end].arrester) == key) ++end;
      const QString name = GroupName(report_.rows[begin].arrester);
      const double headingHeight = table.headingHeight(name);
      QList<double> heights;
      QList<PaintFn> rows;
      double total = headingHeight;
      for (int i = begin; i < end; ++i) {
        const JudgedResult &r = report_.rows[i];
        const QStringList cells{r.arrester.phase,
                                r.arrester.model,
                                r.arrester.serialNumber,
                                ReadingCell(r.result),
                                NumberText(r.arrester.initialMilliAmps),
                                PercentCell(r.outcome.initialChangePct),
                                NumberText(r.previousMilliAmps),
                                DateCell(r.previousDate),
                                PercentCell(r.outcome.previousChangePct),
                                PercentCell(r.outcome.phaseDeviationPct),
                                VerdictText(r.outcome.verdict),
                                r.outcome.reasons.join(QStringLiteral("; "))};
        QList<CellStyle> styles(cells.size(), CellStyle::Plain);
        styles[10] = r.outcome.verdict == Verdict::Abnormal    ? CellStyle::Inverted
                     : r.outcome.verdict == Verdict::Attention ? CellStyle::Bold
                                                               : CellStyle::Plain;
        heights << table.rowHeight(cells);
        rows << table.row(cells, styles);
        total += heights.last();
      }
      if (!pages_.fits(total) && total <= pages_.freshRoom()) pages_.newPage();
      if (!pages_.fits(headingHeight + heights.first()) && !pages_.freshPage()) pages_.newPage();
      pages_.place(headingHeight, table.heading(name));
      bool rowOnPage = false;
      for (int k = 0; k < rows.size(); ++k) {
        if (!pages_.fits(heights[k]) && rowOnPage) {
          pages_.newPage();
          const QString continued = name + QStringLiteral(" (续)");
          pages_.place(table.headingHeight(continued), table.heading(continued));
        }
        pages_.place(heights[k], rows[k]);
        rowOnPage = true;
      }
      begin = end;
    }
    pages_.setPageHeader(0, nullptr);
    pages_.skip(ts_.mm(5));
  }

  // The counts, and the arresters that need attention with their reasons.
  void summary() {
    const VerdictCounts counts = CountVerdicts(report_.rows);
    const QFont font = ReportFont(10);
    const QString countText = QStringLiteral("测试避雷器 %1 支: 正常 %2 支, 注意 %3 支, 异常 %4 支.")
                                  .arg(report_.rows.size())
                                  .arg(counts.normal)
                                  .arg(counts.attention)
                                  .arg(counts.abnormal);
    const QList<const JudgedResult *> flagged = Flagged(report_.rows);
    const QList<Column> columns{
        {QStringLiteral("位置"), 40, Qt::AlignLeft},
        {QStringLiteral("出厂编号"), 25, Qt::AlignLeft},
        {QStringLiteral("结论"), 12, Qt::AlignHCenter},
        {QStringLiteral("原因"), 93, Qt::AlignLeft},
    };
    const Table table(ts_, columns, width(), 9);
    const double headerHeight = table.headerHeight();
    QList<QStringList> rows;
    for (const JudgedResult *r : flagged)
      rows << QStringList{PlaceText(r->arrester), r->arrester.serialNumber, VerdictText(r->outcome.verdict),
                          r->outcome.reasons.join(QStringLiteral("; "))};
    const QString closing = rows.isEmpty() ? QStringLiteral("全部避雷器正常.") : QString();
    // The title stays with the counts and the start of the list.
    const double countHeight = ts_.height(font, width(), countText) + ts_.mm(1.2);
    const double firstHeight = rows.isEmpty() ? ts_.height(font, width(), closing) + ts_.mm(1.2)
                                              : ts_.mm(1) + headerHeight + table.rowHeight(rows.first());
    sectionTitle(QStringLiteral("结论汇总"), countHeight + firstHeight);
    line(font, countText);
    if (rows.isEmpty()) {
      line(font, closing);
      return;
    }
    pages_.skip(ts_.mm(1));
    if (!pages_.fits(headerHeight + table.rowHeight(rows.first())) && !pages_.freshPage()) pages_.newPage();
    pages_.place(headerHeight, table.header());
    pages_.setPageHeader(headerHeight, table.header());
    for (int k = 0; k < rows.size(); ++k) {
      QList<CellStyle> styles(4, CellStyle::Plain);
      styles[2] = flagged[k]->outcome.verdict == Verdict::Abnormal ? CellStyle::Inverted : CellStyle::Bold;
      pages_.placeWhole(table.rowHeight(rows[k]), table.row(rows[k], styles));
    }
    pages_.setPageHeader(0, nullptr);
    pages_.skip(ts_.mm(5));
  }

  // A trend chart for each arrester in the summary, two to a page.
  void trends() {
    QList<const TrendChart *> charts;
    QSet<QString> seen;
    for (const JudgedResult *r : Flagged(report_.rows)) {
      const auto it = report_.trends.constFind(r->arrester.uuid);
      if (it != report_.trends.constEnd() && !seen.contains(r->arrester.uuid)) {
        charts << &*it;
        seen.insert(r->arrester.uuid);
      }
    }
    if (charts.isEmpty()) return;
    const double gap = ts_.mm(6);
    const double titleGuess = ts_.mm(10);
    const double chartHeight = std::min(ts_.mm(105), (pages_.body().height() - titleGuess - gap) / 2);
    sectionTitle(QStringLiteral("趋势"), chartHeight);
    for (const TrendChart *chart : charts) {
      pages_.placeWhole(chartHeight, [chart = *chart](QPainter &p, const QRectF &r) {
        p.save();
        p.setClipRect(r);
        DrawTrend(p, r, chart);
        p.restore();
      });
      if (pages_.fits(gap)) pages_.skip(gap);
    }
  }

  // 试验 / 审核 / 批准 with a line to sign on, at the foot of the last page.
  void signatures() {
    const QFont font = ReportFont(11);
    const double h = ts_.height(font, width(), QStringLiteral("试验")) + ts_.mm(8);
    if (!pages_.fits(h)) pages_.newPage();
    pages_.skip(std::max(0.0, pages_.remaining() - h));
    pages_.place(h, [ts = ts_, font](QPainter &p, const QRectF &r) {
      const QStringList roles{QStringLiteral("试验:"), QStringLiteral("审核:"), QStringLiteral("批准:")};
      const double third = r.width() / 3;
      const QFontMetricsF fm(font, &ts.device());
      const double baseline = r.top() + ts.mm(6) + fm.ascent();
      p.setFont(font);
      p.setPen(QPen(Qt::black, std::max(1.0, ts.mm(0.2))));
      for (int k = 0; k < roles.size(); ++k) {
        const double x = r.left() + k * third;
        p.drawText(QPointF(x, baseline), roles[k]);
        const double lineLeft = x + fm.horizontalAdvance(roles[k]) + ts.mmX(1);
        const double lineRight = std::min(x + third - ts.mmX(6), r.right());
        p.drawLine(QPointF(lineLeft, baseline + ts.mm(0.8)), QPointF(lineRight, baseline + ts.mm(0.8)));
      }
    });
  }

  const TestReport &report_;
  const Typesetter &ts_;
  Pages pages_;
};

// Where the text goes on the page, in the painter's coordinates: A4 less the
// margins, whatever margins the device keeps itself (a printer's edge).
QRectF TextArea(const QPagedPaintDevice &device) {
  const QPageLayout layout = device.pageLayout();
  const double sx = device.logicalDpiX() / 72.0, sy = device.logicalDpiY() / 72.0;
  const QRectF full = layout.fullRectPoints();
  const QRectF paint = layout.paintRectPoints();
  const double m = kMarginMm * 72 / 25.4;
  const QRectF area = full.adjusted(m, m, -m, -m).translated(-paint.topLeft());
  const QRectF px(area.left() * sx, area.top() * sy, area.width() * sx, area.height() * sy);
  return px.intersected(QRectF(0, 0, device.width(), device.height()));
}

}  // namespace

int PaintTestReport(const TestReport &report, QPagedPaintDevice &device, QPainter &painter) {
  if (!painter.isActive() || painter.device() != &device) return 0;
  const QPageLayout layout = device.pageLayout();
  if (layout.pageSize().id() != QPageSize::A4) device.setPageSize(QPageSize(QPageSize::A4));
  if (layout.orientation() != QPageLayout::Portrait) device.setPageOrientation(QPageLayout::Portrait);

  const Typesetter ts(device);
  const QRectF area = TextArea(device);
  if (area.height() < ts.mm(100) || area.width() < ts.mmX(100)) return 0;
  const double footer = ts.mm(kFooterMm);
  const QRectF body = area.adjusted(0, 0, 0, -footer);

  // First the pages, so the footer knows how many there are; then the paint.
  ReportLayout reportLayout(report, ts, body);
  const QList<QList<Pages::Placed>> pages = reportLayout.run().pages();
  const QFont footerFont = ReportFont(9);
  for (int i = 0; i < pages.size(); ++i) {
    if (i > 0 && !device.newPage()) return 0;
    painter.save();
    for (const Pages::Placed &block : pages[i]) {
      painter.save();
      block.paint(painter, block.rect);
      painter.restore();
    }
    painter.setPen(Qt::black);
    const QRectF foot(area.left(), area.bottom() - footer, area.width(), footer);
    ts.draw(painter, footerFont, foot, Qt::AlignLeft | Qt::AlignBottom,
            QStringLiteral("报告编号: ") + report.number);
    ts.draw(painter, footerFont, foot, Qt::AlignHCenter | Qt::AlignBottom,
            QStringLiteral("第 %1 页 共 %2 页").arg(i + 1).arg(pages.size()));
    painter.restore();
  }
  return int(pages.size());
}

bool WriteTestReportPdf(const TestReport &report, const QString &path, QString *error) {
  // The pages go to a file beside the target that takes its name only when
  // complete: a failure never leaves half a report under the name.
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) {
    if (error) *error = file.errorString();
    return false;
  }
  int pages = 0;
  {
    QPdfWriter writer(&file);
    writer.setResolution(300);
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF()));
    writer.setTitle(QStringLiteral("金属氧化物避雷器带电测试报告 %1").arg(report.number));
    writer.setCreator(QStringLiteral("arrester-monitor"));
    QPainter painter;
    if (painter.begin(&writer)) {
      pages = PaintTestReport(report, writer, painter);
      if (!painter.end()) pages = 0;
    }
  }
  if (pages <= 0) {
    file.cancelWriting();
    if (error)
      *error = file.error() != QFileDevice::NoError ? file.errorString() : QStringLiteral("无法生成报告");
    return false;
  }
  if (!file.commit()) {
    if (error) *error = file.errorString();
    return false;
  }
  return true;
}
