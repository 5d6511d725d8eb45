// The desktop window: start-up, controls, the filter-order field, the precision radios, the
// progress timer, layout on resize, and complete runs of "Calc Crossover" and File -> Project
// through the real driver and settings store. Runs on Qt's offscreen platform.
#include <QAbstractButton>
#include <QApplication>
#include <QChartView>
#include <QCheckBox>
#include <QCursor>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionSpinBox>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "app/ResponseWindow.h"
#include "app/Tarn_Unit.h"
#include "crossover/Tarndef.h"
#include "project/Driver.h"
#include "tests/TestSupport.h"

namespace {

// Modal windows that no test step answered; the watchdog closes them so a test fails
// instead of hanging.
QStringList unexpectedModals;

QString Describe(QWidget* modal) {
    if (auto* box = qobject_cast<QMessageBox*>(modal))
        return box->windowTitle() + ": " + box->text();
    return modal->windowTitle();
}

// Closes a modal window that has stood unanswered on top for about ten seconds.
class ModalWatchdog : public QObject {
  public:
    ModalWatchdog() {
        connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
        timer_.start(100);
    }

  private:
    void Poll() {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal != watched_) {
            watched_ = modal;
            polls_ = 0;
            return;
        }
        if (!modal || ++polls_ < 100) return;
        unexpectedModals << Describe(modal);
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
    }

    QTimer timer_;
    QPointer<QWidget> watched_;
    int polls_ = 0;
};

// Answers the modal windows a handler opens, in order. Each step waits until a window of its
// kind is on top, looks at it, and then acts on it from the event loop: an action may open
// another modal window, whose nested loop must be free to run the next step.
class ModalScript : public QObject {
  public:
    ModalScript() {
        connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
        timer_.start(10);
    }

    // A message box: inspect it, then press the button with the given text (OK if empty).
    ModalScript& Box(std::function<void(QMessageBox*)> inspect, const QString& button = {}) {
        steps_.push_back([inspect, button](QWidget* modal) -> std::function<void()> {
            auto* box = qobject_cast<QMessageBox*>(modal);
            if (!box) return {};
            if (inspect) inspect(box);
            QPointer<QAbstractButton> target = box->button(QMessageBox::Ok);
            for (QAbstractButton* b : box->buttons())
                if (!button.isEmpty() && b->text() == button) target = b;
            return [target] {
                if (target) target->click();
            };
        });
        return *this;
    }

    // The directory chooser: act on it (fill its name field, press a button).
    ModalScript& Chooser(std::function<void(tarn::SelectDirectoryDialog*)> act) {
        steps_.push_back([act](QWidget* modal) -> std::function<void()> {
            auto* dialog = qobject_cast<tarn::SelectDirectoryDialog*>(modal);
            if (!dialog) return {};
            QPointer<tarn::SelectDirectoryDialog> target = dialog;
            return [act, target] {
                if (target) act(target);
            };
        });
        return *this;
    }

    bool Done() const { return next_ == steps_.size(); }

  private:
    void Poll() {
        if (Done()) return;
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || modal == acted_) return;
        std::function<void()> action = steps_[next_](modal);
        if (!action) return;
        ++next_;
        acted_ = modal;
        QTimer::singleShot(0, this, action);
    }

    std::vector<std::function<std::function<void()>(QWidget*)>> steps_;
    std::size_t next_ = 0;
    QPointer<QWidget> acted_;
    QTimer timer_;
};

struct BoxSeen {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
    int progress = -1;
    bool busyCursor = false;
    bool timerActive = false;
};

bool BusyCursor() {
    return QGuiApplication::overrideCursor() &&
           QGuiApplication::overrideCursor()->shape() == Qt::WaitCursor;
}

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        appDir_ = temp_.Prefix();
        unexpectedModals.clear();
    }

    void TearDown() override {
        form_.reset();
        EXPECT_TRUE(unexpectedModals.isEmpty()) << unexpectedModals.join("; ").toStdString();
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    }

    TForm1& Create() {
        form_ = std::make_unique<TForm1>(appDir_);
        return *form_;
    }

    TForm1& CreateShown() {
        Create();
        form_->show();
        EXPECT_TRUE(QTest::qWaitForWindowActive(form_.get()));
        return *form_;
    }

    // The record of the box a script step saw, with the window's state at that moment.
    std::function<void(QMessageBox*)> Record(BoxSeen& seen) {
        return [this, &seen](QMessageBox* box) {
            seen.title = box->windowTitle();
            seen.text = box->text();
            seen.icon = box->icon();
            for (QAbstractButton* b : box->buttons())
                seen.buttons << b->text();
            seen.progress = form_->ProgressBar1->value();
            seen.busyCursor = BusyCursor();
            seen.timerActive = form_->Timer1->isActive();
        };
    }

    void Type(QLineEdit* edit, const QString& text) {
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, text);
    }

    // A quick run: linear phase needs no minimum-phase conversion.
    void LinearPhase() { form_->Minimumphasecheckbox->setChecked(false); }

    QString ProjectDir() const { return Q(tarn::ProjectPath); }

    QString TempPath() const { return Q(temp_.Path().string()); }

    tarn::test::TempDir temp_;
    std::string appDir_;
    std::unique_ptr<TForm1> form_;
};

// ---------------------------------------------------------------------------------------
// Start-up

TEST_F(WindowTest, FirstStartShowsTheDefaultProjectAndTheDefaults) {
    tarn::DoublePrecision = false;
    TForm1& form = Create();

    const std::string project = appDir_ + "MyFirstProject/";
    EXPECT_EQ(form.windowTitle(), Q("Tarn - Project: " + project));
    EXPECT_EQ(tarn::ProjectPath, project);
    EXPECT_TRUE(QFileInfo(Q(project)).isDir());
    EXPECT_EQ(Form1, &form);
    EXPECT_EQ(&tarn::Window(), static_cast<tarn::WindowOperations*>(&form));

    for (QLineEdit* edit : {form.fg1Edit, form.fg2Edit, form.fg3Edit, form.fg4Edit})
        EXPECT_TRUE(edit->text().isEmpty()) << edit->objectName().toStdString();
    EXPECT_EQ(form.FilterOrder->text(), "10");
    EXPECT_TRUE(form.Radio44->isChecked());
    EXPECT_FALSE(form.Radio48->isChecked());
    EXPECT_TRUE(form.RadioButton2->isChecked());
    EXPECT_FALSE(form.RadioButton1->isChecked());
    EXPECT_TRUE(tarn::DoublePrecision);
    EXPECT_TRUE(form.Minimumphasecheckbox->isChecked());
    EXPECT_EQ(form.ProgressBar1->value(), 0);
    EXPECT_EQ(form.ProgressBar1->minimum(), 0);
    EXPECT_EQ(form.ProgressBar1->maximum(), 100);
    EXPECT_FALSE(form.Timer1->isActive());
    EXPECT_FALSE(form.windowIcon().isNull());

    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    EXPECT_EQ(QApplication::focusWidget(), form.XOButton);
    const QRect area = form.screen()->availableGeometry();
    EXPECT_LE((form.frameGeometry().center() - area.center()).manhattanLength(), 2);
}

TEST_F(WindowTest, FailedStartUpIsReportedBeforeTheWindowOpensWithItsDefaults) {
    // The application directory does not exist, so "Tarn.ini" cannot be written.
    appDir_ = temp_.Prefix() + "missing/";
    tarn::DoublePrecision = false;
    BoxSeen seen;
    bool visibleDuringBox = true;
    ModalScript script;
    script.Box([&](QMessageBox* box) {
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.icon = box->icon();
        visibleDuringBox = Form1 && Form1->isVisible();
    });

    TForm1& form = Create();
    EXPECT_TRUE(script.Done());
    EXPECT_EQ(seen.title, "Tarn");
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
    EXPECT_EQ(seen.text, Q("In " + appDir_ + "Tarn.ini kann nicht geschrieben werden."));
    EXPECT_FALSE(visibleDuringBox);

    EXPECT_EQ(form.windowTitle(), "Tarn");
    EXPECT_TRUE(form.Radio44->isChecked());
    EXPECT_TRUE(form.RadioButton2->isChecked());
    EXPECT_TRUE(tarn::DoublePrecision);
    EXPECT_EQ(form.ProgressBar1->maximum(), 100);
    EXPECT_EQ(form.FilterOrder->text(), "10");
    form.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&form));
}

// ---------------------------------------------------------------------------------------
// Controls, menu and keyboard

TEST_F(WindowTest, CaptionsWidenedByTheSystemFontDoNotCoverEachOther) {
    TForm1& form = Create();
    // A radio pushed along by its widened neighbour stays clear of its caption, and the
    // precision group clear of the rate group.
    EXPECT_LE(form.Radio44->geometry().right(), form.Radio48->geometry().left());
    EXPECT_LE(form.RadioButton1->geometry().right(), form.RadioButton2->geometry().left());
    EXPECT_GE(form.GroupBox2->geometry().left(), form.GroupBox1->geometry().right());
    for (QGroupBox* group : {form.GroupBox1, form.GroupBox2, form.GroupBox3})
        for (QWidget* w : group->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            EXPECT_TRUE(group->rect().contains(w->geometry())) << w->objectName().toStdString();
}

TEST_F(WindowTest, FileMenuHasProjectSeparatorAndExitWithMnemonicsOnly) {
    TForm1& form = Create();
    const QList<QAction*> bar = form.menuBar()->actions();
    ASSERT_EQ(bar.size(), 2);
    EXPECT_EQ(bar[0]->text(), "&File");
    EXPECT_EQ(bar[0]->menu(), form.File1);
    EXPECT_EQ(bar[1]->text(), "&View");
    EXPECT_EQ(bar[1]->menu(), form.View1);
    ASSERT_EQ(form.View1->actions().size(), 1);
    EXPECT_EQ(form.View1->actions()[0], form.Response1);
    EXPECT_EQ(form.Response1->text(), "&Response");
    EXPECT_TRUE(form.Response1->shortcut().isEmpty());

    const QList<QAction*> items = form.File1->actions();
    ASSERT_EQ(items.size(), 3);
    EXPECT_EQ(items[0], form.Project);
    EXPECT_EQ(items[0]->text(), "&Project");
    EXPECT_TRUE(items[1]->isSeparator());
    EXPECT_EQ(items[2], form.Exit1);
    EXPECT_EQ(items[2]->text(), "&Exit");
    for (QAction* a : items)
        EXPECT_TRUE(a->shortcut().isEmpty()) << a->objectName().toStdString();
}

TEST_F(WindowTest, TabVisitsTheControlsInTheirOrderAndOnlyTheSelectedRadios) {
    TForm1& form = CreateShown();
    auto cycle = [&](Qt::Key key) {
        std::vector<QWidget*> seen{QApplication::focusWidget()};
        for (int i = 0; i < 9; ++i) {
            QTest::keyClick(QApplication::focusWidget(), key);
            seen.push_back(QApplication::focusWidget());
        }
        return seen;
    };
    using W = std::vector<QWidget*>;
    EXPECT_EQ(cycle(Qt::Key_Tab), (W{form.XOButton, form.fg1Edit, form.fg2Edit, form.fg3Edit,
                                     form.fg4Edit, form.FilterOrder, form.Radio44,
                                     form.RadioButton2, form.Minimumphasecheckbox, form.XOButton}));

    form.Radio48->setChecked(true);
    form.RadioButton1->setChecked(true);
    EXPECT_EQ(cycle(Qt::Key_Backtab),
              (W{form.XOButton, form.Minimumphasecheckbox, form.RadioButton1, form.Radio48,
                 form.FilterOrder, form.fg4Edit, form.fg3Edit, form.fg2Edit, form.fg1Edit,
                 form.XOButton}));
}

TEST_F(WindowTest, PrecisionRadiosSetDoublePrecision) {
    TForm1& form = CreateShown();
    QTest::mouseClick(form.RadioButton1, Qt::LeftButton);
    EXPECT_TRUE(form.RadioButton1->isChecked());
    EXPECT_FALSE(form.RadioButton2->isChecked());
    EXPECT_FALSE(tarn::DoublePrecision);

    QTest::mouseClick(form.RadioButton2, Qt::LeftButton);
    EXPECT_TRUE(tarn::DoublePrecision);
    QTest::mouseClick(form.RadioButton2, Qt::LeftButton);
    EXPECT_TRUE(form.RadioButton2->isChecked());
    EXPECT_TRUE(tarn::DoublePrecision);

    // Arrow keys move the selection without a click; DoublePrecision follows all the same.
    form.RadioButton2->setFocus();
    QTest::keyClick(form.RadioButton2, Qt::Key_Left);
    EXPECT_TRUE(form.RadioButton1->isChecked());
    EXPECT_FALSE(tarn::DoublePrecision);
    QTest::keyClick(form.RadioButton1, Qt::Key_Right);
    EXPECT_TRUE(form.RadioButton2->isChecked());
    EXPECT_TRUE(tarn::DoublePrecision);
}

// ---------------------------------------------------------------------------------------
// The filter-order field

TEST_F(WindowTest, FilterOrderIsLimitedWhenSetAndWhenLeftButNotWhenRead) {
    TForm1& form = CreateShown();
    tarn::SpinEdit* spin = form.FilterOrder;
    spin->setFocus();
    spin->selectAll();
    QTest::keyClicks(spin, "75");
    EXPECT_EQ(spin->text(), "75");
    EXPECT_EQ(form.FilterOrderValue(), 75); // a run started now would read 75
    QTest::keyClick(spin, Qt::Key_Tab);
    EXPECT_EQ(spin->text(), "50");
    EXPECT_EQ(QApplication::focusWidget(), form.Radio44);

    spin->setFocus();
    spin->selectAll();
    QTest::keyClicks(spin, "-3");
    QTest::keyClick(spin, Qt::Key_Tab);
    EXPECT_EQ(spin->text(), "1");

    for (auto [set, shown] : {std::pair{99, "50"}, {0, "1"}, {-7, "1"}, {37, "37"}}) {
        form.SetFilterOrderValue(set);
        EXPECT_EQ(spin->text(), shown) << set;
        EXPECT_EQ(form.FilterOrderValue(), QString(shown).toInt()) << set;
    }
}

TEST_F(WindowTest, FilterOrderAcceptsOnlyNumberKeysAndReadsOneForANonNumber) {
    TForm1& form = CreateShown();
    tarn::SpinEdit* spin = form.FilterOrder;
    spin->setFocus();
    spin->selectAll();
    QTest::keyClick(spin, Qt::Key_Backspace);
    EXPECT_EQ(spin->text(), "");
    EXPECT_EQ(form.FilterOrderValue(), 1);

    QTest::keyClicks(spin, "a1b c");
    EXPECT_EQ(spin->text(), "1");
    const QString point = spin->locale().decimalPoint();
    QTest::keyClicks(spin, point + "5+-");
    EXPECT_EQ(spin->text(), "1" + point + "5+-");
    EXPECT_EQ(form.FilterOrderValue(), 1);

    // Enter is refused like a letter; leaving keeps a non-number, which reads as 1 anyway.
    QTest::keyClick(spin, Qt::Key_Return);
    EXPECT_EQ(spin->text(), "1" + point + "5+-");
    QTest::keyClick(spin, Qt::Key_Tab);
    EXPECT_EQ(spin->text(), "1" + point + "5+-");
    EXPECT_EQ(form.FilterOrderValue(), 1);
}

TEST_F(WindowTest, FilterOrderStepsByOneWithinItsRange) {
    TForm1& form = CreateShown();
    tarn::SpinEdit* spin = form.FilterOrder;
    spin->setFocus();

    QTest::keyClick(spin, Qt::Key_Up);
    EXPECT_EQ(spin->text(), "11");
    QTest::keyClick(spin, Qt::Key_Down);
    QTest::keyClick(spin, Qt::Key_Down);
    EXPECT_EQ(spin->text(), "9");

    form.SetFilterOrderValue(50);
    QTest::keyClick(spin, Qt::Key_Up);
    EXPECT_EQ(spin->text(), "50");
    form.SetFilterOrderValue(1);
    QTest::keyClick(spin, Qt::Key_Down);
    EXPECT_EQ(spin->text(), "1");

    // From a typed value beyond the range, a step lands inside it.
    spin->selectAll();
    QTest::keyClicks(spin, "75");
    QTest::keyClick(spin, Qt::Key_Down);
    EXPECT_EQ(spin->text(), "50");

    // The buttons: the upper half of the button column steps up, the lower half down.
    form.SetFilterOrderValue(20);
    QStyleOptionSpinBox option;
    option.initFrom(spin);
    option.subControls = QStyle::SC_SpinBoxUp | QStyle::SC_SpinBoxDown;
    option.buttonSymbols = spin->buttonSymbols();
    option.stepEnabled = QAbstractSpinBox::StepUpEnabled | QAbstractSpinBox::StepDownEnabled;
    const QRect up =
        spin->style()->subControlRect(QStyle::CC_SpinBox, &option, QStyle::SC_SpinBoxUp, spin);
    const QRect down =
        spin->style()->subControlRect(QStyle::CC_SpinBox, &option, QStyle::SC_SpinBoxDown, spin);
    QTest::mouseClick(spin, Qt::LeftButton, {}, up.center());
    EXPECT_EQ(spin->text(), "21");
    QTest::mouseClick(spin, Qt::LeftButton, {}, down.center());
    QTest::mouseClick(spin, Qt::LeftButton, {}, down.center());
    EXPECT_EQ(spin->text(), "19");
}

// ---------------------------------------------------------------------------------------
// Progress timer and layout

TEST_F(WindowTest, TimerStepsTheBarByOneAndStopsAtTheTop) {
    TForm1& form = Create();
    form.SetTimerEnabled(true);
    EXPECT_TRUE(form.Timer1->isActive());
    EXPECT_EQ(form.Timer1->interval(), 2000);
    form.SetTimerEnabled(false);
    EXPECT_FALSE(form.Timer1->isActive());

    form.Timer1Timer();
    EXPECT_EQ(form.ProgressBar1->value(), 1);
    form.SetProgress(97);
    for (int i = 0; i < 5; ++i)
        form.Timer1Timer();
    EXPECT_EQ(form.ProgressBar1->value(), 100);

    // The ticks really reach the handler (shortened only to keep the test short).
    form.SetProgress(0);
    form.Timer1->setInterval(1);
    form.SetTimerEnabled(true);
    EXPECT_TRUE(QTest::qWaitFor([&] { return form.ProgressBar1->value() == 100; }, 30000));
    QTest::qWait(20);
    EXPECT_EQ(form.ProgressBar1->value(), 100);
    form.SetTimerEnabled(false);
}

TEST_F(WindowTest, ResizingKeepsTheBarAlongTheBottomAndEverythingElseInPlace) {
    TForm1& form = CreateShown();
    QWidget* client = form.centralWidget();
    std::vector<std::pair<QWidget*, QRect>> places;
    for (QWidget* w : client->findChildren<QWidget*>())
        if (w != form.ProgressBar1) places.emplace_back(w, w->geometry());

    for (QSize size : {QSize(800, 500), QSize(300, 150), QSize(473, 260)}) {
        form.resize(size);
        ASSERT_TRUE(QTest::qWaitFor([&] { return form.size() == size; }));
        EXPECT_EQ(form.ProgressBar1->geometry(),
                  QRect(0, client->height() - 17, client->width(), 17));
        for (auto& [w, place] : places)
            EXPECT_EQ(w->geometry(), place) << w->objectName().toStdString();
    }
}

// ---------------------------------------------------------------------------------------
// Window operations

TEST_F(WindowTest, BoxesShowUnicodeTextsAndErrorsGetTheErrorBox) {
    TForm1& form = CreateShown();
    BoxSeen message, error, escaped;
    ModalScript script;
    script.Box(Record(message)).Box(Record(error)).Box(Record(escaped));

    // The guard message of the minimum-phase conversion, as the core passes it (UTF-8).
    form.ShowMessage("Filtergrad muss gr\xc3\xb6\xc3\x9f"
                     "er 256 sein!");
    EXPECT_FALSE(tarn::RunHandler([] { throw tarn::TarnError("Datei nicht gefunden: \xc3\xa4"); }));

    // An error escaping an event handler lands in the error box, and the loop goes on.
    struct Thrower : QObject {
        int handled = 0;
        bool event(QEvent* e) override {
            if (e->type() != QEvent::User) return QObject::event(e);
            if (++handled == 1) throw tarn::TarnError("Boom.");
            return true;
        }
    } thrower;
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    EXPECT_TRUE(QTest::qWaitFor([&] { return thrower.handled == 2; }));
    EXPECT_TRUE(script.Done());

    EXPECT_EQ(message.title, "Tarn");
    EXPECT_EQ(message.text, QString::fromUtf16(u"Filtergrad muss gr\u00f6\u00dfer 256 sein!"));
    EXPECT_EQ(message.icon, QMessageBox::NoIcon);
    EXPECT_EQ(message.buttons.size(), 1);
    EXPECT_EQ(error.title, "Tarn");
    EXPECT_EQ(error.icon, QMessageBox::Critical);
    EXPECT_EQ(error.text, QString::fromUtf16(u"Datei nicht gefunden: \u00e4."));
    EXPECT_EQ(error.buttons.size(), 1);
    EXPECT_EQ(escaped.icon, QMessageBox::Critical);
    EXPECT_EQ(escaped.text, "Boom.");
}

// ---------------------------------------------------------------------------------------
// Calc Crossover

TEST_F(WindowTest, CalcCrossoverWritesTheBandsAndReportsCompletion) {
    // The example values a new user types in, with minimum phase as the window starts.
    TForm1& form = CreateShown();
    ASSERT_TRUE(form.Minimumphasecheckbox->isChecked());
    Type(form.fg1Edit, "80");
    Type(form.fg2Edit, "500");
    Type(form.fg3Edit, "3000");
    BoxSeen done;
    ModalScript script;
    script.Box(Record(done));

    QTest::mouseClick(form.XOButton, Qt::LeftButton);
    EXPECT_TRUE(script.Done());
    EXPECT_EQ(done.title, "Tarn");
    // Three usable fields and an empty fourth make four ways.
    EXPECT_EQ(done.text, "Calculation 4-way XO done");
    EXPECT_EQ(done.icon, QMessageBox::NoIcon);
    EXPECT_EQ(done.buttons.size(), 1);
    EXPECT_EQ(done.progress, 100);
    EXPECT_FALSE(done.busyCursor);
    EXPECT_FALSE(done.timerActive);

    EXPECT_EQ(form.ProgressBar1->value(), 0);
    EXPECT_FALSE(tarn::CalculationRunning());
    for (const char* band : {"Sub", "Low", "Mid", "High"})
        for (const char* side : {"L", "R"}) {
            const QString file = ProjectDir() + "XO" + band + side + "44.dbl";
            EXPECT_EQ(QFileInfo(file).size(), 65536 * 8) << file.toStdString();
        }
    EXPECT_TRUE(QFileInfo::exists(ProjectDir() + "TarnProject.ini"));
    EXPECT_EQ(form.fg3Edit->text(), "3000");
    EXPECT_EQ(form.fg4Edit->text(), "");
}

TEST_F(WindowTest, RunIntoAMissingProjectShowsTheErrorAndLeavesTheWindowIdle) {
    TForm1& form = CreateShown();
    LinearPhase();
    Type(form.fg1Edit, "500");
    const std::string project = tarn::ProjectPath;
    tarn::ProjectPath = temp_.Prefix() + "gone/";
    BoxSeen error;
    ModalScript script;
    script.Box(Record(error));

    QTest::mouseClick(form.XOButton, Qt::LeftButton);
    EXPECT_TRUE(script.Done());
    EXPECT_EQ(error.title, "Tarn");
    EXPECT_EQ(error.icon, QMessageBox::Critical);
    EXPECT_EQ(error.text,
              Q("In " + tarn::ProjectPath + "TarnProject.ini kann nicht geschrieben werden."));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(form.Timer1->isActive());
    EXPECT_EQ(form.ProgressBar1->value(), 0);
    EXPECT_EQ(form.fg1Edit->text(), "500");
    EXPECT_FALSE(tarn::CalculationRunning());

    // The next run starts afresh, with the rate and precision chosen in the window.
    tarn::ProjectPath = project;
    QTest::mouseClick(form.Radio48, Qt::LeftButton);
    QTest::mouseClick(form.RadioButton1, Qt::LeftButton);
    BoxSeen done;
    ModalScript again;
    again.Box(Record(done));
    QTest::mouseClick(form.XOButton, Qt::LeftButton);
    EXPECT_EQ(done.text, "Calculation 2-way XO done");
    for (const char* name : {"XOLowL48.pcm", "XOLowR48.pcm", "XOHighL48.pcm", "XOHighR48.pcm"})
        EXPECT_EQ(QFileInfo(ProjectDir() + name).size(), 65536 * 4) << name;
}

TEST_F(WindowTest, SecondClickAndProjectDuringARunDoNothing) {
    TForm1& form = CreateShown();
    LinearPhase();
    Type(form.fg1Edit, "500");
    const std::string project = tarn::ProjectPath;
    int completions = 0;
    ModalScript script;
    script.Box([&](QMessageBox* box) {
        if (box->text().startsWith("Calculation")) ++completions;
    });

    bool fired = false, runningBefore = false, busyAfter = false, timerAfter = false;
    bool chooserOpened = false;
    // The driver passes through the event loop once before it starts the timer, then again
    // in every transform: the second pass is in the middle of the run.
    QTimer::singleShot(0, &form, [&] {
        QTimer::singleShot(0, &form, [&] {
            fired = true;
            runningBefore = tarn::CalculationRunning();
            QTimer::singleShot(0, &form, [&] {
                chooserOpened = qobject_cast<tarn::SelectDirectoryDialog*>(
                                    QApplication::activeModalWidget()) != nullptr;
            });
            QTest::mouseClick(form.XOButton, Qt::LeftButton);
            form.Project->trigger();
            busyAfter = BusyCursor();
            timerAfter = form.Timer1->isActive();
        });
    });

    form.XOButton->click();
    ASSERT_TRUE(fired);
    EXPECT_TRUE(runningBefore);
    EXPECT_TRUE(busyAfter);
    EXPECT_TRUE(timerAfter);
    EXPECT_FALSE(chooserOpened);
    // Let any further box appear before counting.
    QTest::qWait(50);
    EXPECT_TRUE(script.Done());
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(tarn::ProjectPath, project);
    EXPECT_TRUE(QFileInfo::exists(ProjectDir() + "XOHighR44.dbl"));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(form.Timer1->isActive());
}

TEST_F(WindowTest, ExitDuringARunClosesTheWindowOnceTheRunHasEnded) {
    TForm1& form = CreateShown();
    LinearPhase();
    Type(form.fg1Edit, "500");
    BoxSeen done;
    ModalScript script;
    script.Box(Record(done));

    bool visibleAfterExit = false, visibleAfterClose = false, closeRefused = false;
    QTimer::singleShot(0, &form, [&] {
        form.Exit1->trigger();
        visibleAfterExit = form.isVisible();
        closeRefused = !form.close();
        visibleAfterClose = form.isVisible();
    });

    form.XOButton->click();
    EXPECT_TRUE(visibleAfterExit);
    EXPECT_TRUE(closeRefused);
    EXPECT_TRUE(visibleAfterClose);
    EXPECT_EQ(done.text, "Calculation 2-way XO done");
    EXPECT_TRUE(QFileInfo::exists(ProjectDir() + "XOHighR44.dbl"));
    EXPECT_FALSE(form.isVisible());
}

TEST_F(WindowTest, ExitWhenIdleClosesWithoutWritingAnything) {
    TForm1& form = CreateShown();
    const QStringList before =
        QDir(ProjectDir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    QFile appIni(Q(appDir_) + "Tarn.ini");
    const QDateTime modified = QFileInfo(appIni).lastModified();
    form.Exit1->trigger();
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(QDir(ProjectDir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
    EXPECT_EQ(QFileInfo(appIni).lastModified(), modified);
}

// ---------------------------------------------------------------------------------------
// File -> Project and the directory chooser

TEST_F(WindowTest, ProjectAsksBeforeANewDirectoryAndSwitchesToIt) {
    TForm1& form = CreateShown();
    Type(form.fg1Edit, "123");
    const QString target = TempPath() + "/Projects/Two way";
    QString startName, title;
    BoxSeen firstConfirm, secondConfirm;
    bool createdAfterNo = true, chooserBackAfterNo = false;
    ModalScript script;
    script
        .Chooser([&](tarn::SelectDirectoryDialog* dialog) {
            title = dialog->windowTitle();
            auto* name = dialog->findChild<QLineEdit*>("DirectoryName");
            startName = name->text();
            name->setText(target);
            dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        })
        .Box(Record(firstConfirm), "&No")
        .Chooser([&](tarn::SelectDirectoryDialog* dialog) {
            chooserBackAfterNo = dialog->findChild<QLineEdit*>("DirectoryName")->text() == target;
            createdAfterNo = QFileInfo::exists(target);
            dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        })
        .Box(Record(secondConfirm), "&Yes");

    form.Project->trigger();
    EXPECT_TRUE(script.Done());
    EXPECT_EQ(title, "Select Directory");
    EXPECT_EQ(startName, Q(appDir_) + "MyFirstProject");
    EXPECT_EQ(firstConfirm.title, "Confirm");
    EXPECT_EQ(firstConfirm.text, "The specified directory does not exist. Create it?");
    EXPECT_EQ(firstConfirm.buttons, (QStringList{"&Yes", "&No"}));
    EXPECT_TRUE(chooserBackAfterNo);
    EXPECT_FALSE(createdAfterNo);
    EXPECT_EQ(secondConfirm.title, "Confirm");

    EXPECT_TRUE(QFileInfo(target).isDir());
    EXPECT_EQ(ProjectDir(), target + "/");
    EXPECT_EQ(form.windowTitle(), "Tarn - Project: " + target + "/");
    EXPECT_EQ(form.fg1Edit->text(), "123");
    QFile appIni(Q(appDir_) + "Tarn.ini");
    ASSERT_TRUE(appIni.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromLocal8Bit(appIni.readAll()).contains(target + "/"));
}

TEST_F(WindowTest, CancelledProjectChangesNothing) {
    TForm1& form = CreateShown();
    const QString caption = form.windowTitle();
    const std::string project = tarn::ProjectPath;
    ModalScript script;
    script.Chooser([](tarn::SelectDirectoryDialog* dialog) {
        dialog->findChild<QLineEdit*>("DirectoryName")->setText("/somewhere/else");
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
    });
    form.Project->trigger();
    EXPECT_TRUE(script.Done());
    EXPECT_EQ(form.windowTitle(), caption);
    EXPECT_EQ(tarn::ProjectPath, project);
}

TEST_F(WindowTest, ChooserResolvesNamesAgainstTheOpenDirectory) {
    TForm1& form = Create();
    const QString base = TempPath() + "/base";
    ASSERT_TRUE(QDir().mkpath(base + "/existing"));

    struct Case {
        std::string start;
        QString typed;
        QString expected;
        bool asks;
    };
    const Case cases[] = {
        // An existing directory is taken without a question, without its trailing separator.
        {base.toStdString() + "/", base + "/existing/", base + "/existing", false},
        // A relative name lies below the directory open in the chooser.
        {base.toStdString(), "new/deeper", base + "/new/deeper", true},
        {base.toStdString(), "../base/existing", base + "/existing", false},
        // A start that does not exist opens the current directory.
        {base.toStdString() + "/nothing/", "rel", QDir::currentPath() + "/rel", true},
    };
    for (const Case& c : cases) {
        QString opened;
        bool asked = false;
        ModalScript script;
        script.Chooser([&](tarn::SelectDirectoryDialog* dialog) {
            auto* name = dialog->findChild<QLineEdit*>("DirectoryName");
            opened = name->text();
            name->setText(c.typed);
            dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        });
        if (c.asks) script.Box([&](QMessageBox*) { asked = true; }, "&Yes");
        const std::optional<std::string> chosen = form.ChooseDirectory(c.start);
        EXPECT_TRUE(script.Done()) << c.typed.toStdString();
        ASSERT_TRUE(chosen.has_value()) << c.typed.toStdString();
        EXPECT_EQ(Q(*chosen), c.expected);
        EXPECT_EQ(asked, c.asks) << c.typed.toStdString();
        if (c.start.find("nothing") != std::string::npos) {
            EXPECT_EQ(opened, QDir::currentPath());
        }
    }
}

// ---------------------------------------------------------------------------------------
// View -> Response

// Pixels of a widget's picture in a saturated colour: the band curves of a chart, and
// nothing of an empty one (white, greys and black text).
int ColouredPixels(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            const int high = std::max({c.red(), c.green(), c.blue()});
            const int low = std::min({c.red(), c.green(), c.blue()});
            if (high - low > 80) ++count;
        }
    return count;
}

int ColouredPixels(QWidget* widget) {
    return ColouredPixels(widget->grab().toImage());
}

// Nearly black pixels: the bold line of the sum, besides the charts' texts.
int DarkPixels(QWidget* widget) {
    const QImage image = widget->grab().toImage();
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() < 60 && c.green() < 60 && c.blue() < 60) ++count;
        }
    return count;
}

QString Cell(QTableWidget* table, int row, int column) {
    QTableWidgetItem* item = table->item(row, column);
    return item ? item->text() : QStringLiteral("<none>");
}

TEST_F(WindowTest, ResponseWindowOpensBesideTheMainWindowAndSaysWhatItFinds) {
    TForm1& form = CreateShown();
    tarn::ResponseWindow* view = form.ResponseWindow1;
    ASSERT_NE(view, nullptr);
    EXPECT_FALSE(view->isVisible());

    form.Response1->trigger();
    EXPECT_TRUE(view->isVisible());
    EXPECT_TRUE(view->isWindow());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(form.isEnabled()); // not modal: the main window stays usable
    EXPECT_EQ(view->windowTitle(), "Tarn - Response");
    EXPECT_EQ(view->Heading->text(), "No coefficient files in " + ProjectDir() +
                                         " - press \"Calc Crossover\" in the main window.");
    EXPECT_EQ(view->Table->rowCount(), 0);
    EXPECT_FALSE(view->SaveButton->isEnabled());
    EXPECT_EQ(ColouredPixels(view->Charts), 0);

    // A file that is not a coefficient file is named, with what is wrong with it.
    QFile file(ProjectDir() + "XOL44.dbl");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("short");
    file.close();
    view->ReloadButton->click();
    EXPECT_EQ(view->Heading->text(),
              "XOL44.dbl is not a coefficient file: 5 bytes, where a .dbl file holds 65536 "
              "64-bit values (524288 bytes).");
    EXPECT_EQ(view->Table->rowCount(), 0);
}

TEST_F(WindowTest, ResponseWindowFillsAfterEveryRunAndSavesTheChartsAsAPicture) {
    TForm1& form = CreateShown();
    LinearPhase();
    Type(form.fg1Edit, "500");
    Type(form.fg2Edit, "4000");
    form.Response1->trigger();
    tarn::ResponseWindow* view = form.ResponseWindow1;
    const int darkBefore = DarkPixels(view->StepView);

    ModalScript script;
    script.Box({});
    QTest::mouseClick(form.XOButton, Qt::LeftButton);
    ASSERT_TRUE(script.Done());

    EXPECT_EQ(view->windowTitle(), "Tarn - Response: XO*L44.dbl, 44100 Hz, 64-bit .dbl, 3 bands");
    EXPECT_TRUE(view->Heading->text().startsWith("XO*L44.dbl in " + ProjectDir()));
    ASSERT_EQ(view->Table->rowCount(), 4);
    EXPECT_EQ(Cell(view->Table, 0, 0), "XOLowL44.dbl");
    EXPECT_EQ(Cell(view->Table, 1, 0), "XOMidL44.dbl");
    EXPECT_EQ(Cell(view->Table, 2, 0), "XOHighL44.dbl");
    EXPECT_EQ(Cell(view->Table, 3, 0), "Sum");
    for (int row = 0; row < 4; ++row)
        EXPECT_EQ(Cell(view->Table, row, 1), "32768") << row;
    EXPECT_EQ(Cell(view->Table, 0, 3), "-");
    EXPECT_LT(std::abs(Cell(view->Table, 3, 7).toDouble()), 0.001);
    EXPECT_EQ(view->Table->horizontalHeaderItem(3)->text(), "-3 dB low Hz");

    // Every chart has its curves: the bands in colour, the step of the sum in black.
    EXPECT_GT(ColouredPixels(view->MagnitudeView), 1000);
    EXPECT_GT(ColouredPixels(view->DelayView), 300);
    EXPECT_GT(ColouredPixels(view->ImpulseView), 300);
    EXPECT_GT(DarkPixels(view->StepView), darkBefore + 300);

    // Save as PNG..., answered in the file dialog.
    const QString picture = TempPath() + "/charts.png";
    bool asked = false;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog || asked) return;
        asked = true;
        QTimer::singleShot(0, dialog, [dialog, &picture] {
            // Typed into the name field: selectFile leaves a field that has the focus alone.
            dialog->findChild<QLineEdit*>("fileNameEdit")->setText(picture);
            // accept() is protected in QFileDialog; it is still a slot.
            QMetaObject::invokeMethod(dialog, "accept");
        });
    });
    answer.start(10);
    ASSERT_TRUE(view->SaveButton->isEnabled());
    view->SaveButton->click();
    answer.stop();
    EXPECT_TRUE(asked);
    const QImage saved(picture);
    ASSERT_FALSE(saved.isNull());
    EXPECT_EQ(saved.size(), view->Charts->size() * view->Charts->devicePixelRatioF());
    EXPECT_GE(saved.width(), 720);
    EXPECT_GE(saved.height(), 480);
    EXPECT_GT(ColouredPixels(saved), 2000);
    EXPECT_FALSE(view->SaveCharts(TempPath() + "/missing/charts.png"));

    // The next run, at another rate and precision, replaces what the window shows.
    QTest::mouseClick(form.Radio48, Qt::LeftButton);
    QTest::mouseClick(form.RadioButton1, Qt::LeftButton);
    form.fg2Edit->clear();
    ModalScript again;
    again.Box({});
    QTest::mouseClick(form.XOButton, Qt::LeftButton);
    ASSERT_TRUE(again.Done());
    EXPECT_EQ(view->windowTitle(), "Tarn - Response: XO*L48.pcm, 48000 Hz, 32-bit .pcm, 2 bands");
    EXPECT_EQ(view->Table->rowCount(), 3);
    EXPECT_EQ(Cell(view->Table, 1, 0), "XOHighL48.pcm");
}

TEST_F(WindowTest, ResponseWindowShowsTheLastRunElseTheNewestSet) {
    {
        TForm1& form = CreateShown();
        LinearPhase();
        Type(form.fg1Edit, "1000");
        ModalScript script;
        script.Box({});
        QTest::mouseClick(form.XOButton, Qt::LeftButton);
        ASSERT_TRUE(script.Done());
        // Files of another rate and precision, newer than the run's: a user copied them in.
        for (const char* band : {"Low", "High"}) {
            const QString copy = ProjectDir() + "XO" + band + "L48.pcm";
            QFile file(copy);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(QByteArray(65536 * 4, '\0'));
            file.close();
            file.open(QIODevice::ReadWrite);
            file.setFileTime(QDateTime::currentDateTime().addSecs(60),
                             QFileDevice::FileModificationTime);
        }
        form.Response1->trigger();
        EXPECT_EQ(form.ResponseWindow1->windowTitle(),
                  "Tarn - Response: XO*L44.dbl, 44100 Hz, 64-bit .dbl, 2 bands");
        EXPECT_TRUE(form.ResponseWindow1->Heading->text().endsWith(
            "(the files of the last run; also there: XO*L48.pcm)"))
            << form.ResponseWindow1->Heading->text().toStdString();
    }
    // A window that has not run yet shows the newest set in its project.
    TForm1& fresh = CreateShown();
    fresh.Response1->trigger();
    EXPECT_EQ(fresh.ResponseWindow1->windowTitle(),
              "Tarn - Response: XO*L48.pcm, 48000 Hz, 32-bit .pcm, 2 bands");
    EXPECT_TRUE(fresh.ResponseWindow1->Heading->text().endsWith(
        "(the most recently written files; also there: XO*L44.dbl)"))
        << fresh.ResponseWindow1->Heading->text().toStdString();
    // All-zero bands: nothing to draw but a silent sum far below the magnitude chart.
    EXPECT_EQ(Cell(fresh.ResponseWindow1->Table, 2, 0), "Sum");
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    tarn::TarnApplication application(argc, argv);
    QApplication::setApplicationName("Tarn");
    // Tests close windows; that must not end the application under them.
    QApplication::setQuitOnLastWindowClosed(false);
    ModalWatchdog watchdog;
    return RUN_ALL_TESTS();
}
