#include "app/ResponseWindow.h"

#include <QChart>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSaveFile>
#include <QScatterSeries>
#include <QScreen>
#include <QShowEvent>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QValueAxis>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <vector>

#include "analysis/CoefficientSet.h"
#include "analysis/Response.h"
#include "app/ResponseCharts.h"
#include "crossover/Tarndef.h"
#include "project/Driver.h"
#include "project/IniFile.h"
#include "project/ProjectSettings.h"
#include "project/Settings.h"

namespace tarn {

// What the worker thread read for one Refresh.
struct LoadedSet {
    std::string project;              // the ProjectPath it read
    std::vector<CoefficientSet> sets; // every set there, newest first
    int shown = -1;                   // the one analysed
    bool fromRun = false;             // it is the set of the last run
    std::shared_ptr<const ResponseAnalysis> analysis;
    std::string error; // why the set could not be read
    // The design stored in the project's settings file, read as the program reads it (a key
    // the file lacks has its default); nothing when there is no such file.
    std::optional<ProjectSettings> stored;
};

namespace {

// The smallest chart that still reads: room for the axes, the legend and some curve.
constexpr int ChartWidth = 340;
constexpr int ChartHeight = 190;

// Points per curve of a time chart, at most and at least (before the chart has its size).
// Longer spans keep each stretch's extremes.
constexpr int TimePoints = 1600;
constexpr int LeastTimePoints = 800;

// The group delay chart's range holds the middle 98 % of every curve's values, what lies
// within twice that range of it, and a margin (a share of the range, at least 0.25 ms).
constexpr double DelayTrim = 0.01;
constexpr double DelayReach = 2;
constexpr double DelayPad = 0.05;
constexpr double LeastDelayPad = 0.25;

// A wrapped phase jumps by almost a turn; any step above this is drawn as a break.
constexpr double WrapJumpDeg = 180;

struct RangePreset {
    const char* text;
    double low, high, step; // [dB], a label at every step
    int minor;              // grid lines between two labels
};
// In the order of ResponseWindow::Range.
constexpr RangePreset RangePresets[] = {
    {"Sum detail (-1..+1 dB)", -1, 1, 0.5, 4},
    {"Normal (-60..+6 dB)", -60, 6, 12, 1},
    {"Deep (-140..+6 dB)", -140, 6, 20, 1},
};

// Decimals of the readout's and the captions' figures: frequencies and delays as the table
// has them, levels to a hundredth of a dB, phases to a tenth of a degree.
constexpr int HzDecimals = 1;
constexpr int MsDecimals = 3;
constexpr int DbDecimals = 2;
constexpr int DegDecimals = 1;

QString Fixed(double value, int decimals) {
    // No "-0.00" for a value that rounds to zero.
    if (std::abs(value) < 0.5 * std::pow(10.0, -decimals)) value = 0;
    return QString::number(value, 'f', decimals);
}

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

QChart* NewChart(ChartView* view, const QString& title) {
    QChart* chart = view->chart();
    chart->setTitle(title);
    chart->setBackgroundRoundness(0);
    chart->setMargins(QMargins(2, 2, 2, 2));
    // Beside the plot: the window has more room across than down.
    chart->legend()->setAlignment(Qt::AlignRight);
    chart->legend()->setVisible(true);
    // A point smaller than the chart's text: seven entries (five bands and two sums) stay in
    // a chart of the window's default height.
    QFont small = chart->legend()->font();
    small.setPointSizeF(small.pointSizeF() - 1);
    chart->legend()->setFont(small);
    chart->legend()->setContentsMargins(0, 0, 0, 0);
    return chart;
}

QLogValueAxis* NewFrequencyAxis(QChart* chart) {
    auto* axis = new QLogValueAxis;
    axis->setBase(10);
    axis->setRange(10, 22050);
    axis->setLabelFormat("%g");
    axis->setMinorTickCount(8); // a line at every 2, 3, ... 9 of a decade
    axis->setTitleText("Hz");
    chart->addAxis(axis, Qt::AlignBottom);
    new FrequencyLabels(chart, axis);
    return axis;
}

QValueAxis* AddLinearAxis(QChart* chart, const QString& title, Qt::Alignment alignment) {
    QValueAxis* axis = NewLinearAxis(title);
    chart->addAxis(axis, alignment);
    return axis;
}

// Samples first..last of x as (time [ms], value) points, at most about `points` of them:
// a stretch of many samples is drawn as its smallest and largest value, in their order.
void TimePointsOf(const std::vector<double>& x, int first, int last, double sampleRate,
                  double scale, int points, std::vector<double>& ms, std::vector<double>& values) {
    ms.clear();
    values.clear();
    const int count = last - first + 1;
    const int stretch = std::max(1, (count + points / 2 - 1) / (points / 2));
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

// The bands, lowest first, the sum, and the crossover's own sum where the set has trims: the
// curves of the frequency charts, the rows of the table and of the readout.
std::vector<const BandResponse*> Curves(const ResponseAnalysis& a) {
    std::vector<const BandResponse*> curves;
    for (const BandResponse& band : a.bands)
        curves.push_back(&band);
    curves.push_back(&a.sum);
    if (a.ownSum) curves.push_back(&*a.ownSum);
    return curves;
}

// The same with the sums first: a chart draws its series in the order they came, and each
// band's thinner line should stay visible on top of the sums where they coincide (as the
// dashed own sum on top of the sum as written).
std::vector<const BandResponse*> SumsFirst(const ResponseAnalysis& a) {
    std::vector<const BandResponse*> curves = Curves(a);
    std::rotate(curves.begin(), curves.begin() + static_cast<std::ptrdiff_t>(a.bands.size()),
                curves.end());
    return curves;
}

// The columns the table adds to those of tarn-cli report's: each band's trims (TrimTexts).
QStringList TrimHeadings() {
    return {QStringLiteral("Level dB"), QStringLiteral("Band delay ms"),
            QStringLiteral("Band delay mm"), QStringLiteral("Polarity")};
}

// Where a curve has no phase or delay to show: as far below its maximum as the analysis
// leaves them out.
bool Quiet(const ResponseAnalysis& a, const BandResponse& r, double hz) {
    return a.MagnitudeDbAt(r, hz) < r.maxDb - GroupDelayRangeDb;
}

// The phase at hz as the phase chart shows it: wrapped, or on the unwrapped curve (the
// wrapped value moved by the whole turns that bring it next to the unwrapped grid).
double ShownPhaseDeg(const ResponseAnalysis& a, const BandResponse& r, double hz, bool unwrap) {
    const double wrapped = a.PhaseDegAt(r, hz);
    if (!unwrap) return wrapped;
    const std::vector<double>& f = a.frequencies;
    const auto above = std::upper_bound(f.begin(), f.end(), hz);
    if (above == f.begin() || above == f.end()) return wrapped;
    const std::size_t i = static_cast<std::size_t>(above - f.begin()) - 1;
    const double u0 = r.unwrappedPhaseDeg[i], u1 = r.unwrappedPhaseDeg[i + 1];
    if (std::isnan(u0) || std::isnan(u1)) return wrapped;
    const double t = (hz - f[i]) / (f[i + 1] - f[i]);
    const double unwrapped = u0 + t * (u1 - u0);
    return wrapped + 360.0 * std::round((unwrapped - wrapped) / 360.0);
}

} // namespace

ResponseWindow::ResponseWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("ResponseWindow"));
    setWindowTitle(QStringLiteral("Tarn - Response"));

    Heading = new QLabel(this);
    Heading->setObjectName(QStringLiteral("Heading"));
    Heading->setTextFormat(Qt::PlainText);
    Heading->setWordWrap(true);
    Design = new QLabel(this);
    Design->setObjectName(QStringLiteral("Design"));
    Design->setTextFormat(Qt::PlainText);
    Design->setWordWrap(true);

    RangeBox = new QComboBox(this);
    RangeBox->setObjectName(QStringLiteral("RangeBox"));
    for (const RangePreset& preset : RangePresets)
        RangeBox->addItem(QString::fromUtf8(preset.text));
    RangeBox->setToolTip(QStringLiteral("The level range of the magnitude chart: the sum's "
                                        "ripple, the bands' crossings, or their stop bands"));
    UnwrapBox = new QCheckBox(QStringLiteral("&Unwrap phase"), this);
    UnwrapBox->setObjectName(QStringLiteral("UnwrapBox"));
    UnwrapBox->setToolTip(QStringLiteral("Follow the phase through whole turns instead of "
                                         "folding it into -180..180 degrees"));
    ReloadButton = new QPushButton(QStringLiteral("Re&load"), this);
    ReloadButton->setObjectName(QStringLiteral("ReloadButton"));
    ReloadButton->setToolTip(QStringLiteral("Read the coefficient files again"));
    SaveButton = new QPushButton(QStringLiteral("Save as &PNG..."), this);
    SaveButton->setObjectName(QStringLiteral("SaveButton"));
    SaveButton->setToolTip(
        QStringLiteral("Save the charts, the table and the design as a picture"));
    CsvButton = new QPushButton(QStringLiteral("Save as &CSV..."), this);
    CsvButton->setObjectName(QStringLiteral("CsvButton"));
    CsvButton->setToolTip(
        QStringLiteral("Save the level, phase and group delay of every curve as a table"));

    Charts = new QWidget(this);
    Charts->setObjectName(QStringLiteral("Charts"));
    auto* grid = new QGridLayout(Charts);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(4);
    auto view = [this](const char* name) {
        auto* v = new ChartView(Charts);
        v->setObjectName(QLatin1String(name));
        v->setMinimumSize(ChartWidth, ChartHeight);
        return v;
    };
    MagnitudeView = view("MagnitudeView");
    PhaseView = view("PhaseView");
    DelayView = view("DelayView");
    ImpulseView = view("ImpulseView");
    StepView = view("StepView");

    QChart* magnitude = NewChart(MagnitudeView, QStringLiteral("Magnitude [dB]"));
    magnitudeHz_ = NewFrequencyAxis(magnitude);
    magnitudeDb_ = AddLinearAxis(magnitude, QStringLiteral("dB"), Qt::AlignLeft);
    QChart* phase = NewChart(PhaseView, QStringLiteral("Phase [°]"));
    phaseHz_ = NewFrequencyAxis(phase);
    phaseDeg_ = AddLinearAxis(phase, QStringLiteral("°"), Qt::AlignLeft);
    QChart* delay = NewChart(DelayView, QStringLiteral("Group delay [ms]"));
    delayHz_ = NewFrequencyAxis(delay);
    delayMs_ = AddLinearAxis(delay, QStringLiteral("ms"), Qt::AlignLeft);
    QChart* impulse =
        NewChart(ImpulseView, QStringLiteral("Impulse responses, each scaled to its peak"));
    impulseMs_ = AddLinearAxis(impulse, QStringLiteral("ms"), Qt::AlignBottom);
    impulseLevel_ = AddLinearAxis(impulse, QString(), Qt::AlignLeft);
    QChart* step = NewChart(StepView, QStringLiteral("Step response of the sum"));
    stepMs_ = AddLinearAxis(step, QStringLiteral("ms"), Qt::AlignBottom);
    stepLevel_ = AddLinearAxis(step, QString(), Qt::AlignLeft);
    offScale_ = new QScatterSeries;
    offScale_->setName(QStringLiteral("Off scale"));
    offScale_->setMarkerShape(QScatterSeries::MarkerShapeTriangle);
    offScale_->setMarkerSize(11);
    offScale_->setColor(QColor(0xb0, 0x00, 0x00));
    offScale_->setBorderColor(QColor(0xb0, 0x00, 0x00));
    delay->addSeries(offScale_);
    offScale_->attachAxis(delayHz_);
    offScale_->attachAxis(delayMs_);
    ApplyHidden(delay);
    SetRange(Range::Normal);
    SetLinearRange(phaseDeg_, -180, 180, 90.0);
    SetLinearRange(delayMs_, -1, 1);
    SetLinearRange(impulseMs_, 0, 1);
    SetLinearRange(impulseLevel_, -1.1, 1.1, 4);
    SetLinearRange(stepMs_, 0, 1);
    SetLinearRange(stepLevel_, -0.1, 1.1, 5);

    Readout = new QTableWidget(Charts);
    Readout->setObjectName(QStringLiteral("Readout"));
    Readout->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Readout->setSelectionMode(QAbstractItemView::NoSelection);
    Readout->setFocusPolicy(Qt::NoFocus);
    Readout->verticalHeader()->hide();
    Readout->setColumnCount(4);
    Readout->setHorizontalHeaderLabels({QStringLiteral("Cursor"), QStringLiteral("dB"),
                                        QStringLiteral("Phase °"), QStringLiteral("Delay ms")});
    Readout->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    Readout->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Readout->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Readout->setToolTip(QStringLiteral("Move the mouse over a frequency chart to read every curve "
                                       "there; drag to zoom in, double-click to see it all"));

    // The frequency charts one above the other on the same frequency axis, so the cursor
    // and a zoom line up across them; the time charts and the readout beside them.
    grid->addWidget(MagnitudeView, 0, 0);
    grid->addWidget(PhaseView, 1, 0);
    grid->addWidget(DelayView, 2, 0);
    grid->addWidget(ImpulseView, 0, 1);
    grid->addWidget(StepView, 1, 1);
    grid->addWidget(Readout, 2, 1);

    for (ChartView* v : {MagnitudeView, PhaseView, DelayView}) {
        connect(v, &ChartView::CursorMoved, this, [this](double hz) { SetCursorHz(hz); });
        connect(v, &ChartView::ZoomRequested, this, &ResponseWindow::SetFrequencyRange);
        connect(v, &ChartView::ResetRequested, this, &ResponseWindow::ResetZoom);
    }
    for (ChartView* v : {ImpulseView, StepView}) {
        connect(v, &ChartView::ZoomRequested, this, &ResponseWindow::SetTimeRange);
        connect(v, &ChartView::ResetRequested, this, &ResponseWindow::ResetZoom);
    }

    Table = new QTableWidget(this);
    Table->setObjectName(QStringLiteral("Table"));
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->setSelectionMode(QAbstractItemView::NoSelection);
    Table->setFocusPolicy(Qt::NoFocus);
    Table->verticalHeader()->hide();
    Table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    Table->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    connect(RangeBox, &QComboBox::activated, this,
            [this](int index) { SetRange(static_cast<Range>(index)); });
    connect(UnwrapBox, &QCheckBox::toggled, this, [this] {
        DrawPhase();
        FillReadout();
    });
    connect(ReloadButton, &QPushButton::clicked, this, [this] {
        stale_ = true;
        Refresh();
    });
    connect(SaveButton, &QPushButton::clicked, this, &ResponseWindow::SaveClick);
    connect(CsvButton, &QPushButton::clicked, this, &ResponseWindow::CsvClick);
    connect(&watcher_, &QFutureWatcherBase::finished, this, &ResponseWindow::LoadingFinished);

    // The texts on lines of their own above the controls, so that neither is squeezed when
    // the window is narrow.
    auto* controls = new QHBoxLayout;
    controls->addWidget(RangeBox);
    controls->addWidget(UnwrapBox);
    controls->addStretch(1);
    controls->addWidget(ReloadButton);
    controls->addWidget(SaveButton);
    controls->addWidget(CsvButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Heading);
    layout->addWidget(Design);
    layout->addLayout(controls);
    layout->addWidget(Charts, 1);
    layout->addWidget(Table);

    ShowNothing(QString(), false);
    resize(DefaultWidth, DefaultHeight);
}

ResponseWindow::~ResponseWindow() {
    // The worker reads into buffers of its own; it only has to end before the window does.
    watcher_.waitForFinished();
}

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
    if (watcher_.isRunning()) {
        // The files may have changed since that read began: its result is dropped.
        again_ = true;
        return;
    }
    StartLoading();
}

void ResponseWindow::StartLoading() {
    loading_ = true;
    again_ = false;
    // Copies: the worker touches nothing the driver or the window may change meanwhile.
    watcher_.setFuture(QtConcurrent::run(&ResponseWindow::Load, ProjectPath, lastRun_));
}

std::shared_ptr<LoadedSet> ResponseWindow::Load(const std::string& project,
                                                const std::optional<Run>& run) {
    auto loaded = std::make_shared<LoadedSet>();
    loaded->project = project;
    try {
        const std::filesystem::path dir = project.empty() ? std::string(".") : project;
        loaded->sets = FindCoefficientSets(dir);
        if (loaded->sets.empty()) return loaded;
        loaded->shown = 0;
        if (run && run->project == project)
            for (std::size_t i = 0; i < loaded->sets.size(); ++i)
                if (loaded->sets[i].rateTag == run->rateTag &&
                    loaded->sets[i].doublePrecision == run->doublePrecision) {
                    loaded->shown = static_cast<int>(i);
                    loaded->fromRun = true;
                }
        const std::string ini = project + ProjectIniName;
        std::error_code missing;
        if (std::filesystem::is_regular_file(ini, missing))
            loaded->stored = ProjectSettings::Load(IniFile(ini));
        // The trims the run stored, as tarn-cli report takes them: the files hold them baked
        // in, and only the settings say how much of a band is trim and how much crossover.
        const CoefficientSet& set = loaded->sets[loaded->shown];
        const std::vector<BandTrim> trims =
            loaded->stored ? loaded->stored->TrimsOf(set.bands) : std::vector<BandTrim>{};
        loaded->analysis = std::make_shared<const ResponseAnalysis>(AnalyseSet(set, {}, trims));
    } catch (const std::exception& e) {
        loaded->error = e.what();
    }
    return loaded;
}

void ResponseWindow::LoadingFinished() {
    if (again_ && !CalculationRunning()) {
        StartLoading();
        return;
    }
    loading_ = false;
    again_ = false;
    if (CalculationRunning()) {
        // Read while a run was replacing the files: the run's end reads them again.
        stale_ = true;
        emit Shown();
        return;
    }
    ShowLoaded(*watcher_.result());
    emit Shown();
}

void ResponseWindow::ShowLoaded(const LoadedSet& loaded) {
    if (loaded.sets.empty() && loaded.error.empty()) {
        ShowNothing("No coefficient files in " + Q(loaded.project) +
                        " - press \"Calc Crossover\" in the main window.",
                    false);
        return;
    }
    if (!loaded.analysis) {
        ShowNothing(Q(loaded.error) + ".", true);
        return;
    }
    const CoefficientSet& shown = loaded.sets[loaded.shown];
    QString origin = loaded.fromRun ? QStringLiteral("the files of the last run")
                                    : QStringLiteral("the most recently written files");
    QStringList others;
    for (const CoefficientSet& set : loaded.sets)
        if (&set != &shown) others << Q(set.Pattern());
    if (!others.isEmpty()) origin += QStringLiteral("; also there: ") + others.join(", ");
    ShowAnalysis(loaded);
    Heading->setText(Q(shown.Pattern() + " in " + loaded.project) + " (" + origin + ")");
}

void ResponseWindow::ClearCharts() {
    for (ChartView* v : {MagnitudeView, PhaseView, DelayView, ImpulseView, StepView})
        KeepCurves(v->chart(), {});
    offScale_->clear();
}

void ResponseWindow::ShowCurve(QChart* chart, QAbstractAxis* x, QAbstractAxis* y,
                               const std::vector<double>& xs, const std::vector<double>& ys,
                               const QString& title, std::optional<double> breakAbove) {
    bool created = false;
    QLineSeries* series = SetCurve(chart, x, y, xs, ys, title, breakAbove, &created);
    if (created)
        for (QLegendMarker* marker : chart->legend()->markers(series))
            connect(marker, &QLegendMarker::clicked, this, [this, title] { ToggleCurve(title); });
}

void ResponseWindow::ShowNothing(const QString& why, bool error) {
    analysis_.reset();
    setWindowTitle(QStringLiteral("Tarn - Response"));
    Heading->setText(why);
    Heading->setStyleSheet(error ? QStringLiteral("color: #b00000;") : QString());
    Design->clear();
    Design->hide();
    ClearCharts();
    PhaseView->chart()->setTitle(QStringLiteral("Phase [°]"));
    DelayView->chart()->setTitle(QStringLiteral("Group delay [ms]"));
    Table->clear();
    Table->setRowCount(0);
    Table->setColumnCount(0);
    Readout->setRowCount(0);
    SaveButton->setEnabled(false);
    CsvButton->setEnabled(false);
}

void ResponseWindow::ShowAnalysis(const LoadedSet& loaded) {
    const CoefficientSet& set = loaded.sets[loaded.shown];
    analysis_ = loaded.analysis;
    const ResponseAnalysis& a = *analysis_;
    setWindowTitle(
        QString::fromStdString("Tarn - Response: " + set.Pattern() + ", " + set.Description()));
    Heading->setStyleSheet(QString());
    SaveButton->setEnabled(true);
    CsvButton->setEnabled(true);

    // The design: what the settings file stores, and what the files themselves say.
    QStringList design;
    if (const std::optional<ProjectSettings>& stored = loaded.stored) {
        QStringList f;
        for (const std::string& text : stored->frequencies)
            if (!text.empty()) f << Q(text);
        if (!f.isEmpty()) design << f.join(QStringLiteral(", ")) + QStringLiteral(" Hz");
        design << QStringLiteral("order %1").arg(stored->filterOrder);
        design << QString::fromUtf8(AlignmentName(stored->alignment)) +
                      QStringLiteral(" alignment");
    }
    design << (a.linearPhase ? QStringLiteral("linear phase") : QStringLiteral("minimum phase"));
    design << Q(set.Description());
    design << QStringLiteral("%1 taps").arg(a.bands.front().impulse.size());
    if (a.linearPhase && a.bulkDelaySamples > 0)
        design << QStringLiteral("latency %1 ms").arg(Fixed(a.BulkDelayMs(), MsDecimals));
    Design->setText(QStringLiteral("Design: ") + design.join(QStringLiteral(", ")));
    Design->show();

    lowestHz_ = a.frequencies.front();
    highestHz_ = a.frequencies.back();
    fromMs_ = 1000.0 * a.firstSample / a.sampleRate;
    toMs_ = 1000.0 * a.lastSample / a.sampleRate;
    // The axes get their ranges before the curves their points: a chart lays out every
    // series again when an axis changes. The curves of the bands that are no longer there
    // go; the others keep their series and only get new points.
    const std::vector<const BandResponse*> curves = Curves(a);
    QStringList titles;
    for (const BandResponse* c : curves)
        titles << Q(c->title);
    for (ChartView* v : {MagnitudeView, PhaseView, DelayView, ImpulseView, StepView})
        KeepCurves(v->chart(), titles);
    for (QLogValueAxis* axis : {magnitudeHz_, phaseHz_, delayHz_})
        axis->setRange(lowestHz_, highestHz_);
    const auto [stepLow, stepHigh] =
        std::minmax_element(a.step.begin() + a.firstSample, a.step.begin() + a.lastSample + 1);
    SetLinearRange(stepLevel_, std::min(0.0, *stepLow) - 0.1, std::max(1.0, *stepHigh) + 0.1, 5);

    QChart* magnitude = MagnitudeView->chart();
    for (const BandResponse* c : SumsFirst(a))
        ShowCurve(magnitude, magnitudeHz_, magnitudeDb_, a.frequencies, c->magnitudeDb,
                  Q(c->title));
    ApplyHidden(magnitude);
    DrawPhase();
    ScaleDelays();
    SetTimeRange(fromMs_, toMs_);

    // The figures of tarn-cli report's table, then each band's level, delay and polarity.
    QStringList headings;
    for (const std::string& h : TableHeadings())
        headings << Q(h);
    headings << TrimHeadings();
    std::vector<std::vector<std::string>> rows = TableRows(a);
    for (std::size_t r = 0; r < a.bands.size(); ++r) {
        const std::vector<std::string> trim = TrimTexts(a.trims[r]);
        rows[r].insert(rows[r].end(), trim.begin(), trim.end());
    }
    Table->clear();
    Table->setColumnCount(static_cast<int>(headings.size()));
    Table->setRowCount(static_cast<int>(rows.size()));
    // Each heading on two lines, broken at the blank nearest its middle: the figures are
    // narrower than their headings, and the table sets the window's least width.
    QStringList labels;
    for (QString label : headings) {
        int split = -1;
        for (int i = 0; i < label.size(); ++i)
            if (label[i] == ' ' &&
                (split < 0 || std::abs(2 * i - label.size()) < std::abs(2 * split - label.size())))
                split = i;
        if (split >= 0) label[split] = '\n';
        labels << label;
    }
    Table->setHorizontalHeaderLabels(labels);
    QFont bold = Table->font();
    bold.setBold(true);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const QString title = Q(curves[r]->title);
        for (std::size_t c = 0; c < rows[r].size(); ++c) {
            auto* item = new QTableWidgetItem(Q(rows[r][c]));
            item->setTextAlignment(c == 0 ? (Qt::AlignLeft | Qt::AlignVCenter)
                                          : (Qt::AlignRight | Qt::AlignVCenter));
            if (c == 0) item->setData(Qt::DecorationRole, CurveColour(title));
            if (r >= a.bands.size()) item->setFont(bold);
            Table->setItem(static_cast<int>(r), static_cast<int>(c), item);
        }
    }
    Table->resizeColumnsToContents();
    Table->resizeRowsToContents();
    // Every row and every column in sight at any window size: only the charts give way.
    Table->setFixedHeight(Table->horizontalHeader()->sizeHint().height() +
                          Table->verticalHeader()->length() + 2 * Table->frameWidth());
    Table->setMinimumWidth(Table->horizontalHeader()->length() + 2 * Table->frameWidth());

    Readout->setRowCount(static_cast<int>(curves.size()));
    for (std::size_t r = 0; r < curves.size(); ++r) {
        const QString title = Q(curves[r]->title);
        auto* name = new QTableWidgetItem(title);
        name->setData(Qt::DecorationRole, CurveColour(title));
        if (r >= a.bands.size()) name->setFont(bold);
        Readout->setItem(static_cast<int>(r), 0, name);
        for (int c = 1; c < 4; ++c) {
            auto* item = new QTableWidgetItem;
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            Readout->setItem(static_cast<int>(r), c, item);
        }
    }
    Readout->resizeRowsToContents();
    FillReadout();
    KeepOnScreen();
}

void ResponseWindow::KeepOnScreen() {
    // Only where the window still stands where it was placed: one the user moved stays put.
    if (!placedAt_ || pos() != *placedAt_ || !isVisible()) return;
    const QRect area = screen()->availableGeometry();
    const QRect frame = frameGeometry();
    if (frame.right() <= area.right()) return;
    move(std::max(area.left(), pos().x() - (frame.right() - area.right())), pos().y());
    placedAt_ = pos();
}

void ResponseWindow::DrawPhase() {
    QChart* chart = PhaseView->chart();
    if (!analysis_) return;
    const ResponseAnalysis& a = *analysis_;
    const bool unwrap = UnwrapBox->isChecked();
    chart->setTitle(a.linearPhase && a.bulkDelaySamples > 0
                        ? QStringLiteral("Phase relative to a delay of %1 ms [°]")
                              .arg(Fixed(a.BulkDelayMs(), MsDecimals))
                        : QStringLiteral("Phase [°]"));
    const std::vector<const BandResponse*> curves = Curves(a);
    double low = 0, high = 0;
    for (const BandResponse* c : curves)
        for (double d : c->unwrappedPhaseDeg)
            if (!std::isnan(d)) {
                low = std::min(low, d);
                high = std::max(high, d);
            }
    if (!unwrap) {
        SetLinearRange(phaseDeg_, -180, 180, 90.0);
    } else {
        // Whole quarter turns, doubled until about six labels cover the range.
        double step = 90;
        while ((high - low) / step > 6)
            step *= 2;
        SetLinearRange(phaseDeg_, std::floor(low / step) * step - step / 2,
                       std::ceil(high / step) * step + step / 2, step);
    }
    for (const BandResponse* c : SumsFirst(a))
        ShowCurve(chart, phaseHz_, phaseDeg_, a.frequencies,
                  unwrap ? c->unwrappedPhaseDeg : c->phaseDeg, Q(c->title),
                  unwrap ? std::nullopt : std::optional<double>(WrapJumpDeg));
    ApplyHidden(chart);
}

void ResponseWindow::ScaleDelays() {
    const ResponseAnalysis& a = *analysis_;
    QChart* chart = DelayView->chart();
    const std::vector<const BandResponse*> curves = Curves(a);
    // A notch turns the phase abruptly, and the group delay shoots off there by seconds. The
    // range holds what most of each curve does (the middle 98 %) and whatever lies near
    // that; what lies far beyond is left off and marked.
    double low = 0, high = 0;       // the middle of every curve, and 0
    double lowest = 0, highest = 0; // every value
    for (const BandResponse* c : curves) {
        std::vector<double> finite;
        for (double d : c->relativeDelayMs)
            if (!std::isnan(d)) finite.push_back(d);
        if (finite.empty()) continue;
        std::sort(finite.begin(), finite.end());
        const double last = static_cast<double>(finite.size() - 1);
        low = std::min(low, finite[static_cast<std::size_t>(std::floor(DelayTrim * last))]);
        high = std::max(high, finite[static_cast<std::size_t>(std::ceil((1 - DelayTrim) * last))]);
        lowest = std::min(lowest, finite.front());
        highest = std::max(highest, finite.back());
    }
    const double reach = DelayReach * std::max(high - low, LeastDelayPad);
    low = std::max(lowest, low - reach);
    high = std::min(highest, high + reach);
    const double pad = std::max(DelayPad * (high - low), LeastDelayPad);
    low -= pad;
    high += pad;

    SetLinearRange(delayMs_, low, high);
    for (const BandResponse* c : SumsFirst(a))
        ShowCurve(chart, delayHz_, delayMs_, a.frequencies, c->relativeDelayMs, Q(c->title));

    QList<QPointF> marks;
    QStringList notes;
    for (const BandResponse* c : curves) {
        std::optional<std::size_t> worst;
        double beyond = 0;
        for (std::size_t i = 0; i < c->relativeDelayMs.size(); ++i) {
            const double d = c->relativeDelayMs[i];
            const double out = std::max(d - high, low - d);
            if (out > beyond) {
                beyond = out;
                worst = i;
            }
        }
        if (!worst) continue;
        const double d = c->relativeDelayMs[*worst];
        const double hz = a.frequencies[*worst];
        marks.append(QPointF(hz, d > high ? high : low));
        notes << QStringLiteral("%1 %2 ms at %3 Hz")
                     .arg(Q(c->title), Fixed(d, MsDecimals), Fixed(hz, HzDecimals));
    }
    QString title = a.linearPhase && a.bulkDelaySamples > 0
                        ? QStringLiteral("Group delay relative to %1 ms [ms]")
                              .arg(Fixed(a.BulkDelayMs(), MsDecimals))
                        : QStringLiteral("Group delay [ms]");
    offScale_->replace(marks);
    if (!notes.isEmpty())
        title += QStringLiteral("<br><small>off the scale: ") + notes.join(QStringLiteral("; ")) +
                 QStringLiteral("</small>");
    chart->setTitle(title);
    ApplyHidden(chart);
}

void ResponseWindow::SetRange(Range range) {
    const RangePreset& preset = RangePresets[static_cast<int>(range)];
    SetLinearRange(magnitudeDb_, preset.low, preset.high, preset.step);
    magnitudeDb_->setMinorTickCount(preset.minor);
    RangeBox->setCurrentIndex(static_cast<int>(range));
}

void ResponseWindow::SetFrequencyRange(double from, double to) {
    from = std::max(from, lowestHz_);
    to = std::min(to, highestHz_);
    if (!(to > from)) return;
    for (QLogValueAxis* axis : {magnitudeHz_, phaseHz_, delayHz_})
        axis->setRange(from, to);
    SetCursorHz(cursorHz_);
}

void ResponseWindow::SetTimeRange(double from, double to) {
    if (!(to > from)) return;
    SetLinearRange(impulseMs_, from, to);
    SetLinearRange(stepMs_, from, to);
    if (!analysis_) return;
    // The curves again for the stretch on show, so a zoom into it shows every sample.
    const ResponseAnalysis& a = *analysis_;
    const int length = static_cast<int>(a.step.size());
    const int first =
        std::clamp(static_cast<int>(std::floor(from * a.sampleRate / 1000)) - 1, 0, length - 1);
    const int last =
        std::clamp(static_cast<int>(std::ceil(to * a.sampleRate / 1000)) + 1, first, length - 1);
    // Two points (a stretch's extremes) per pixel column of the plot.
    const int points = std::clamp(2 * static_cast<int>(ImpulseView->chart()->plotArea().width()),
                                  LeastTimePoints, TimePoints);
    std::vector<double> times, values;
    QChart* impulse = ImpulseView->chart();
    for (const BandResponse& band : a.bands) {
        const double peak = std::abs(band.impulse[band.peakSample]);
        TimePointsOf(band.impulse, first, last, a.sampleRate, peak > 0 ? 1.0 / peak : 1.0, points,
                     times, values);
        ShowCurve(impulse, impulseMs_, impulseLevel_, times, values, Q(band.title));
    }
    ApplyHidden(impulse);
    TimePointsOf(a.step, first, last, a.sampleRate, 1.0, points, times, values);
    ShowCurve(StepView->chart(), stepMs_, stepLevel_, times, values, Q(a.sum.title));
    ApplyHidden(StepView->chart());
}

void ResponseWindow::ResetZoom() {
    for (QLogValueAxis* axis : {magnitudeHz_, phaseHz_, delayHz_})
        axis->setRange(lowestHz_, highestHz_);
    SetTimeRange(fromMs_, toMs_);
    SetCursorHz(cursorHz_);
}

void ResponseWindow::ToggleCurve(const QString& title) {
    if (!hidden_.erase(title)) hidden_.insert(title);
    for (ChartView* v : {MagnitudeView, PhaseView, DelayView, ImpulseView, StepView})
        ApplyHidden(v->chart());
}

void ResponseWindow::ApplyHidden(QChart* chart) {
    for (QAbstractSeries* series : chart->series())
        series->setVisible(!hidden_.count(series->name()));
    // A hidden series takes its legend entry along; the entry stays, greyed, to bring it back.
    for (QLegendMarker* marker : chart->legend()->markers()) {
        // The marks of values off the scale are explained in the chart's title instead.
        const bool curve = marker->series()->type() == QAbstractSeries::SeriesTypeLine;
        marker->setVisible(curve);
        if (!curve) continue;
        const bool hidden = hidden_.count(marker->series()->name()) > 0;
        marker->setLabelBrush(hidden ? QBrush(Qt::gray) : chart->legend()->labelBrush());
        QColor colour = CurveColour(marker->series()->name());
        if (hidden) colour.setAlpha(60);
        marker->setBrush(colour);
        marker->setPen(QPen(colour));
    }
}

void ResponseWindow::SetCursorHz(std::optional<double> hz) {
    cursorHz_ = hz;
    for (ChartView* v : {MagnitudeView, PhaseView, DelayView})
        v->SetCursor(hz);
    FillReadout();
}

void ResponseWindow::FillReadout() {
    if (!analysis_) return;
    const ResponseAnalysis& a = *analysis_;
    const std::vector<const BandResponse*> curves = Curves(a);
    const bool at = cursorHz_ && *cursorHz_ > 0 && *cursorHz_ <= a.sampleRate / 2;
    Readout->horizontalHeaderItem(0)->setText(
        at ? Fixed(*cursorHz_, HzDecimals) + QStringLiteral(" Hz") : QStringLiteral("Cursor"));
    for (std::size_t r = 0; r < curves.size() && static_cast<int>(r) < Readout->rowCount(); ++r) {
        const BandResponse& c = *curves[r];
        QString db, deg, ms;
        if (at) {
            const double hz = *cursorHz_;
            db = Fixed(a.MagnitudeDbAt(c, hz), DbDecimals);
            const bool quiet = Quiet(a, c, hz);
            deg = quiet ? QStringLiteral("-")
                        : Fixed(ShownPhaseDeg(a, c, hz, UnwrapBox->isChecked()), DegDecimals);
            ms = quiet ? QStringLiteral("-") : Fixed(a.RelativeDelayMsAt(c, hz), MsDecimals);
        }
        Readout->item(static_cast<int>(r), 1)->setText(db);
        Readout->item(static_cast<int>(r), 2)->setText(deg);
        Readout->item(static_cast<int>(r), 3)->setText(ms);
    }
}

bool ResponseWindow::SaveCharts(const QString& file) {
    const QPixmap charts = Charts->grab();
    const QPixmap table = Table->grab();
    const double ratio = charts.devicePixelRatio();
    const QSize chartsSize = charts.deviceIndependentSize().toSize();
    const QSize tableSize = table.deviceIndependentSize().toSize();
    const QStringList lines = {Heading->text(), Design->text()};
    const QFontMetrics metrics(font());
    constexpr int margin = 8;
    int width = std::max(chartsSize.width(), tableSize.width());
    for (const QString& line : lines)
        width = std::max(width, metrics.horizontalAdvance(line) + 2 * margin);
    const int captionHeight = static_cast<int>(lines.size()) * metrics.lineSpacing() + 2 * margin;
    const int height = captionHeight + chartsSize.height() + margin + tableSize.height();

    QImage image(QSize(width, height) * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(palette().color(QPalette::Window));
    QPainter painter(&image);
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::WindowText));
    int y = margin + metrics.ascent();
    for (const QString& line : lines) {
        painter.drawText(margin, y, line);
        y += metrics.lineSpacing();
    }
    painter.drawPixmap(0, captionHeight, charts);
    painter.drawPixmap(0, captionHeight + chartsSize.height() + margin, table);
    painter.end();
    return image.save(file, "PNG");
}

bool ResponseWindow::SaveCurves(const QString& file) {
    if (!analysis_) return false;
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly)) return false;
    const std::string csv = CurvesCsv(*analysis_);
    if (out.write(csv.data(), static_cast<qint64>(csv.size())) != static_cast<qint64>(csv.size()))
        return false;
    return out.commit();
}

void ResponseWindow::SaveClick() {
    QFileDialog dialog(this, QStringLiteral("Save Charts"),
                       Q(ProjectPath) + QStringLiteral("response.png"),
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

void ResponseWindow::CsvClick() {
    QFileDialog dialog(this, QStringLiteral("Save Curves"),
                       Q(ProjectPath) + QStringLiteral("response.csv"),
                       QStringLiteral("CSV files (*.csv)"));
    dialog.setObjectName(QStringLiteral("SaveCurvesDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    const QString file = dialog.selectedFiles().front();
    if (!SaveCurves(file)) {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Tarn"),
                        QStringLiteral("Cannot write %1.").arg(file), QMessageBox::Ok, this);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    }
}

void ResponseWindow::PlaceBesideParent() {
    QWidget* main = parentWidget() ? parentWidget()->window() : nullptr;
    if (!main || !main->isVisible()) return;
    const QRect area = main->screen()->availableGeometry();
    // Before it is first shown the window has no frame yet; the main window's frame is the
    // best guess of the one it will get.
    const QSize frame = main->frameGeometry().size() - main->size();
    const QSize least = minimumSizeHint().expandedTo(minimumSize());
    const int need = least.width() + frame.width();
    QRect beside = main->frameGeometry();
    int right = area.right() - beside.right();
    int left = beside.left() - area.left();
    if (std::max(right, left) < need && beside.width() + need <= area.width()) {
        // Neither side has room, but the screen has: the main window moves over just enough.
        const int shift = need - std::max(right, left);
        main->move(main->pos() + QPoint(right >= left ? -shift : shift, 0));
        beside = main->frameGeometry();
        right = area.right() - beside.right();
        left = beside.left() - area.left();
    }
    const int room = std::max(right, left) - frame.width();
    const int width = std::clamp(room, least.width(), DefaultWidth);
    const int height = std::clamp(area.height() - frame.height(), least.height(), DefaultHeight);
    resize(width, height);
    // On the side with more room; where even that is too narrow (a small screen), against the
    // screen's edge, covering as little of the main window as it can.
    const int x = right >= left
                      ? std::min(beside.right() + 1, area.right() + 1 - width - frame.width())
                      : std::max(area.left(), beside.left() - width - frame.width());
    const int y = std::clamp(beside.top(), area.top(), area.bottom() + 1 - height - frame.height());
    move(x, std::max(y, area.top()));
    placedAt_ = pos();
}

void ResponseWindow::showEvent(QShowEvent* event) {
    if (!placed_ && !event->spontaneous()) {
        placed_ = true;
        PlaceBesideParent();
    }
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
