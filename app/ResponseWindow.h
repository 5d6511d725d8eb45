// The response window (View -> Response): the coefficient files of the current project
// directory as they lie on disk, the way a convolution engine will load them. Magnitude,
// phase and group delay of every band and of their complex sum on a shared frequency axis
// with a cursor readout, the impulse responses, the step response of the sum, and the
// figures of tarn-cli report.
//
// The files are read and analysed on a worker thread and drawn when that is done, so the
// main window never waits for them.
#pragma once

#include <QFutureWatcher>
#include <QPoint>
#include <QString>
#include <QWidget>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/ResponseCharts.h"

class QAbstractAxis;
class QCheckBox;
class QChart;
class QComboBox;
class QLabel;
class QLogValueAxis;
class QPushButton;
class QScatterSeries;
class QTableWidget;
class QValueAxis;

namespace tarn {

struct CoefficientSet;
struct LoadedSet;
struct ResponseAnalysis;

class ResponseWindow : public QWidget {
    Q_OBJECT

  public:
    // A window of its own (not modal), owned by parent and closed with it. It opens beside
    // parent, on the side with more room.
    explicit ResponseWindow(QWidget* parent = nullptr);
    ~ResponseWindow() override;

    // The size it opens at where the screen has room: seven curves (five bands and two sums)
    // in each chart's legend, the table of eight rows below.
    static constexpr int DefaultWidth = 1180;
    static constexpr int DefaultHeight = 900;

    // A run of the main window has written all its files into project (a ProjectPath),
    // with this rate tag and precision: that set is the one to show from now on. Read at
    // once when the window is open, else when it next opens.
    void RunCompleted(const std::string& project, const std::string& rateTag, bool doublePrecision);

    // Reads the files again: the set of the last run when it was made in the current
    // ProjectPath and is still there, else the most recently written set in it. Does
    // nothing while a calculation runs (its files come and go); the run's end refreshes.
    void Refresh();

    // From a Refresh until what it read is shown (then Shown is emitted).
    bool Busy() const { return loading_; }

    // What is shown; nothing while no set is.
    const ResponseAnalysis* Analysis() const { return analysis_.get(); }

    // The ranges of the magnitude chart, in the order of RangeBox.
    enum class Range { SumDetail, Normal, Deep };
    void SetRange(Range range);

    // The cursor at hz (nothing: none) in the frequency charts, and the readout of every
    // curve there: what moving the mouse over a frequency chart does.
    void SetCursorHz(std::optional<double> hz);

    // Renders a caption naming the files and the design, the charts and the table into a PNG
    // image; false when it could not be written.
    bool SaveCharts(const QString& file);
    // Writes the curves as CSV (CurvesCsv); false when nothing is shown or it could not be
    // written.
    bool SaveCurves(const QString& file);

    // Controls, named for the tests.
    QLabel* Heading;
    QLabel* Design; // the design of the files shown
    QComboBox* RangeBox;
    QCheckBox* UnwrapBox;
    QPushButton* ReloadButton;
    QPushButton* SaveButton; // Save as PNG...
    QPushButton* CsvButton;  // Save as CSV...
    QWidget* Charts;         // the five chart views and the readout; what SaveCharts renders
    ChartView* MagnitudeView;
    ChartView* PhaseView;
    ChartView* DelayView;
    ChartView* ImpulseView;
    ChartView* StepView;
    QTableWidget* Readout; // the curves' values at the cursor
    QTableWidget* Table;

  signals:
    // What a Refresh read is on show: the curves, or the reason there are none.
    void Shown();

  protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    struct Run {
        std::string project;
        std::string rateTag;
        bool doublePrecision;
    };

    static std::shared_ptr<LoadedSet> Load(const std::string& project,
                                           const std::optional<Run>& run);
    void StartLoading();
    void LoadingFinished();
    void ShowLoaded(const LoadedSet& loaded);
    void ShowAnalysis(const LoadedSet& loaded);
    void ShowNothing(const QString& why, bool error);
    void ClearCharts();
    void DrawPhase();
    void ScaleDelays();
    void SetFrequencyRange(double from, double to);
    void SetTimeRange(double from, double to);
    void ResetZoom();
    void ToggleCurve(const QString& title);
    void ApplyHidden(QChart* chart);
    void ShowCurve(QChart* chart, QAbstractAxis* x, QAbstractAxis* y, const std::vector<double>& xs,
                   const std::vector<double>& ys, const QString& title,
                   std::optional<double> breakAbove = std::nullopt);
    void FillReadout();
    void SaveClick();
    void CsvClick();
    void PlaceBesideParent();
    void KeepOnScreen();

    std::optional<Run> lastRun_;
    std::string shownProject_;       // the ProjectPath the window last read
    bool stale_ = true;              // a run or a project change since the last read
    bool placed_ = false;            // placed beside the main window once
    std::optional<QPoint> placedAt_; // where it was placed, while it has not been moved

    QFutureWatcher<std::shared_ptr<LoadedSet>> watcher_;
    bool loading_ = false; // a Refresh has not been shown yet
    bool again_ = false;   // another Refresh came while reading: read again

    std::shared_ptr<const ResponseAnalysis> analysis_;
    std::set<QString> hidden_; // titles of the curves hidden through a legend
    std::optional<double> cursorHz_;

    QLogValueAxis* magnitudeHz_;
    QValueAxis* magnitudeDb_;
    QLogValueAxis* phaseHz_;
    QValueAxis* phaseDeg_;
    QLogValueAxis* delayHz_;
    QValueAxis* delayMs_;
    QValueAxis* impulseMs_;
    QValueAxis* impulseLevel_;
    QValueAxis* stepMs_;
    QValueAxis* stepLevel_;
    QScatterSeries* offScale_;                 // where a group delay leaves its chart
    double lowestHz_ = 10, highestHz_ = 22050; // the whole frequency range
    double fromMs_ = 0, toMs_ = 1;             // the whole time range
};

} // namespace tarn
