// The response window (View -> Response): the coefficient files of the current project
// directory as they lie on disk, the way a convolution engine will load them. Magnitude
// and group delay of every band and of their complex sum, the impulse responses, the step
// response of the sum, and the figures of tarn-cli report.
#pragma once

#include <QString>
#include <QWidget>
#include <optional>
#include <string>

class QChart;
class QChartView;
class QLabel;
class QPushButton;
class QTableWidget;

namespace tarn {

struct CoefficientSet;
struct ResponseAnalysis;

class ResponseWindow : public QWidget {
    Q_OBJECT

  public:
    // A window of its own (not modal), owned by parent and closed with it.
    explicit ResponseWindow(QWidget* parent = nullptr);
    ~ResponseWindow() override;

    // A run of the main window has written all its files into project (a ProjectPath),
    // with this rate tag and precision: that set is the one to show from now on. Read at
    // once when the window is open, else when it next opens.
    void RunCompleted(const std::string& project, const std::string& rateTag, bool doublePrecision);

    // Reads the files again: the set of the last run when it was made in the current
    // ProjectPath and is still there, else the most recently written set in it. Does
    // nothing while a calculation runs (its files come and go); the run's end refreshes.
    void Refresh();

    // Renders the four charts into a PNG image; false when it could not be written.
    bool SaveCharts(const QString& file);

    // Controls, named for the tests.
    QLabel* Heading;
    QPushButton* ReloadButton;
    QPushButton* SaveButton;
    QWidget* Charts; // the four chart views; what SaveCharts renders
    QChartView* MagnitudeView;
    QChartView* DelayView;
    QChartView* ImpulseView;
    QChartView* StepView;
    QTableWidget* Table;

  protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    struct Run {
        std::string project;
        std::string rateTag;
        bool doublePrecision;
    };

    void SaveClick();
    void ShowAnalysis(const CoefficientSet& set, const ResponseAnalysis& analysis);
    void ShowNothing(const QString& why, bool error);

    std::optional<Run> lastRun_;
    std::string shownProject_; // the ProjectPath the window last read
    bool stale_ = true;        // a run or a project change since the last read
};

} // namespace tarn
