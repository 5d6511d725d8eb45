#include "app/ResponseCharts.h"

#include <QChart>
#include <QGraphicsLineItem>
#include <QGraphicsSimpleTextItem>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QMouseEvent>
#include <QRubberBand>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <limits>

#include "analysis/Response.h"

namespace tarn {

namespace {

constexpr double BandPenWidth = 1.5;
constexpr double SumPenWidth = 3.0;
constexpr double OwnSumPenWidth = 2.0;

// A drag shorter than this [pixels] is a click, not a zoom.
constexpr int ShortestDrag = 5;

// Space between the plot area and the frequency labels, and between two labels [pixels].
constexpr double LabelOffset = 6;
constexpr double LabelGap = 6;

// The smallest of 1, 2 and 5 times a power of ten that is at least rough.
double RoundStep(double rough) {
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (double factor : {1.0, 2.0, 5.0})
        if (rough <= factor * power * (1 + 1e-9)) return factor * power;
    return 10 * power;
}

} // namespace

QColor CurveColour(const QString& title) {
    // Lowest band to highest from violet to red, so the colours read as a spectrum; the
    // full-range band of a one-way set in orange.
    static const struct {
        const char* title;
        QColor colour;
    } colours[] = {
        {"Sub", QColor(0x80, 0x3c, 0xc4)},       {"Low", QColor(0x1f, 0x6f, 0xd0)},
        {"LowMid", QColor(0x10, 0xa0, 0xb0)},    {"Mid", QColor(0x2c, 0xa0, 0x2c)},
        {"High", QColor(0xd6, 0x27, 0x28)},      {"Full range", QColor(0xe6, 0x7e, 0x00)},
        {SumTitle, QColor(Qt::black)},           {WrittenSumTitle, QColor(Qt::black)},
        {OwnSumTitle, QColor(0x70, 0x70, 0x70)},
    };
    for (const auto& c : colours)
        if (title == QLatin1String(c.title)) return c.colour;
    return QColor(Qt::darkGray);
}

QPen CurvePen(const QString& title) {
    QPen pen(CurveColour(title));
    if (title == QLatin1String(SumTitle) || title == QLatin1String(WrittenSumTitle)) {
        pen.setWidthF(SumPenWidth);
    } else if (title == QLatin1String(OwnSumTitle)) {
        // Narrower than the sum as written, so that where the trims change nothing it shows
        // on it, grey on black. (Not dashed: a dashed series is drawn as one path, which
        // joins the points across the gaps a curve has where it has no value.)
        pen.setWidthF(OwnSumPenWidth);
    } else {
        pen.setWidthF(BandPenWidth);
    }
    return pen;
}

// ---------------------------------------------------------------------------------------
// ChartView

ChartView::ChartView(QWidget* parent) : QChartView(parent) {
    setRenderHint(QPainter::Antialiasing);
    setRubberBand(QChartView::NoRubberBand);
    setMouseTracking(true);
    line_ = new QGraphicsLineItem(chart());
    QPen pen(QColor(0x50, 0x50, 0x50));
    pen.setStyle(Qt::DashLine);
    line_->setPen(pen);
    line_->setZValue(1000);
    line_->hide();
    band_ = new QRubberBand(QRubberBand::Rectangle, viewport());
    connect(chart(), &QChart::plotAreaChanged, this, [this] { PlaceCursor(); });
}

void ChartView::SetCursor(std::optional<double> x) {
    cursor_ = x;
    PlaceCursor();
}

void ChartView::PlaceCursor() {
    const QList<QAbstractSeries*> series = chart()->series();
    if (!cursor_ || series.isEmpty()) {
        line_->hide();
        return;
    }
    const QRectF plot = chart()->plotArea();
    const double x = chart()->mapToPosition(QPointF(*cursor_, 0), series.front()).x();
    if (x < plot.left() || x > plot.right()) {
        line_->hide();
        return;
    }
    line_->setLine(x, plot.top(), x, plot.bottom());
    line_->show();
}

std::optional<double> ChartView::ValueAt(QPoint position) const {
    if (chart()->series().isEmpty()) return std::nullopt;
    const QPointF inChart = chart()->mapFromScene(mapToScene(position));
    if (!chart()->plotArea().contains(inChart)) return std::nullopt;
    return chart()->mapToValue(inChart, chart()->series().front()).x();
}

void ChartView::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (event->button() == Qt::LeftButton && ValueAt(at)) {
        dragFrom_ = at.x();
        band_->hide();
        event->accept();
        return;
    }
    QChartView::mousePressEvent(event);
}

void ChartView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (const std::optional<double> x = ValueAt(at))
        emit CursorMoved(*x);
    else
        emit CursorLeft();
    if (dragFrom_) {
        const QRect plot = mapFromScene(chart()->mapToScene(chart()->plotArea())).boundingRect();
        const int to = std::clamp(at.x(), plot.left(), plot.right());
        band_->setGeometry(QRect(QPoint(std::min(*dragFrom_, to), plot.top()),
                                 QPoint(std::max(*dragFrom_, to), plot.bottom())));
        band_->setVisible(std::abs(to - *dragFrom_) >= ShortestDrag);
        event->accept();
        return;
    }
    QChartView::mouseMoveEvent(event);
}

void ChartView::mouseReleaseEvent(QMouseEvent* event) {
    if (!dragFrom_ || event->button() != Qt::LeftButton) {
        QChartView::mouseReleaseEvent(event);
        return;
    }
    const int from = *dragFrom_;
    dragFrom_.reset();
    band_->hide();
    event->accept();
    const QRectF plot = chart()->plotArea();
    auto value = [&](int viewX) {
        QPointF inChart = chart()->mapFromScene(mapToScene(QPoint(viewX, 0)));
        inChart.setX(std::clamp(inChart.x(), plot.left(), plot.right()));
        inChart.setY(plot.center().y());
        return chart()->mapToValue(inChart, chart()->series().front()).x();
    };
    const int to = event->position().toPoint().x();
    if (std::abs(to - from) < ShortestDrag || chart()->series().isEmpty()) return;
    const double a = value(from), b = value(to);
    emit ZoomRequested(std::min(a, b), std::max(a, b));
}

void ChartView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && ValueAt(event->position().toPoint())) {
        dragFrom_.reset();
        band_->hide();
        emit ResetRequested();
        event->accept();
        return;
    }
    QChartView::mouseDoubleClickEvent(event);
}

void ChartView::leaveEvent(QEvent* event) {
    QChartView::leaveEvent(event);
    emit CursorLeft();
}

void ChartView::resizeEvent(QResizeEvent* event) {
    QChartView::resizeEvent(event);
    PlaceCursor();
}

// ---------------------------------------------------------------------------------------
// Frequency labels

std::vector<double> FrequencyLabelValues(double low, double high) {
    std::vector<double> values;
    if (!(low > 0) || !(high > low)) return values;
    const int first = static_cast<int>(std::floor(std::log10(low)));
    const int last = static_cast<int>(std::ceil(std::log10(high)));
    auto collect = [&](std::initializer_list<int> mantissas) {
        values.clear();
        for (int e = first; e <= last; ++e)
            for (int m : mantissas) {
                const double v = m * std::pow(10.0, e);
                if (v >= low * (1 - 1e-9) && v <= high * (1 + 1e-9)) values.push_back(v);
            }
    };
    collect({1, 2, 5});
    if (values.size() >= 3) return values;
    collect({1, 2, 3, 4, 5, 6, 7, 8, 9});
    if (values.size() >= 3) return values;
    values.clear();
    const double step = RoundStep((high - low) / 4);
    for (double v = std::ceil(low / step) * step; v <= high * (1 + 1e-9); v += step)
        values.push_back(v);
    return values;
}

QString FrequencyText(double hz) {
    // Rounded to a few digits first, so 2000.0000001 reads "2k".
    const double rounded = std::stod(QString::number(hz, 'g', 6).toStdString());
    if (rounded >= 1000) return QString::number(rounded / 1000, 'g', 6) + QLatin1Char('k');
    return QString::number(rounded, 'g', 6);
}

FrequencyLabels::FrequencyLabels(QChart* chart, QLogValueAxis* axis)
    : QObject(chart), chart_(chart), axis_(axis) {
    // Qt's own labels keep their room below the plot, but are not seen.
    axis_->setLabelsColor(Qt::transparent);
    connect(chart_, &QChart::plotAreaChanged, this, &FrequencyLabels::Update);
    connect(axis_, &QLogValueAxis::rangeChanged, this, &FrequencyLabels::Update);
}

void FrequencyLabels::Update() {
    const QRectF plot = chart_->plotArea();
    const double low = axis_->min(), high = axis_->max();
    const std::vector<double> values = FrequencyLabelValues(low, high);
    while (labels_.size() < values.size()) {
        auto* label = new QGraphicsSimpleTextItem(chart_);
        label->setFont(axis_->labelsFont());
        labels_.push_back(label);
    }
    double freeFrom = -1e9;
    const double span = std::log(high / low);
    for (std::size_t i = 0; i < labels_.size(); ++i) {
        QGraphicsSimpleTextItem* label = labels_[i];
        if (i >= values.size() || !(span > 0) || plot.isEmpty()) {
            label->hide();
            continue;
        }
        label->setText(FrequencyText(values[i]));
        const QRectF box = label->boundingRect();
        const double x = plot.left() + plot.width() * std::log(values[i] / low) / span;
        const double left = x - box.width() / 2;
        // A label that would run into the one before it, or out of the chart, is left out.
        if (left < freeFrom || left < 0 || left + box.width() > chart_->size().width()) {
            label->hide();
            continue;
        }
        label->setPos(left, plot.bottom() + LabelOffset);
        label->show();
        freeFrom = left + box.width() + LabelGap;
    }
}

// ---------------------------------------------------------------------------------------
// Axes and curves

void SetLinearRange(QValueAxis* axis, double low, double high, double step) {
    axis->setRange(low, high);
    axis->setTickType(QValueAxis::TicksDynamic);
    axis->setTickAnchor(0);
    axis->setTickInterval(step);
    const int decimals = std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9)));
    axis->setLabelFormat(QStringLiteral("%.%1f").arg(decimals));
}

void SetLinearRange(QValueAxis* axis, double low, double high, int labels) {
    SetLinearRange(axis, low, high, RoundStep((high - low) / labels));
}

QValueAxis* NewLinearAxis(const QString& title) {
    auto* axis = new QValueAxis;
    axis->setTitleText(title);
    return axis;
}

QLineSeries* SetCurve(QChart* chart, QAbstractAxis* x, QAbstractAxis* y,
                      const std::vector<double>& xs, const std::vector<double>& ys,
                      const QString& title, std::optional<double> breakAbove, bool* created) {
    // A line series leaves a gap at a point whose value is NaN, so a curve with gaps stays
    // one series: one legend entry, and one item to lay out.
    constexpr double gap = std::numeric_limits<double>::quiet_NaN();
    QList<QPointF> points;
    points.reserve(static_cast<qsizetype>(xs.size()));
    double previous = gap;
    for (std::size_t i = 0; i < xs.size(); ++i) {
        if (breakAbove && std::abs(ys[i] - previous) > *breakAbove)
            points.append(QPointF((xs[i - 1] + xs[i]) / 2, gap));
        points.append(QPointF(xs[i], ys[i]));
        previous = ys[i];
    }
    QLineSeries* series = nullptr;
    for (QAbstractSeries* s : chart->series())
        if (s->type() == QAbstractSeries::SeriesTypeLine && s->name() == title)
            series = static_cast<QLineSeries*>(s);
    if (created) *created = !series;
    if (!series) {
        series = new QLineSeries;
        series->setName(title);
        series->setPen(CurvePen(title));
        chart->addSeries(series);
        series->attachAxis(x);
        series->attachAxis(y);
    }
    series->replace(points);
    return series;
}

void KeepCurves(QChart* chart, const QStringList& titles) {
    for (QAbstractSeries* s : chart->series())
        if (s->type() == QAbstractSeries::SeriesTypeLine && !titles.contains(s->name())) {
            chart->removeSeries(s);
            delete s;
        }
}

} // namespace tarn
