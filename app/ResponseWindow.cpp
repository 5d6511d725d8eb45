#include "app/ResponseWindow.h"

#include <QChart>
#include <QChartView>
#include <QEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QShowEvent>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <vector>

#include "analysis/CoefficientSet.h"
#include "analysis/Response.h"
#include "crossover/Tarndef.h"
#include "project/Driver.h"

namespace tarn {

namespace {

// Band colours, lowest band first; the sum is drawn in black over them all.
const QColor BandColours[] = {QColor(0x1f, 0x77, 0xb4), QColor(0xe6, 0x7e, 0x00),
                              QColor(0x2c, 0xa0, 0x2c), QColor(0xd6, 0x27, 0x28),
                              QColor(0x94, 0x67, 0xbd)};
constexpr double BandPenWidth = 1.5;
constexpr double SumPenWidth = 3.0;

// Magnitude axis [dB]: deep enough to see the bands cross, in 6 dB steps.
constexpr double LowestDb = -60;
constexpr double HighestDb = 6;

// Points per curve of a time chart: enough for a chart a few hundred pixels wide, few
// enough that a redraw stays quick. Longer spans keep each stretch's extremes.
constexpr int TimePoints = 1600;

QColor BandColour(std::size_t band) {
    return BandColours[band % std::size(BandColours)];
}

QPen BandPen(std::size_t band) {
    QPen pen(BandColour(band));
    pen.setWidthF(BandPenWidth);
    return pen;
}

QPen SumPen() {
    QPen pen(Qt::black);
    pen.setWidthF(SumPenWidth);
    return pen;
}

QChart* NewChart(const QString& title) {
    auto* chart = new QChart;
    chart->setTitle(title);
    chart->setBackgroundRoundness(0);
    chart->setMargins(QMargins(2, 2, 2, 2));
    chart->legend()->hide();
    return chart;
}

// Puts chart into view and deletes the one it replaces.
void Install(QChartView* view, QChart* chart) {
    QChart* old = view->chart();
    view->setChart(chart);
    delete old;
}

QLogValueAxis* FrequencyAxis(double nyquist) {
    auto* axis = new QLogValueAxis;
    axis->setBase(10);
    axis->setRange(10, nyquist);
    axis->setLabelFormat("%g");
    axis->setMinorTickCount(8); // a line at every 2, 3, ... 9 of a decade
    axis->setTitleText("Hz");
    return axis;
}

// A linear axis over low..high with a label at every multiple of a round step (1, 2 or 5
// times a power of ten) that gives about `labels` of them. Qt's own even division of the
// range would put labels at odd values, and elides them when they crowd.
QValueAxis* LinearAxis(const QString& title, double low, double high, int labels = 6) {
    auto* axis = new QValueAxis;
    axis->setRange(low, high);
    const double rough = (high - low) / labels;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    double step = 10 * power;
    for (double factor : {1.0, 2.0, 5.0})
        if (rough <= factor * power) {
            step = factor * power;
            break;
        }
    axis->setTickType(QValueAxis::TicksDynamic);
    axis->setTickAnchor(0);
    axis->setTickInterval(step);
    const int decimals = std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9)));
    axis->setLabelFormat(QStringLiteral("%.%1f").arg(decimals));
    axis->setTitleText(title);
    return axis;
}

// Adds one curve. NaN values break it into separate series; only the first of them has an
// entry in the legend.
void AddCurve(QChart* chart, QAbstractAxis* x, QAbstractAxis* y, const std::vector<double>& xs,
              const std::vector<double>& ys, const QString& name, const QPen& pen) {
    QLineSeries* series = nullptr;
    bool first = true;
    for (std::size_t i = 0; i < xs.size(); ++i) {
        if (std::isnan(ys[i])) {
            series = nullptr;
            continue;
        }
        if (!series) {
            series = new QLineSeries;
            series->setName(name);
            series->setPen(pen);
            chart->addSeries(series);
            series->attachAxis(x);
            series->attachAxis(y);
            if (!first)
                for (QLegendMarker* marker : chart->legend()->markers(series))
                    marker->setVisible(false);
            first = false;
        }
        series->append(xs[i], ys[i]);
    }
}

// Samples first..last of x as (time [ms], value) points, at most about TimePoints of them:
// a stretch of many samples is drawn as its smallest and largest value, in their order.
void TimePointsOf(const std::vector<double>& x, int first, int last, double sampleRate,
                  double scale, std::vector<double>& ms, std::vector<double>& values) {
    ms.clear();
    values.clear();
    const int count = last - first + 1;
    const int stretch = std::max(1, (count + TimePoints / 2 - 1) / (TimePoints / 2));
    for (int start = first; start <= last; start += stretch) {
        const int end = std::min(last, start + stretch - 1);
        int low = start, high = start;
        for (int i = start; i <= end; ++i) {
            if (x[i] < x[low]) low = i;
            if (x[i] > x[high]) high = i;
        }
        for (int i : {std::min(low, high), std::max(low, high)}) {
            ms.push_back(1000.0 * i / sampleRate);
            values.push_back(x[i] * scale);
            if (low == high) break;
        }
    }
}

std::pair<double, double> FiniteRange(const ResponseAnalysis& a) {
    double low = INFINITY, high = -INFINITY;
    auto take = [&](const std::vector<double>& v) {
        for (double d : v)
            if (!std::isnan(d)) {
                low = std::min(low, d);
                high = std::max(high, d);
            }
    };
    for (const BandResponse& band : a.bands)
        take(band.groupDelayMs);
    take(a.sum.groupDelayMs);
    if (low > high) return {0, 1};
    return {low, high};
}

} // namespace

ResponseWindow::ResponseWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("ResponseWindow"));
    setWindowTitle(QStringLiteral("Tarn - Response"));

    Heading = new QLabel(this);
    Heading->setObjectName(QStringLiteral("Heading"));
    Heading->setTextFormat(Qt::PlainText);
    Heading->setWordWrap(true);
    ReloadButton = new QPushButton(QStringLiteral("Re&load"), this);
    ReloadButton->setObjectName(QStringLiteral("ReloadButton"));
    SaveButton = new QPushButton(QStringLiteral("&Save as PNG..."), this);
    SaveButton->setObjectName(QStringLiteral("SaveButton"));
    connect(ReloadButton, &QPushButton::clicked, this, [this] {
        stale_ = true;
        Refresh();
    });
    connect(SaveButton, &QPushButton::clicked, this, &ResponseWindow::SaveClick);

    Charts = new QWidget(this);
    Charts->setObjectName(QStringLiteral("Charts"));
    auto* grid = new QGridLayout(Charts);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(4);
    auto view = [this](const char* name) {
        auto* v = new QChartView(Charts);
        v->setObjectName(QLatin1String(name));
        v->setRenderHint(QPainter::Antialiasing);
        v->setMinimumSize(360, 240);
        return v;
    };
    MagnitudeView = view("MagnitudeView");
    DelayView = view("DelayView");
    ImpulseView = view("ImpulseView");
    StepView = view("StepView");
    grid->addWidget(MagnitudeView, 0, 0);
    grid->addWidget(DelayView, 0, 1);
    grid->addWidget(ImpulseView, 1, 0);
    grid->addWidget(StepView, 1, 1);

    Table = new QTableWidget(this);
    Table->setObjectName(QStringLiteral("Table"));
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->setSelectionMode(QAbstractItemView::NoSelection);
    Table->setFocusPolicy(Qt::NoFocus);
    Table->verticalHeader()->hide();
    Table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    Table->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    auto* top = new QHBoxLayout;
    top->addWidget(Heading, 1);
    top->addWidget(ReloadButton);
    top->addWidget(SaveButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(Charts, 1);
    layout->addWidget(Table);

    ShowNothing(QString(), false);
    resize(1180, 860);
}

ResponseWindow::~ResponseWindow() = default;

void ResponseWindow::RunCompleted(const std::string& project, const std::string& rateTag,
                                  bool doublePrecision) {
    lastRun_ = Run{project, rateTag, doublePrecision};
    stale_ = true;
    if (isVisible()) Refresh();
}

void ResponseWindow::Refresh() {
    if (CalculationRunning()) return;
    stale_ = false;
    shownProject_ = ProjectPath;
    const std::filesystem::path dir = ProjectPath.empty() ? std::string(".") : ProjectPath;
    const std::vector<CoefficientSet> sets = FindCoefficientSets(dir);
    if (sets.empty()) {
        ShowNothing("No coefficient files in " + QString::fromStdString(ProjectPath) +
                        " - press \"Calc Crossover\" in the main window.",
                    false);
        return;
    }
    const CoefficientSet* shown = &sets.front();
    bool fromRun = false;
    if (lastRun_ && lastRun_->project == ProjectPath)
        for (const CoefficientSet& set : sets)
            if (set.rateTag == lastRun_->rateTag &&
                set.doublePrecision == lastRun_->doublePrecision) {
                shown = &set;
                fromRun = true;
            }
    QString origin = fromRun ? QStringLiteral("the files of the last run")
                             : QStringLiteral("the most recently written files");
    QStringList others;
    for (const CoefficientSet& set : sets)
        if (&set != shown) others << QString::fromStdString(set.Pattern());
    if (!others.isEmpty()) origin += QStringLiteral("; also there: ") + others.join(", ");
    try {
        const ResponseAnalysis analysis = AnalyseSet(*shown);
        ShowAnalysis(*shown, analysis);
        Heading->setText(QString::fromStdString(shown->Pattern() + " in " + ProjectPath) + " (" +
                         origin + ")");
    } catch (const CoefficientFileError& e) {
        ShowNothing(QString::fromStdString(e.what()) + ".", true);
    }
}

void ResponseWindow::ShowNothing(const QString& why, bool error) {
    setWindowTitle(QStringLiteral("Tarn - Response"));
    Heading->setText(why);
    Heading->setStyleSheet(error ? QStringLiteral("color: #b00000;") : QString());
    Install(MagnitudeView, NewChart(QStringLiteral("Magnitude")));
    Install(DelayView, NewChart(QStringLiteral("Group delay")));
    Install(ImpulseView, NewChart(QStringLiteral("Impulse responses")));
    Install(StepView, NewChart(QStringLiteral("Step response of the sum")));
    Table->clear();
    Table->setRowCount(0);
    Table->setColumnCount(0);
    SaveButton->setEnabled(false);
}

void ResponseWindow::ShowAnalysis(const CoefficientSet& set, const ResponseAnalysis& a) {
    setWindowTitle(
        QString::fromStdString("Tarn - Response: " + set.Pattern() + ", " + set.Description()));
    Heading->setStyleSheet(QString());
    SaveButton->setEnabled(true);
    const double nyquist = a.sampleRate / 2;

    // The sum first, so that each band's thinner line stays visible on top of it where
    // the two coincide.
    QChart* magnitude = NewChart(QStringLiteral("Magnitude [dB]"));
    auto* f = FrequencyAxis(nyquist);
    auto* db = LinearAxis(QStringLiteral("dB"), LowestDb, HighestDb);
    db->setLabelFormat("%.0f");
    magnitude->addAxis(f, Qt::AlignBottom);
    magnitude->addAxis(db, Qt::AlignLeft);
    AddCurve(magnitude, f, db, a.frequencies, a.sum.magnitudeDb, "Sum", SumPen());
    for (std::size_t i = 0; i < a.bands.size(); ++i)
        AddCurve(magnitude, f, db, a.frequencies, a.bands[i].magnitudeDb,
                 QString::fromStdString(a.bands[i].title), BandPen(i));
    magnitude->legend()->setVisible(true);
    magnitude->legend()->setAlignment(Qt::AlignBottom);
    Install(MagnitudeView, magnitude);

    QChart* delay = NewChart(QStringLiteral("Group delay [ms]"));
    auto* fd = FrequencyAxis(nyquist);
    const auto [low, high] = FiniteRange(a);
    // A flat delay (linear phase) gets a band of a millisecond around it.
    const double pad = std::max(0.05 * (high - low), 0.5);
    auto* ms = LinearAxis(QStringLiteral("ms"), low - pad, high + pad);
    delay->addAxis(fd, Qt::AlignBottom);
    delay->addAxis(ms, Qt::AlignLeft);
    AddCurve(delay, fd, ms, a.frequencies, a.sum.groupDelayMs, "Sum", SumPen());
    for (std::size_t i = 0; i < a.bands.size(); ++i)
        AddCurve(delay, fd, ms, a.frequencies, a.bands[i].groupDelayMs,
                 QString::fromStdString(a.bands[i].title), BandPen(i));
    Install(DelayView, delay);

    std::vector<double> times, values;
    QChart* impulse = NewChart(QStringLiteral("Impulse responses, each scaled to its peak"));
    const double from = 1000.0 * a.firstSample / a.sampleRate;
    const double to = 1000.0 * a.lastSample / a.sampleRate;
    auto* t = LinearAxis(QStringLiteral("ms"), from, to);
    auto* amplitude = LinearAxis(QString(), -1.1, 1.1, 4);
    impulse->addAxis(t, Qt::AlignBottom);
    impulse->addAxis(amplitude, Qt::AlignLeft);
    for (std::size_t i = 0; i < a.bands.size(); ++i) {
        const BandResponse& band = a.bands[i];
        const double peak = std::abs(band.impulse[band.peakSample]);
        TimePointsOf(band.impulse, a.firstSample, a.lastSample, a.sampleRate,
                     peak > 0 ? 1.0 / peak : 1.0, times, values);
        AddCurve(impulse, t, amplitude, times, values, QString::fromStdString(band.title),
                 BandPen(i));
    }
    Install(ImpulseView, impulse);

    QChart* step = NewChart(QStringLiteral("Step response of the sum"));
    TimePointsOf(a.step, a.firstSample, a.lastSample, a.sampleRate, 1.0, times, values);
    const auto [stepLow, stepHigh] = std::minmax_element(values.begin(), values.end());
    auto* ts = LinearAxis(QStringLiteral("ms"), from, to);
    auto* level =
        LinearAxis(QString(), std::min(0.0, *stepLow) - 0.1, std::max(1.0, *stepHigh) + 0.1, 5);
    step->addAxis(ts, Qt::AlignBottom);
    step->addAxis(level, Qt::AlignLeft);
    AddCurve(step, ts, level, times, values, "Sum", SumPen());
    Install(StepView, step);

    const std::vector<std::string> headings = TableHeadings();
    const auto rows = TableRows(a);
    Table->clear();
    Table->setColumnCount(static_cast<int>(headings.size()));
    Table->setRowCount(static_cast<int>(rows.size()));
    QStringList labels;
    for (const std::string& h : headings)
        labels << QString::fromStdString(h);
    Table->setHorizontalHeaderLabels(labels);
    for (std::size_t r = 0; r < rows.size(); ++r)
        for (std::size_t c = 0; c < rows[r].size(); ++c) {
            auto* item = new QTableWidgetItem(QString::fromStdString(rows[r][c]));
            item->setTextAlignment(c == 0 ? (Qt::AlignLeft | Qt::AlignVCenter)
                                          : (Qt::AlignRight | Qt::AlignVCenter));
            const bool sum = r == rows.size() - 1;
            if (c == 0) item->setData(Qt::DecorationRole, sum ? QColor(Qt::black) : BandColour(r));
            if (sum) {
                QFont bold = item->font();
                bold.setBold(true);
                item->setFont(bold);
            }
            Table->setItem(static_cast<int>(r), static_cast<int>(c), item);
        }
    Table->resizeColumnsToContents();
    Table->resizeRowsToContents();
    // Tall enough for every row, so only the charts grow with the window.
    Table->setFixedHeight(Table->horizontalHeader()->height() + Table->verticalHeader()->length() +
                          2 * Table->frameWidth());
}

bool ResponseWindow::SaveCharts(const QString& file) {
    return Charts->grab().save(file, "PNG");
}

void ResponseWindow::SaveClick() {
    QFileDialog dialog(this, QStringLiteral("Save Charts"),
                       QString::fromStdString(ProjectPath) + QStringLiteral("response.png"),
                       QStringLiteral("PNG images (*.png)"));
    dialog.setObjectName(QStringLiteral("SaveChartsDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("png"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    const QString file = dialog.selectedFiles().front();
    if (!SaveCharts(file)) {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Tarn"),
                        QStringLiteral("Cannot write %1.").arg(file), QMessageBox::Ok, this);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    }
}

void ResponseWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (stale_ || shownProject_ != ProjectPath) Refresh();
}

void ResponseWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // Coming back to the window after File -> Project in the main window shows the files
    // of the new project.
    if (event->type() == QEvent::ActivationChange && isActiveWindow() &&
        (stale_ || shownProject_ != ProjectPath))
        Refresh();
}

} // namespace tarn
