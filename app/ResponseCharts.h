// The pieces the response window builds its charts from: a chart view with a cursor line and
// zoom by dragging, frequency labels in 1-2-5 steps on a logarithmic axis, axes with round
// steps, curves that break where they have no value, and the fixed colour of each band.
#pragma once

#include <QChartView>
#include <QColor>
#include <QList>
#include <QObject>
#include <QPen>
#include <QPointF>
#include <QString>
#include <optional>
#include <vector>

class QAbstractAxis;
class QChart;
class QGraphicsLineItem;
class QGraphicsSimpleTextItem;
class QLineSeries;
class QLogValueAxis;
class QRubberBand;
class QValueAxis;

namespace tarn {

// The colour of a curve by its title ("Sub", "Low", "LowMid", "Mid", "High", "Full range",
// and the sums' titles of analysis/Response.h): the same band has the same colour whatever
// the number of ways. The sum (as written) is black, the crossover's own sum grey.
QColor CurveColour(const QString& title);
// The pen of a curve: the sums wider than the bands, so a band on top of them stays visible,
// and the crossover's own sum narrower than the sum as written, so both show where they meet.
QPen CurvePen(const QString& title);

// A chart view whose plot area answers the mouse: a vertical cursor line that follows it,
// zoom into the dragged stretch of the horizontal axis, and back by a double click. Clicks
// outside the plot area (the legend) go to the chart as usual.
class ChartView : public QChartView {
    Q_OBJECT

  public:
    explicit ChartView(QWidget* parent = nullptr);

    // The cursor line at this value of the horizontal axis; nothing hides it.
    void SetCursor(std::optional<double> x);
    // The value of the horizontal axis under a point of the view, when it is in the plot area.
    std::optional<double> ValueAt(QPoint position) const;

  signals:
    void CursorMoved(double x);
    void CursorLeft();
    void ZoomRequested(double from, double to);
    void ResetRequested();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void PlaceCursor();

    QGraphicsLineItem* line_ = nullptr; // owned by the chart
    std::optional<double> cursor_;
    QRubberBand* band_ = nullptr;
    std::optional<int> dragFrom_; // view x where a drag started
};

// The values to label on a logarithmic frequency axis from low to high [Hz]: 1, 2 and 5 of
// every decade; where fewer than three of those lie in the range (zoomed in), every whole
// multiple of the decade, then round linear steps.
std::vector<double> FrequencyLabelValues(double low, double high);
// "20", "500", "1k", "2.5k", "20k".
QString FrequencyText(double hz);

// Labels a logarithmic frequency axis at FrequencyLabelValues in place of Qt's labels, which
// stand only at the decades. Follows the axis range and the plot area.
class FrequencyLabels : public QObject {
    Q_OBJECT

  public:
    FrequencyLabels(QChart* chart, QLogValueAxis* axis);
    void Update();

  private:
    QChart* chart_;
    QLogValueAxis* axis_;
    std::vector<QGraphicsSimpleTextItem*> labels_; // owned by the chart
};

// A linear axis with a label at every multiple of a round step (1, 2 or 5 times a power of
// ten) that gives about `labels` of them. Qt's own even division of the range would put
// labels at odd values, and elides them when they crowd.
void SetLinearRange(QValueAxis* axis, double low, double high, int labels = 6);
// The same with a given step.
void SetLinearRange(QValueAxis* axis, double low, double high, double step);
QValueAxis* NewLinearAxis(const QString& title);

// Gives chart's curve `title` (a line series of that name on the axes x and y) the points
// (xs, ys), breaking the line where a value is NaN (and, with breakAbove, also where two
// neighbours differ by more than it: a wrapped phase). The series is made when the chart
// does not have it yet (created is then set); otherwise it keeps its place and only its
// points change: new points cost a chart one layout of the series, a new series three.
QLineSeries* SetCurve(QChart* chart, QAbstractAxis* x, QAbstractAxis* y,
                      const std::vector<double>& xs, const std::vector<double>& ys,
                      const QString& title, std::optional<double> breakAbove = std::nullopt,
                      bool* created = nullptr);
// Removes the line series of chart whose names are not among titles.
void KeepCurves(QChart* chart, const QStringList& titles);

} // namespace tarn
