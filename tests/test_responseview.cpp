// The response view on its own, on sets written through the driver: the cursor readout
// against the analysis, zoom and its reset, the dB range presets, the phase chart's unwrap
// option, curves hidden through a legend, band colours, the group delay's scale, the caption,
// the picture and the CSV file, the table at the window's smallest size, and a set with
// per-band trims: the sum as written beside the crossover's own sum. Runs on Qt's offscreen
// platform.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGraphicsSimpleTextItem>
#include <QGraphicsTextItem>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLegend>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QPushButton>
#include <QRegularExpression>
#include <QScatterSeries>
#include <QTableWidget>
#include <QTest>
#include <QValueAxis>
#include <array>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "analysis/Response.h"
#include "app/ResponseWindow.h"
#include "crossover/Tarndef.h"
#include "project/Driver.h"
#include "project/HeadlessWindow.h"
#include "project/IniFile.h"
#include "tests/TestSupport.h"

namespace tarn {
namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

double WrappedDeg(double deg) {
    return deg - 360.0 * std::round(deg / 360.0);
}

// A point of a chart view's viewport at `across` (0: left, 1: right) of its plot area,
// halfway down.
QPoint PlotPoint(ChartView* view, double across) {
    const QRectF plot = view->chart()->plotArea();
    const QPointF inChart(plot.left() + across * plot.width(), plot.center().y());
    return view->mapFromScene(view->chart()->mapToScene(inChart));
}

QAbstractSeries* Series(ChartView* view, const QString& name) {
    for (QAbstractSeries* s : view->chart()->series())
        if (s->name() == name && s->type() == QAbstractSeries::SeriesTypeLine) return s;
    return nullptr;
}

QColor PenColour(ChartView* view, const QString& name) {
    auto* series = static_cast<QLineSeries*>(Series(view, name));
    return series ? series->pen().color() : QColor();
}

QValueAxis* VerticalAxis(ChartView* view) {
    return static_cast<QValueAxis*>(view->chart()->axes(Qt::Vertical).front());
}

QLogValueAxis* FrequencyAxis(ChartView* view) {
    return static_cast<QLogValueAxis*>(view->chart()->axes(Qt::Horizontal).front());
}

// Where a legend shows an entry's text, in the view's viewport.
std::optional<QPoint> LegendEntry(ChartView* view, const QString& text) {
    std::vector<QGraphicsItem*> items = {view->chart()->legend()};
    while (!items.empty()) {
        QGraphicsItem* item = items.back();
        items.pop_back();
        for (QGraphicsItem* child : item->childItems())
            items.push_back(child);
        auto* label = dynamic_cast<QGraphicsTextItem*>(item);
        if (label && label->isVisible() && label->toPlainText() == text)
            return view->mapFromScene(label->sceneBoundingRect().center());
    }
    return std::nullopt;
}

// The texts a chart shows below its plot area: the labels of its horizontal axis.
QStringList AxisLabels(ChartView* view) {
    QStringList texts;
    const QRectF plot = view->chart()->plotArea();
    for (QGraphicsItem* item : view->chart()->childItems())
        if (auto* label = dynamic_cast<QGraphicsSimpleTextItem*>(item))
            if (label->isVisible() && label->pos().y() > plot.bottom()) texts << label->text();
    return texts;
}

class ResponseViewTest : public ::testing::Test {
  protected:
    void SetUp() override { ProjectPath = dir.Prefix(); }
    void TearDown() override { view.reset(); }

    // A press of "Calc Crossover" with these fields, through the driver.
    void Run(std::array<const char*, 4> fields, bool minimumPhase = true, bool rate48 = true,
             bool doublePrecision = true) {
        HeadlessWindow window;
        ScopedWindow scoped(window);
        window.SetFields(fields[0], fields[1], fields[2], fields[3]);
        window.minimumPhase = minimumPhase;
        window.radio48 = rate48;
        window.trims = trims;
        DoublePrecision = doublePrecision;
        ASSERT_TRUE(RunHandler([] { XOButtonClick(); }));
        ASSERT_TRUE(window.errors.empty()) << window.errors.front();
        ran = {rate48 ? "48" : "44", doublePrecision};
    }

    // The view shown at its default size on the set of the last Run, once drawn.
    ResponseWindow& Open() {
        if (!view) {
            view = std::make_unique<ResponseWindow>();
            view->resize(ResponseWindow::DefaultWidth, ResponseWindow::DefaultHeight);
            view->show();
            EXPECT_TRUE(QTest::qWaitForWindowExposed(view.get()));
        }
        view->RunCompleted(ProjectPath, ran.first, ran.second);
        Drawn();
        return *view;
    }

    void Drawn() {
        EXPECT_TRUE(QTest::qWaitFor([this] { return !view->Busy(); }, 10000));
        // The charts lay themselves out in posted events.
        QApplication::sendPostedEvents();
        QApplication::processEvents();
    }

    test::TempDir dir;
    std::map<std::string, BandTrim, std::less<>> trims; // of the next Run, by band word
    std::pair<std::string, bool> ran{"44", true};
    std::unique_ptr<ResponseWindow> view;
};

// ---------------------------------------------------------------------------------------
// Cursor, zoom, presets

TEST_F(ResponseViewTest, CursorReadoutShowsTheAnalysisAtTheFrequencyUnderTheMouse) {
    Run({"80", "500", "3000", "8000"});
    ResponseWindow& v = Open();
    const ResponseAnalysis& a = *v.Analysis();
    ASSERT_EQ(v.Readout->rowCount(), 6);
    EXPECT_EQ(v.Readout->horizontalHeaderItem(0)->text(), "Cursor");
    std::vector<const BandResponse*> curves;
    for (const BandResponse& band : a.bands)
        curves.push_back(&band);
    curves.push_back(&a.sum);

    // Over each frequency chart, at a low, a middle and a high frequency.
    for (ChartView* chart : {v.MagnitudeView, v.PhaseView, v.DelayView})
        for (double across : {0.05, 0.5, 0.93}) {
            const QPoint at = PlotPoint(chart, across);
            QTest::mouseMove(chart->viewport(), at);
            const std::optional<double> hz = chart->ValueAt(at);
            ASSERT_TRUE(hz);
            const QString where = QStringLiteral("%1 at %2").arg(chart->objectName()).arg(*hz);
            EXPECT_EQ(v.Readout->horizontalHeaderItem(0)->text(),
                      QString::number(*hz, 'f', 1) + " Hz")
                << where.toStdString();
            int quiet = 0;
            for (int row = 0; row < 6; ++row) {
                const BandResponse& c = *curves[row];
                EXPECT_EQ(v.Readout->item(row, 0)->text(), Q(c.title));
                const double db = a.MagnitudeDbAt(c, *hz);
                EXPECT_NEAR(v.Readout->item(row, 1)->text().toDouble(), db, 0.0051)
                    << where.toStdString() << " " << c.title;
                if (db < c.maxDb - GroupDelayRangeDb) {
                    // Far down a stop band: no phase or delay, as on the charts.
                    ++quiet;
                    EXPECT_EQ(v.Readout->item(row, 2)->text(), "-");
                    EXPECT_EQ(v.Readout->item(row, 3)->text(), "-");
                    continue;
                }
                EXPECT_NEAR(
                    WrappedDeg(v.Readout->item(row, 2)->text().toDouble() - a.PhaseDegAt(c, *hz)),
                    0.0, 0.051)
                    << where.toStdString() << " " << c.title;
                EXPECT_NEAR(v.Readout->item(row, 3)->text().toDouble(), a.RelativeDelayMsAt(c, *hz),
                            0.00051)
                    << where.toStdString() << " " << c.title;
            }
            // Five bands: at any frequency most of them are far down.
            EXPECT_GE(quiet, 2) << where.toStdString();
        }

    // Unwrapped, the phase moves by whole turns onto the unwrapped curve.
    v.UnwrapBox->click();
    const QPoint high = PlotPoint(v.PhaseView, 0.9);
    QTest::mouseMove(v.PhaseView->viewport(), high);
    const double hz = *v.PhaseView->ValueAt(high);
    const BandResponse& sum = a.sum;
    const double shown = v.Readout->item(5, 2)->text().toDouble();
    EXPECT_NEAR(WrappedDeg(shown - a.PhaseDegAt(sum, hz)), 0.0, 0.051);
    const auto above = std::upper_bound(a.frequencies.begin(), a.frequencies.end(), hz);
    const std::size_t i = static_cast<std::size_t>(above - a.frequencies.begin());
    EXPECT_LT(shown, 180 - 360); // a minimum-phase sum has turned by more than a turn here
    EXPECT_LE(std::min(std::abs(shown - sum.unwrappedPhaseDeg[i - 1]),
                       std::abs(shown - sum.unwrappedPhaseDeg[i])),
              std::abs(sum.unwrappedPhaseDeg[i] - sum.unwrappedPhaseDeg[i - 1]) + 0.1);
}

TEST_F(ResponseViewTest, DraggingZoomsEveryFrequencyChartAndADoubleClickShowsAllAgain) {
    Run({"500", "", "", ""}, false);
    ResponseWindow& v = Open();
    const double nyquist = v.Analysis()->sampleRate / 2;
    EXPECT_EQ(AxisLabels(v.MagnitudeView),
              QStringList({"10", "20", "50", "100", "200", "500", "1k", "2k", "5k", "10k", "20k"}));

    const QPoint from = PlotPoint(v.PhaseView, 0.4), to = PlotPoint(v.PhaseView, 0.6);
    const double low = *v.PhaseView->ValueAt(from), high = *v.PhaseView->ValueAt(to);
    QTest::mousePress(v.PhaseView->viewport(), Qt::LeftButton, {}, from);
    QTest::mouseMove(v.PhaseView->viewport(), to);
    QTest::mouseRelease(v.PhaseView->viewport(), Qt::LeftButton, {}, to);
    for (ChartView* chart : {v.MagnitudeView, v.PhaseView, v.DelayView}) {
        EXPECT_NEAR(FrequencyAxis(chart)->min(), low, low * 1e-9)
            << chart->objectName().toStdString();
        EXPECT_NEAR(FrequencyAxis(chart)->max(), high, high * 1e-9)
            << chart->objectName().toStdString();
        // The labels follow, still at round values.
        const QStringList labels = AxisLabels(chart);
        EXPECT_GE(labels.size(), 3) << labels.join(' ').toStdString();
        for (const QString& label : labels) {
            const double f =
                label.endsWith('k') ? label.chopped(1).toDouble() * 1000 : label.toDouble();
            EXPECT_GE(f, low * 0.999) << label.toStdString();
            EXPECT_LE(f, high * 1.001) << label.toStdString();
        }
    }
    // A click without a drag changes nothing; a double click shows the whole range.
    QTest::mouseClick(v.MagnitudeView->viewport(), Qt::LeftButton, {},
                      PlotPoint(v.MagnitudeView, 0.2));
    EXPECT_NEAR(FrequencyAxis(v.DelayView)->min(), low, low * 1e-9);
    QTest::mouseDClick(v.DelayView->viewport(), Qt::LeftButton, {}, PlotPoint(v.DelayView, 0.5));
    for (ChartView* chart : {v.MagnitudeView, v.PhaseView, v.DelayView}) {
        EXPECT_DOUBLE_EQ(FrequencyAxis(chart)->min(), 10.0);
        EXPECT_DOUBLE_EQ(FrequencyAxis(chart)->max(), nyquist);
    }

    // The time charts zoom together, and show every sample of a short stretch.
    auto timeRange = [](ChartView* chart) {
        auto* axis = static_cast<QValueAxis*>(chart->chart()->axes(Qt::Horizontal).front());
        return std::pair(axis->min(), axis->max());
    };
    const auto whole = timeRange(v.ImpulseView);
    QTest::mousePress(v.StepView->viewport(), Qt::LeftButton, {}, PlotPoint(v.StepView, 0.45));
    QTest::mouseMove(v.StepView->viewport(), PlotPoint(v.StepView, 0.55));
    QTest::mouseRelease(v.StepView->viewport(), Qt::LeftButton, {}, PlotPoint(v.StepView, 0.55));
    const auto zoomed = timeRange(v.ImpulseView);
    EXPECT_EQ(zoomed, timeRange(v.StepView));
    EXPECT_NEAR(zoomed.second - zoomed.first, (whole.second - whole.first) / 10,
                (whole.second - whole.first) / 30);
    auto* band = static_cast<QLineSeries*>(Series(v.ImpulseView, "Low"));
    ASSERT_NE(band, nullptr);
    const QList<QPointF> points = band->points();
    ASSERT_GE(points.size(), 2);
    EXPECT_NEAR(points[1].x() - points[0].x(), 1000.0 / v.Analysis()->sampleRate, 1e-9);
    QTest::mouseDClick(v.ImpulseView->viewport(), Qt::LeftButton, {},
                       PlotPoint(v.ImpulseView, 0.5));
    EXPECT_EQ(timeRange(v.StepView), whole);
}

TEST_F(ResponseViewTest, RangePresetsSetTheLevelAxis) {
    Run({"1000", "", "", ""});
    ResponseWindow& v = Open();
    QValueAxis* db = VerticalAxis(v.MagnitudeView);
    EXPECT_EQ(v.RangeBox->currentIndex(), 1);
    struct Case {
        int index;
        double low, high;
    };
    // Chosen with the keyboard, as a user steps through the list.
    v.RangeBox->setFocus();
    for (const Case c : {Case{2, -140, 6}, Case{1, -60, 6}, Case{0, -1, 1}}) {
        QTest::keyClick(v.RangeBox,
                        c.index > v.RangeBox->currentIndex() ? Qt::Key_Down : Qt::Key_Up);
        ASSERT_EQ(v.RangeBox->currentIndex(), c.index);
        EXPECT_EQ(db->min(), c.low) << c.index;
        EXPECT_EQ(db->max(), c.high) << c.index;
    }
    // A preset holds through the next run.
    Run({"2000", "", "", ""});
    Open();
    EXPECT_EQ(db->min(), -1);
    EXPECT_EQ(db->max(), 1);
}

// ---------------------------------------------------------------------------------------
// Curves

TEST_F(ResponseViewTest, ClickingALegendEntryHidesThatCurveInEveryChartAndAgainShowsIt) {
    Run({"500", "4000", "", ""});
    ResponseWindow& v = Open();
    const std::optional<QPoint> entry = LegendEntry(v.MagnitudeView, "Mid");
    ASSERT_TRUE(entry);
    QTest::mouseClick(v.MagnitudeView->viewport(), Qt::LeftButton, {}, *entry);
    for (ChartView* chart : {v.MagnitudeView, v.PhaseView, v.DelayView, v.ImpulseView}) {
        ASSERT_NE(Series(chart, "Mid"), nullptr);
        EXPECT_FALSE(Series(chart, "Mid")->isVisible()) << chart->objectName().toStdString();
        EXPECT_TRUE(Series(chart, "Low")->isVisible()) << chart->objectName().toStdString();
        // Its entry stays, to bring it back.
        EXPECT_TRUE(LegendEntry(chart, "Mid")) << chart->objectName().toStdString();
    }
    // Hidden through another chart's legend, and it stays so after the next run.
    QTest::mouseClick(v.DelayView->viewport(), Qt::LeftButton, {},
                      *LegendEntry(v.DelayView, "Sum"));
    EXPECT_FALSE(Series(v.StepView, "Sum")->isVisible());
    Run({"400", "5000", "", ""});
    Open();
    EXPECT_FALSE(Series(v.PhaseView, "Mid")->isVisible());
    EXPECT_FALSE(Series(v.MagnitudeView, "Sum")->isVisible());
    QTest::mouseClick(v.ImpulseView->viewport(), Qt::LeftButton, {},
                      *LegendEntry(v.ImpulseView, "Mid"));
    for (ChartView* chart : {v.MagnitudeView, v.PhaseView, v.DelayView, v.ImpulseView})
        EXPECT_TRUE(Series(chart, "Mid")->isVisible()) << chart->objectName().toStdString();
}

TEST_F(ResponseViewTest, EachBandKeepsItsColourWhateverTheNumberOfWays) {
    Run({"500", "4000", "", ""}); // Low, Mid, High
    Open();
    std::map<QString, QColor> threeWay;
    for (const char* band : {"Low", "Mid", "High", "Sum"})
        threeWay[band] = PenColour(view->MagnitudeView, band);
    Run({"80", "500", "3000", "8000"}); // Sub, Low, LowMid, Mid, High
    Open();
    std::set<QRgb> seen;
    for (const char* band : {"Sub", "Low", "LowMid", "Mid", "High", "Sum"}) {
        const QColor colour = PenColour(view->MagnitudeView, band);
        ASSERT_TRUE(colour.isValid()) << band;
        EXPECT_TRUE(seen.insert(colour.rgb()).second) << band << " shares a colour";
        // The same in every chart, and in the table.
        EXPECT_EQ(PenColour(view->PhaseView, band), colour) << band;
        EXPECT_EQ(PenColour(view->DelayView, band), colour) << band;
        if (threeWay.count(band)) {
            EXPECT_EQ(colour, threeWay[band]) << band;
        }
    }
    EXPECT_EQ(PenColour(view->MagnitudeView, "Sum"), QColor(Qt::black));
    EXPECT_EQ(view->Table->item(3, 0)->data(Qt::DecorationRole).value<QColor>(),
              PenColour(view->MagnitudeView, "Mid"));
    // A one-way set: its full-range band has a colour of its own.
    Run({"", "", "", ""});
    Open();
    const QColor full = PenColour(view->MagnitudeView, "Full range");
    ASSERT_TRUE(full.isValid());
    EXPECT_FALSE(seen.count(full.rgb()));
}

TEST_F(ResponseViewTest, LinearPhaseIsShownRelativeToItsBulkDelay) {
    Run({"80", "500", "3000", "8000"}, false);
    ResponseWindow& v = Open();
    ASSERT_TRUE(v.Analysis()->linearPhase);
    EXPECT_TRUE(v.DelayView->chart()->title().contains("relative to 682.667 ms"))
        << v.DelayView->chart()->title().toStdString();
    EXPECT_TRUE(v.PhaseView->chart()->title().contains("682.667 ms"));
    EXPECT_TRUE(v.Design->text().contains("linear phase, 48000 Hz"));
    // Every band and the sum: no delay and no phase where they pass, and a scale around 0.
    QValueAxis* ms = VerticalAxis(v.DelayView);
    EXPECT_LT(ms->max() - ms->min(), 5);
    EXPECT_LE(ms->min(), 0);
    EXPECT_GE(ms->max(), 0);
    for (const char* name : {"Sub", "Low", "LowMid", "Mid", "High", "Sum"}) {
        int points = 0;
        for (ChartView* chart : {v.DelayView, v.PhaseView})
            for (const QPointF& p : static_cast<QLineSeries*>(Series(chart, name))->points())
                if (!std::isnan(p.y())) {
                    ++points;
                    ASSERT_NEAR(p.y(), 0.0, 1e-3) << name << " at " << p.x();
                }
        EXPECT_GT(points, 50) << name;
    }
    auto* marks = static_cast<QScatterSeries*>(v.DelayView->chart()->series().front());
    ASSERT_EQ(marks->type(), QAbstractSeries::SeriesTypeScatter);
    EXPECT_EQ(marks->count(), 0);
}

TEST_F(ResponseViewTest, AGroupDelayFarOffItsScaleIsMarkedWhereItIs) {
    // One band with a pair of zeros just inside the unit circle at fs/4: a notch at 12 kHz
    // (34 dB deep, still drawn) where the group delay falls to -49 samples (-1 ms), against
    // about one sample everywhere else.
    std::vector<double> taps(CoefficientCount, 0.0);
    taps[0] = 1.0;
    taps[2] = 0.98 * 0.98;
    std::string bytes(taps.size() * 8, '\0');
    std::memcpy(bytes.data(), taps.data(), bytes.size());
    test::WriteText(dir.Path() / "XOL48.dbl", bytes);
    ran = {"48", true};
    ResponseWindow& v = Open();
    QValueAxis* ms = VerticalAxis(v.DelayView);
    EXPECT_GT(ms->min(), -0.9);
    EXPECT_LT(ms->max(), 0.9);
    auto* marks = static_cast<QScatterSeries*>(v.DelayView->chart()->series().front());
    ASSERT_EQ(marks->type(), QAbstractSeries::SeriesTypeScatter);
    // The band and the sum (the same curve), at the notch, on the scale's edge.
    ASSERT_EQ(marks->count(), 2);
    for (const QPointF& p : marks->points()) {
        EXPECT_NEAR(p.x(), 12000, 150);
        EXPECT_EQ(p.y(), ms->min());
    }
    // The title says how far off, and where.
    const QString title = v.DelayView->chart()->title();
    for (const char* curve : {"Full range", "Sum"}) {
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("%1 (-[0-9.]+) ms at ([0-9.]+) Hz").arg(curve))
                .match(title);
        ASSERT_TRUE(m.hasMatch()) << title.toStdString();
        EXPECT_NEAR(m.captured(1).toDouble(), -49.0 / 48, 0.03);
        EXPECT_NEAR(m.captured(2).toDouble(), 12000, 150);
    }
}

// ---------------------------------------------------------------------------------------
// Caption, picture, CSV, table

TEST_F(ResponseViewTest, CaptionNamesTheStoredDesignAsTheProgramReadsIt) {
    Run({"80", "500", "3000", "8000"});
    ResponseWindow& v = Open();
    EXPECT_EQ(v.Design->text(), "Design: 80, 500, 3000, 8000 Hz, order 10, Tarn alignment, minimum "
                                "phase, 48000 Hz, 64-bit .dbl, 5 bands, 65536 taps");
    IniFile ini(ProjectPath + "TarnProject.ini");
    ini.WriteString("Crossover", "Alignment", "Linkwitz-Riley");
    ini.WriteString("Crossover", "FilterOrder", "24");
    v.ReloadButton->click();
    Drawn();
    EXPECT_TRUE(v.Design->text().contains(", order 24, Linkwitz-Riley alignment, minimum phase"))
        << v.Design->text().toStdString();
    // An older file: the keys it lacks read as their defaults, as at start-up.
    test::WriteText(dir.Path() / "TarnProject.ini", "[Crossover]\nFrequency2=500\n");
    v.ReloadButton->click();
    Drawn();
    EXPECT_EQ(v.Design->text(),
              "Design: 500 Hz, order 10, Tarn alignment, minimum phase, 48000 Hz, "
              "64-bit .dbl, 5 bands, 65536 taps");
    // Files without their settings: only what the files say.
    std::filesystem::remove(dir.Path() / "TarnProject.ini");
    v.ReloadButton->click();
    Drawn();
    EXPECT_EQ(v.Design->text(),
              "Design: minimum phase, 48000 Hz, 64-bit .dbl, 5 bands, 65536 taps");
}

TEST_F(ResponseViewTest, PictureHoldsTheCaptionTheChartsAndTheTable) {
    Run({"500", "4000", "", ""});
    ResponseWindow& v = Open();
    const QString file = Q((dir.Path() / "view.png").string());
    ASSERT_TRUE(v.SaveCharts(file));
    QImage saved(file);
    ASSERT_FALSE(saved.isNull());
    const QImage charts = v.Charts->grab().toImage().convertToFormat(saved.format());
    const QImage table = v.Table->grab().toImage().convertToFormat(saved.format());
    // Stacked: the caption, the charts, the table at the bottom.
    const int tableTop = saved.height() - table.height();
    EXPECT_EQ(saved.copy(0, tableTop, table.width(), table.height()), table);
    int chartsTop = -1;
    for (int y = 0; y + charts.height() <= tableTop && chartsTop < 0; ++y)
        if (saved.copy(0, y, charts.width(), charts.height()) == charts) chartsTop = y;
    ASSERT_GT(chartsTop, 20); // room for two lines of caption
    // The caption is written: dark text on the window's background.
    int dark = 0;
    for (int y = 0; y < chartsTop; ++y)
        for (int x = 0; x < saved.width(); ++x)
            if (qGray(saved.pixel(x, y)) < 100) ++dark;
    EXPECT_GT(dark, 200);
    EXPECT_FALSE(v.SaveCharts(Q((dir.Path() / "missing" / "view.png").string())));
}

TEST_F(ResponseViewTest, CsvHoldsEveryCurveAtEveryGridFrequency) {
    Run({"500", "4000", "", ""});
    ResponseWindow& v = Open();
    const ResponseAnalysis& a = *v.Analysis();
    const QString file = Q((dir.Path() / "curves.csv").string());
    ASSERT_TRUE(v.SaveCurves(file));
    const QStringList lines = Q(test::ReadText(file.toStdString())).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), static_cast<int>(a.frequencies.size()) + 1);
    EXPECT_EQ(lines[0], "Hz,Low dB,Low phase deg,Low delay ms,Mid dB,Mid phase deg,Mid delay ms,"
                        "High dB,High phase deg,High delay ms,Sum dB,Sum phase deg,Sum delay ms");
    // A row in the middle of the mid band, against the analysis.
    const std::size_t i = static_cast<std::size_t>(
        std::lower_bound(a.frequencies.begin(), a.frequencies.end(), 1500.0) -
        a.frequencies.begin());
    const QStringList row = lines[static_cast<int>(i) + 1].split(',');
    ASSERT_EQ(row.size(), 13);
    EXPECT_NEAR(row[0].toDouble(), a.frequencies[i], 1e-3);
    const BandResponse* curves[] = {&a.bands[0], &a.bands[1], &a.bands[2], &a.sum};
    for (int c = 0; c < 4; ++c) {
        EXPECT_NEAR(row[1 + 3 * c].toDouble(), curves[c]->magnitudeDb[i], 1e-4) << c;
        if (std::isnan(curves[c]->phaseDeg[i])) {
            EXPECT_EQ(row[2 + 3 * c], "") << c;
            continue;
        }
        EXPECT_NEAR(row[2 + 3 * c].toDouble(), curves[c]->phaseDeg[i], 1e-3) << c;
        EXPECT_NEAR(row[3 + 3 * c].toDouble(), curves[c]->relativeDelayMs[i], 1e-4) << c;
    }
    EXPECT_FALSE(v.SaveCurves(Q((dir.Path() / "missing" / "curves.csv").string())));
    // Nothing to save where there is nothing on show.
    ResponseWindow empty;
    EXPECT_FALSE(empty.SaveCurves(Q((dir.Path() / "none.csv").string())));
    EXPECT_FALSE(QFile::exists(Q((dir.Path() / "none.csv").string())));
}

TEST_F(ResponseViewTest, TheWholeTableStaysInSightAtTheSmallestSize) {
    Run({"80", "500", "3000", "8000"});
    ResponseWindow& v = Open();
    v.resize(v.minimumSizeHint());
    QApplication::processEvents();
    EXPECT_LE(v.Table->horizontalHeader()->length(), v.Table->viewport()->width());
    EXPECT_LE(v.Table->verticalHeader()->length(), v.Table->viewport()->height());
    EXPECT_LE(v.Readout->verticalHeader()->length(), v.Readout->viewport()->height());
    EXPECT_EQ(v.Table->item(5, 0)->text(), "Sum");
}

// ---------------------------------------------------------------------------------------
// Trims

// The column of the table under a heading (its blank shown as a line break).
int Column(QTableWidget* table, const QString& heading) {
    for (int c = 0; c < table->columnCount(); ++c)
        if (table->horizontalHeaderItem(c)->text().replace('\n', ' ') == heading) return c;
    return -1;
}

QString Cell(QTableWidget* table, int row, int column) {
    const QTableWidgetItem* item = table->item(row, column);
    return item ? item->text() : QString();
}

TEST_F(ResponseViewTest, TheCrossoversOwnSumIsTheUntrimmedDesignsSumAndTheTableShowsTheTrims) {
    // The High band 6 dB down, inverted and delayed by 24 samples at 48 kHz, in both phases:
    // with the trims taken out, the sum is that of the same design without them.
    for (const bool minimumPhase : {true, false}) {
        SCOPED_TRACE(minimumPhase ? "minimum phase" : "linear phase");
        trims.clear();
        Run({"500", "4000", "", ""}, minimumPhase);
        ResponseWindow& v = Open();
        ASSERT_FALSE(v.Analysis()->ownSum);
        const BandResponse plain = v.Analysis()->sum;
        const double plainDeviation = v.Analysis()->deviationDb;

        trims["High"] = BandTrim{-6.0, 0.5, true};
        Run({"500", "4000", "", ""}, minimumPhase);
        Open();
        const ResponseAnalysis& a = *v.Analysis();
        ASSERT_TRUE(a.ownSum);
        const BandResponse& own = *a.ownSum;
        const std::vector<double>& f = a.frequencies;
        for (std::size_t i = 0; i < f.size(); ++i)
            ASSERT_NEAR(own.magnitudeDb[i], plain.magnitudeDb[i], 1e-6) << f[i];
        // As written, the sum differs by what the trims do: nothing where only the Low band
        // passes, the High band's -6 dB where only it does.
        const auto at = [&f](double hz) {
            return static_cast<std::size_t>(std::lower_bound(f.begin(), f.end(), hz) - f.begin());
        };
        EXPECT_NEAR(a.sum.magnitudeDb[at(100)], own.magnitudeDb[at(100)], 1e-4);
        EXPECT_NEAR(a.sum.magnitudeDb[at(15000)] - own.magnitudeDb[at(15000)], -6.0, 1e-2);

        // Both sums in every frequency chart and the readout, as the analysis has them.
        for (ChartView* chart : {v.MagnitudeView, v.PhaseView, v.DelayView}) {
            EXPECT_EQ(Series(chart, "Sum"), nullptr) << chart->objectName().toStdString();
            ASSERT_NE(Series(chart, "Sum as written"), nullptr);
            ASSERT_NE(Series(chart, "Crossover's own sum"), nullptr);
        }
        const QList<QPointF> drawn =
            static_cast<QLineSeries*>(Series(v.MagnitudeView, "Crossover's own sum"))->points();
        ASSERT_EQ(drawn.size(), static_cast<int>(f.size()));
        EXPECT_EQ(drawn[static_cast<int>(at(15000))].y(), own.magnitudeDb[at(15000)]);
        EXPECT_NE(PenColour(v.MagnitudeView, "Crossover's own sum"),
                  PenColour(v.MagnitudeView, "Sum as written"));
        ASSERT_EQ(v.Readout->rowCount(), 5);
        EXPECT_EQ(v.Readout->item(4, 0)->text(), "Crossover's own sum");

        // The table: both sums with their deviations, each band with the project's trims.
        const int deviation = Column(v.Table, "Max deviation dB");
        ASSERT_EQ(v.Table->rowCount(), 5);
        EXPECT_EQ(Cell(v.Table, 3, 0), "Sum as written");
        EXPECT_EQ(Cell(v.Table, 4, 0), "Crossover's own sum");
        EXPECT_NEAR(Cell(v.Table, 3, deviation).toDouble(), a.deviationDb, 1e-4);
        EXPECT_NEAR(Cell(v.Table, 4, deviation).toDouble(), plainDeviation, 1e-4);
        EXPECT_GT(std::abs(a.deviationDb - plainDeviation), 1.0);
        const int level = Column(v.Table, "Level dB"), ms = Column(v.Table, "Band delay ms"),
                  mm = Column(v.Table, "Band delay mm"), polarity = Column(v.Table, "Polarity");
        ASSERT_GE(std::min({level, ms, mm, polarity}), 0);
        const QStringList high = {Cell(v.Table, 2, level), Cell(v.Table, 2, ms),
                                  Cell(v.Table, 2, mm), Cell(v.Table, 2, polarity)};
        EXPECT_EQ(high, QStringList({"-6.00", "0.500", "171.5", "inverted"}));
        for (int row : {0, 1})
            EXPECT_EQ(QStringList({Cell(v.Table, row, level), Cell(v.Table, row, polarity)}),
                      QStringList({"0.00", "normal"}))
                << row;
    }

    // The trims are the project's as stored: edited in the file, they show on the next read.
    IniFile ini(ProjectPath + "TarnProject.ini");
    ini.WriteString("Bands", "MidLevel", "3.5");
    ini.WriteString("Bands", "HighInvert", "0");
    view->ReloadButton->click();
    Drawn();
    EXPECT_EQ(Cell(view->Table, 1, Column(view->Table, "Level dB")), "3.50");
    EXPECT_EQ(Cell(view->Table, 2, Column(view->Table, "Polarity")), "normal");

    // A set without trims again: one sum, the crossover's own gone from every chart.
    trims.clear();
    Run({"500", "4000", "", ""});
    Open();
    for (ChartView* chart : {view->MagnitudeView, view->PhaseView, view->DelayView}) {
        EXPECT_NE(Series(chart, "Sum"), nullptr) << chart->objectName().toStdString();
        EXPECT_EQ(Series(chart, "Sum as written"), nullptr) << chart->objectName().toStdString();
        EXPECT_EQ(Series(chart, "Crossover's own sum"), nullptr)
            << chart->objectName().toStdString();
    }
    EXPECT_EQ(view->Table->rowCount(), 4);
}

TEST_F(ResponseViewTest, CsvHoldsBothSumsOfATrimmedSet) {
    trims["Low"] = BandTrim{-3.0, 0.0, false};
    Run({"500", "4000", "", ""}, false);
    ResponseWindow& v = Open();
    const ResponseAnalysis& a = *v.Analysis();
    ASSERT_TRUE(a.ownSum);
    const QString file = Q((dir.Path() / "curves.csv").string());
    ASSERT_TRUE(v.SaveCurves(file));
    const QStringList lines = Q(test::ReadText(file.toStdString())).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), static_cast<int>(a.frequencies.size()) + 1);
    EXPECT_TRUE(lines[0].endsWith(",Sum as written dB,Sum as written phase deg,Sum as written "
                                  "delay ms,Crossover's own sum dB,Crossover's own sum phase "
                                  "deg,Crossover's own sum delay ms"))
        << lines[0].toStdString();
    // Where the Low band passes alone: the sum as written 3 dB down, the crossover's own flat.
    const std::size_t i = static_cast<std::size_t>(
        std::lower_bound(a.frequencies.begin(), a.frequencies.end(), 100.0) -
        a.frequencies.begin());
    const QStringList row = lines[static_cast<int>(i) + 1].split(',');
    ASSERT_EQ(row.size(), 16);
    EXPECT_NEAR(row[10].toDouble(), -3.0, 1e-3);
    EXPECT_NEAR(row[13].toDouble(), 0.0, 1e-3);
    EXPECT_NEAR(row[13].toDouble(), a.ownSum->magnitudeDb[i], 1e-4);
}

TEST_F(ResponseViewTest, ARunIsReadBesideTheWindowAndTheLatestRefreshWins) {
    Run({"1000", "", "", ""});
    ResponseWindow& v = Open();
    Run({"200", "2000", "", ""}, false, false);
    // What is on show stays until the new files are read; the window does not wait for them.
    v.RunCompleted(ProjectPath, ran.first, ran.second);
    EXPECT_TRUE(v.Busy());
    EXPECT_EQ(v.Table->rowCount(), 3);
    // A second run before the first is read: only the second is shown.
    Run({"200", "2000", "9000", ""}, false, false);
    v.RunCompleted(ProjectPath, ran.first, ran.second);
    int shown = 0;
    QObject::connect(&v, &ResponseWindow::Shown, [&shown] { ++shown; });
    Drawn();
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(v.Table->rowCount(), 5);
    EXPECT_EQ(v.windowTitle(), "Tarn - Response: XO*L44.dbl, 44100 Hz, 64-bit .dbl, 4 bands");
}

} // namespace
} // namespace tarn

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    QApplication::setApplicationName("Tarn");
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
