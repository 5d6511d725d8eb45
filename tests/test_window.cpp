// The desktop window: start-up, controls, the filter-order field, the precision radios, the
// progress timer, layout on resize, and complete runs of "Calc Crossover" and File -> Project
// through the real driver and settings store. Runs on Qt's offscreen platform.
#include <QAbstractButton>
#include <QApplication>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
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
#include <QWindow>
#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "app/DesignPanel.h"
#include "app/ExportDialog.h"
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

    // A dialog of its kind: act on it (fill its fields, press a button).
    template <typename Dialog> ModalScript& Act(std::function<void(Dialog*)> act) {
        steps_.push_back([act](QWidget* modal) -> std::function<void()> {
            auto* dialog = qobject_cast<Dialog*>(modal);
            if (!dialog) return {};
            QPointer<Dialog> target = dialog;
            return [act, target] {
                if (target) act(target);
            };
        });
        return *this;
    }

    // The directory chooser.
    ModalScript& Chooser(std::function<void(tarn::SelectDirectoryDialog*)> act) {
        return Act<tarn::SelectDirectoryDialog>(std::move(act));
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

// The response view reads its files on a worker thread; true once what it read is drawn.
bool Drawn(tarn::ResponseWindow* view) {
    return QTest::qWaitFor([view] { return !view->Busy(); }, 10000);
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
    ASSERT_EQ(bar.size(), 3);
    EXPECT_EQ(bar[0]->text(), "&File");
    EXPECT_EQ(bar[0]->menu(), form.File1);
    EXPECT_EQ(bar[1]->text(), "&View");
    EXPECT_EQ(bar[1]->menu(), form.View1);
    EXPECT_EQ(bar[2]->text(), "&Help");
    ASSERT_EQ(form.View1->actions().size(), 1);
    EXPECT_EQ(form.View1->actions()[0], form.Response1);
    EXPECT_EQ(form.Response1->text(), "&Response");
    EXPECT_TRUE(form.Response1->shortcut().isEmpty());

    // The original items keep their order, with "Open Project..." beside "Project" (and the
    // recent projects, none yet, before the separator).
    const QList<QAction*> items = form.File1->actions();
    ASSERT_EQ(items.size(), 5);
    EXPECT_EQ(items[0], form.Project);
    EXPECT_EQ(items[0]->text(), "&Project");
    EXPECT_EQ(items[1]->text(), "&Open Project...");
    EXPECT_EQ(items[2]->text(), "E&xport for engine...");
    EXPECT_TRUE(items[3]->isSeparator());
    EXPECT_EQ(items[4], form.Exit1);
    EXPECT_EQ(items[4]->text(), "&Exit");
    for (QAction* a : {items[0], items[3], items[4]})
        EXPECT_TRUE(a->shortcut().isEmpty()) << a->objectName().toStdString();
}

TEST_F(WindowTest, TabVisitsTheControlsInTheirOrderAndOnlyTheSelectedRadios) {
    TForm1& form = CreateShown();
    // One round from the button back to it: the original controls in their order, then the
    // design panel's.
    using W = std::vector<QWidget*>;
    struct Round {
        W original;
        W panel;
    };
    auto cycle = [&](Qt::Key key) {
        Round round{{QApplication::focusWidget()}, {}};
        for (int i = 0; i < 60; ++i) {
            QTest::keyClick(QApplication::focusWidget(), key);
            QWidget* focus = QApplication::focusWidget();
            if (form.DesignPanel1->isAncestorOf(focus))
                round.panel.push_back(focus);
            else
                round.original.push_back(focus);
            if (focus == form.XOButton) break;
        }
        return round;
    };
    const Round forward = cycle(Qt::Key_Tab);
    EXPECT_EQ(forward.original, (W{form.XOButton, form.fg1Edit, form.fg2Edit, form.fg3Edit,
                                   form.fg4Edit, form.FilterOrder, form.Radio44, form.RadioButton2,
                                   form.Minimumphasecheckbox, form.XOButton}));
    EXPECT_GE(forward.panel.size(), 4u);

    form.Radio48->setChecked(true);
    form.RadioButton1->setChecked(true);
    const Round backward = cycle(Qt::Key_Backtab);
    EXPECT_EQ(backward.original, (W{form.XOButton, form.Minimumphasecheckbox, form.RadioButton1,
                                    form.Radio48, form.FilterOrder, form.fg4Edit, form.fg3Edit,
                                    form.fg2Edit, form.fg1Edit, form.XOButton}));
    EXPECT_EQ(W(backward.panel.rbegin(), backward.panel.rend()), forward.panel);

    // A rate of the panel is the rate group's tab stop once selected.
    QRadioButton* rate96 = form.DesignPanel1->RateButtons()[1];
    ASSERT_EQ(rate96->text(), "96000");
    rate96->setChecked(true);
    EXPECT_FALSE(form.Radio48->isChecked());
    form.FilterOrder->setFocus();
    QTest::keyClick(form.FilterOrder, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), rate96);
    QTest::keyClick(rate96, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), form.RadioButton1);
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
    // Every control of the original window, and all that lies in it.
    std::vector<std::pair<QWidget*, QRect>> places;
    for (QWidget* w : client->findChildren<QWidget*>())
        if (w != form.ProgressBar1 && w != static_cast<QWidget*>(form.DesignPanel1) &&
            w != form.StatusLine && !form.DesignPanel1->isAncestorOf(w))
            places.emplace_back(w, w->geometry());
    // All five band rows shown: the most the panel ever holds.
    for (int field = 1; field <= 4; ++field)
        form.SetFieldText(field, std::to_string(field * 1000));
    const QSize smallest = form.size();

    for (QSize size : {QSize(1100, 700), QSize(300, 150), QSize(473, 260), smallest}) {
        form.resize(size);
        const QSize expected = size.expandedTo(smallest);
        ASSERT_TRUE(QTest::qWaitFor([&] { return form.size() == expected; }))
            << size.width() << "x" << size.height();
        EXPECT_EQ(form.ProgressBar1->geometry(),
                  QRect(0, client->height() - 17, client->width(), 17));
        for (auto& [w, place] : places)
            EXPECT_EQ(w->geometry(), place) << w->objectName().toStdString();
        // Nothing can be hidden: the panel lies inside the window above the bar, and every
        // control in it inside the panel; the panel takes what the window grows by.
        const QRect panel = form.DesignPanel1->geometry();
        EXPECT_TRUE(client->rect().contains(panel));
        EXPECT_LE(panel.bottom(), form.ProgressBar1->y());
        EXPECT_GE(panel.right(), client->width() - 10);
        for (QWidget* w : form.DesignPanel1->findChildren<QWidget*>()) {
            if (!w->isVisible()) continue;
            EXPECT_TRUE(form.DesignPanel1->rect().contains(
                QRect(w->mapTo(form.DesignPanel1, QPoint(0, 0)), w->size())))
                << w->metaObject()->className();
        }
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

TEST_F(WindowTest, UserTextsAreShownAndKeptAsTheyAre) {
    TForm1& form = CreateShown();

    // A field longer than QLineEdit's default limit keeps every character, so the number the
    // driver reads is the number that was pasted.
    const std::string longText = "1" + std::string(40000, '0');
    form.SetFieldText(1, longText);
    EXPECT_EQ(form.FieldText(1).size(), longText.size());

    // Markup in a message (a path, a field text) is shown as text, not rendered.
    Qt::TextFormat messageFormat = Qt::AutoText, errorFormat = Qt::AutoText;
    QString errorText;
    BoxSeen warning;
    Qt::TextFormat warningFormat = Qt::AutoText;
    ModalScript script;
    script.Box([&](QMessageBox* box) { messageFormat = box->textFormat(); })
        .Box([&](QMessageBox* box) {
            errorFormat = box->textFormat();
            errorText = box->text();
        })
        .Box([&](QMessageBox* box) {
            Record(warning)(box);
            warningFormat = box->textFormat();
        });
    form.ShowMessage("<b>done</b>");
    form.ShowError("Cannot write /home/<i>me</i>/XOL44.dbl");
    form.ShowWarning("Band <High> may clip: +3.2 dB");
    EXPECT_TRUE(script.Done());
    EXPECT_EQ(messageFormat, Qt::PlainText);
    EXPECT_EQ(errorFormat, Qt::PlainText);
    EXPECT_EQ(errorText, "Cannot write /home/<i>me</i>/XOL44.dbl");
    // A warning after a run: its own icon, the text as it is.
    EXPECT_EQ(warning.title, "Tarn");
    EXPECT_EQ(warning.icon, QMessageBox::Warning);
    EXPECT_EQ(warningFormat, Qt::PlainText);
    EXPECT_EQ(warning.text, "Band <High> may clip: +3.2 dB");
    EXPECT_EQ(warning.buttons.size(), 1);

    // Qt treats "[*]" in a title as the modified mark and drops it; a project directory of
    // that name must show in the caption as it is.
    const std::string caption = "Tarn - Project: /tmp/a[*]b [*]/";
    form.SetCaption(caption);
    ASSERT_TRUE(form.windowHandle());
    EXPECT_EQ(form.windowHandle()->title(), Q(caption));
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
    // The project left is offered in the File menu to go back to.
    QStringList recent;
    for (QAction* action : form.File1->actions())
        if (action->text().startsWith("&1 ")) recent << action->text();
    EXPECT_EQ(recent, QStringList{"&1 " + Q(appDir_) + "MyFirstProject/"});
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
// The design panel, the run's status and projects

QStringList ShownBandNames(TForm1& form) {
    QStringList names;
    for (int i = 0; i < form.DesignPanel1->ShownBands(); ++i)
        names << form.DesignPanel1->BandRows[static_cast<std::size_t>(i)].name->text();
    return names;
}

// The row of a band by its name, or nothing when no row shows it.
const tarn::DesignPanel::BandRow* RowOf(TForm1& form, const QString& band) {
    for (int i = 0; i < form.DesignPanel1->ShownBands(); ++i) {
        const auto& row = form.DesignPanel1->BandRows[static_cast<std::size_t>(i)];
        if (row.name->text() == band) return &row;
    }
    return nullptr;
}

// Replaces a field's text key by key; an empty text clears it.
void Retype(QLineEdit* edit, const QString& text) {
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
}

void TypeFields(TForm1& form, const std::array<QString, 4>& texts) {
    QLineEdit* edits[] = {form.fg1Edit, form.fg2Edit, form.fg3Edit, form.fg4Edit};
    for (std::size_t i = 0; i < 4; ++i)
        Retype(edits[i], texts[i]);
}

void TypeInto(QAbstractSpinBox* spin, const QString& text) {
    spin->setFocus();
    spin->selectAll();
    QTest::keyClicks(spin, text);
}

TEST_F(WindowTest, EnterInAnyFieldCalculates) {
    TForm1& form = CreateShown();
    LinearPhase();
    Type(form.fg1Edit, "500");
    tarn::DesignPanel* panel = form.DesignPanel1;
    ASSERT_EQ(ShownBandNames(form), (QStringList{"Low", "High"}));
    // Each field, with what the run must read from it once Enter is pressed there.
    struct Case {
        QWidget* field;
        std::function<void()> edit;
        std::function<bool()> read;
        Qt::Key key;
    };
    const Case cases[] = {
        {form.fg2Edit, [&] { Type(form.fg2Edit, "4000"); },
         [&] { return form.FieldText(2) == "4000"; }, Qt::Key_Return},
        {panel->TapsBox->lineEdit(), [&] { Type(panel->TapsBox->lineEdit(), "8192"); },
         [&] { return form.TapsChoice() == 8192; }, Qt::Key_Enter},
        {panel->BandRows[0].level, [&] { TypeInto(panel->BandRows[0].level, "-6"); },
         [&] { return form.TrimChoice("Low").levelDb == -6.0; }, Qt::Key_Return},
        {panel->BandRows[2].delay, [&] { TypeInto(panel->BandRows[2].delay, "0.25"); },
         [&] { return form.TrimChoice("High").delayMs == 0.25; }, Qt::Key_Return},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field->metaObject()->className());
        c.edit();
        bool readDuringRun = false;
        QString text;
        ModalScript script;
        script.Box([&](QMessageBox* box) {
            text = box->text();
            readDuringRun = c.read();
        });
        QTest::keyClick(c.field, c.key);
        EXPECT_TRUE(script.Done());
        EXPECT_EQ(text, "Calculation 3-way XO done");
        EXPECT_TRUE(readDuringRun);
    }
    EXPECT_TRUE(QFileInfo::exists(ProjectDir() + "XOMidR44.dbl"));
}

TEST_F(WindowTest, ARunShowsItIsBusyAndThenWhereItsFilesWent) {
    TForm1& form = CreateShown();
    LinearPhase();
    Type(form.fg1Edit, "500");
    bool fired = false, enabledDuring = true;
    QString buttonDuring, statusDuring;
    QTimer::singleShot(0, &form, [&] {
        QTimer::singleShot(0, &form, [&] {
            fired = true;
            enabledDuring = form.XOButton->isEnabled();
            buttonDuring = form.XOButton->text();
            statusDuring = form.StatusLine->text();
        });
    });
    bool enabledAtMessage = false;
    ModalScript script;
    script.Box([&](QMessageBox*) { enabledAtMessage = form.XOButton->isEnabled(); });
    form.XOButton->click();
    ASSERT_TRUE(script.Done());
    ASSERT_TRUE(fired);
    EXPECT_FALSE(enabledDuring);
    EXPECT_EQ(buttonDuring, "Calculating...");
    EXPECT_TRUE(statusDuring.contains(ProjectDir())) << statusDuring.toStdString();
    EXPECT_TRUE(enabledAtMessage);
    EXPECT_EQ(form.XOButton->text(), "Calc Crossover");
    EXPECT_EQ(form.StatusLine->text(), "4 files written to " + ProjectDir() + ", latency 743.0 ms");

    // A run that fails says so instead.
    const std::string project = tarn::ProjectPath;
    tarn::ProjectPath = temp_.Prefix() + "gone/";
    ModalScript failing;
    failing.Box({});
    form.XOButton->click();
    EXPECT_TRUE(failing.Done());
    EXPECT_EQ(form.StatusLine->text(), "The run stopped with an error.");
    EXPECT_TRUE(form.XOButton->isEnabled());
    tarn::ProjectPath = project;
}

TEST_F(WindowTest, BandRowsAndBoundariesFollowTheFieldsAsTheyAreTyped) {
    TForm1& form = CreateShown();
    struct Case {
        std::array<QString, 4> fields;
        QStringList rows;
        std::array<QString, 4> boundaries;
    };
    const Case cases[] = {
        {{"", "", "", ""}, {"Full"}, {"", "", "", ""}},
        {{"500", "", "", ""}, {"Low", "High"}, {"Low | High", "", "", ""}},
        {{"80", "500", "3000", "8000"},
         {"Sub", "Low", "LowMid", "Mid", "High"},
         {"Sub | Low", "Low | LowMid", "LowMid | Mid", "Mid | High"}},
        // A field that takes no part is pointed out, and so is every one after it.
        {{"80", "abc", "3000", ""},
         {"Low", "High"},
         {"Low | High", "(not used)", "(not used)", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fields[0].toStdString() + "," + c.fields[1].toStdString());
        TypeFields(form, c.fields);
        EXPECT_EQ(ShownBandNames(form), c.rows);
        for (std::size_t i = 0; i < 4; ++i)
            EXPECT_EQ(form.BoundaryLabels[i]->text(), c.boundaries[i]) << i;
    }

    // A trim belongs to its band, wherever the band's row moves.
    TypeFields(form, {"500", "", "", ""});
    ASSERT_EQ(ShownBandNames(form), (QStringList{"Low", "High"}));
    TypeInto(RowOf(form, "High")->level, "-6");
    Retype(form.fg2Edit, "4000");
    ASSERT_EQ(ShownBandNames(form), (QStringList{"Low", "Mid", "High"}));
    EXPECT_EQ(RowOf(form, "High")->level->value(), -6.0);
    EXPECT_EQ(RowOf(form, "Mid")->level->value(), 0.0);
    EXPECT_EQ(form.TrimChoice("High").levelDb, -6.0);
    EXPECT_TRUE(form.TrimChoice("Mid").IsNeutral());
}

TEST_F(WindowTest, ThePanelsChoicesAreWhatARunReads) {
    TForm1& form = CreateShown();
    tarn::DesignPanel* panel = form.DesignPanel1;

    // Rates: the panel's radios and the original two are one group.
    const int rates[] = {88200, 96000, 176400, 192000, tarn::AllRates};
    ASSERT_EQ(panel->RateButtons().size(), std::size(rates));
    for (std::size_t i = 0; i < std::size(rates); ++i) {
        QTest::mouseClick(panel->RateButtons()[i], Qt::LeftButton);
        EXPECT_EQ(form.RateChoice(), rates[i]);
        EXPECT_FALSE(form.Radio44Checked());
        EXPECT_FALSE(form.Radio48Checked());
    }
    QTest::mouseClick(form.Radio48, Qt::LeftButton);
    EXPECT_EQ(form.RateChoice(), std::nullopt);
    EXPECT_TRUE(form.Radio48Checked());
    for (QRadioButton* radio : panel->RateButtons())
        EXPECT_FALSE(radio->isChecked());

    EXPECT_EQ(form.FormatChoice(), tarn::FileFormat::Raw);
    QTest::mouseClick(panel->WavRadio, Qt::LeftButton);
    EXPECT_EQ(form.FormatChoice(), tarn::FileFormat::Wav);
    // The format radios are a group of their own: the rate stays.
    EXPECT_TRUE(form.Radio48Checked());

    EXPECT_EQ(form.AlignmentChoice(), tarn::Alignment::Tarn);
    panel->AlignmentBox->setFocus();
    QTest::keyClick(panel->AlignmentBox, Qt::Key_Down);
    EXPECT_EQ(form.AlignmentChoice(), tarn::Alignment::LinkwitzRiley);

    // Taps: a list entry, any typed count, a count beyond the limits taken at the limit.
    EXPECT_EQ(form.TapsChoice(), 65536);
    panel->TapsBox->setCurrentIndex(panel->TapsBox->findText("6144"));
    EXPECT_EQ(form.TapsChoice(), 6144);
    for (auto [typed, read] : {std::pair{"3000", 3000}, {"100", 256}, {"", 65536}}) {
        Retype(panel->TapsBox->lineEdit(), typed);
        EXPECT_EQ(form.TapsChoice(), read) << typed;
    }

    // Trims, with a delay entered as a distance; the one-way band is "Full".
    EXPECT_EQ(ShownBandNames(form), QStringList{"Full"});
    TypeInto(RowOf(form, "Full")->level, "-3.5");
    EXPECT_EQ(form.TrimChoice("").levelDb, -3.5);
    TypeFields(form, {"80", "500", "3000", ""});
    panel->DelayUnitBox->setCurrentIndex(1);
    TypeInto(RowOf(form, "Mid")->delay, "343");
    EXPECT_DOUBLE_EQ(form.TrimChoice("Mid").delayMs, 1.0);
    EXPECT_EQ(RowOf(form, "Mid")->otherUnit->text(), QLocale().toString(1.0, 'f', 3) + " ms");
    QTest::mouseClick(RowOf(form, "High")->invert, Qt::LeftButton);
    EXPECT_TRUE(form.TrimChoice("High").invert);
    EXPECT_TRUE(form.TrimChoice("Sub").IsNeutral());
    // Back in ms the field shows the same delay.
    panel->DelayUnitBox->setCurrentIndex(0);
    EXPECT_EQ(RowOf(form, "Mid")->delay->value(), 1.0);
    EXPECT_DOUBLE_EQ(form.TrimChoice("Mid").delayMs, 1.0);
}

TEST_F(WindowTest, TheLatencyFollowsTheTapsTheRateAndThePhase) {
    TForm1& form = CreateShown();
    tarn::DesignPanel* panel = form.DesignPanel1;
    struct Case {
        bool minimumPhase;
        QRadioButton* rate;
        const char* taps;
        QString shown;
    };
    const Case cases[] = {
        {true, form.Radio44, "65536", "latency 0 ms"},
        {false, form.Radio44, "65536", "latency 743.0 ms"},
        {false, form.Radio48, "8192", "latency 85.3 ms"},
        {false, panel->RateButtons()[1], "6144", "latency 32.0 ms"},
        {false, panel->RateButtons().back(), "65536", "latency 170.7 to 743.0 ms"},
        {true, panel->RateButtons().back(), "65536", "latency 0 ms"},
        {false, form.Radio48, "100", "latency 2.7 ms (at 256 taps)"},
    };
    for (const Case& c : cases) {
        form.Minimumphasecheckbox->setChecked(c.minimumPhase);
        QTest::mouseClick(c.rate, Qt::LeftButton);
        // Typed key by key, as the user does: the label follows every key.
        Type(panel->TapsBox->lineEdit(), c.taps);
        EXPECT_EQ(panel->LatencyLabel->text(), c.shown) << c.taps;
    }
}

// A project directory holding a design that differs from the defaults in every key.
QString MakeStoredProject(const QString& dir) {
    EXPECT_TRUE(QDir().mkpath(dir));
    QFile file(dir + "/TarnProject.ini");
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Crossover]\r\nFrequency1=80\r\nFrequency2=500\r\nFrequency3=3000\r\n"
               "Frequency4=\r\nFilterOrder=4\r\nX-way-system=4\r\nSampleRate=96000\r\n"
               "MinimumPhase=0\r\nPrecision=32\r\nFormat=wav\r\nAlignment=Linkwitz-Riley\r\n"
               "Taps=8192\r\n[Bands]\r\nHighLevel=-6\r\nHighDelay=0.5\r\nMidInvert=1\r\n");
    return dir + "/";
}

// The window shows every key of MakeStoredProject's design.
void ExpectStoredDesign(TForm1& form) {
    tarn::DesignPanel* panel = form.DesignPanel1;
    EXPECT_EQ(form.fg1Edit->text(), "80");
    EXPECT_EQ(form.fg2Edit->text(), "500");
    EXPECT_EQ(form.fg3Edit->text(), "3000");
    EXPECT_EQ(form.fg4Edit->text(), "");
    EXPECT_EQ(form.FilterOrder->text(), "4");
    EXPECT_TRUE(panel->RateButtons()[1]->isChecked());
    EXPECT_FALSE(form.Radio44->isChecked());
    EXPECT_EQ(form.RateChoice(), 96000);
    EXPECT_FALSE(form.Minimumphasecheckbox->isChecked());
    EXPECT_TRUE(form.RadioButton1->isChecked());
    EXPECT_FALSE(tarn::DoublePrecision);
    EXPECT_TRUE(panel->WavRadio->isChecked());
    EXPECT_EQ(panel->AlignmentBox->currentText(), "Linkwitz-Riley");
    EXPECT_EQ(form.AlignmentChoice(), tarn::Alignment::LinkwitzRiley);
    EXPECT_EQ(panel->TapsBox->currentText(), "8192");
    EXPECT_EQ(panel->LatencyLabel->text(), "latency 42.7 ms");
    ASSERT_EQ(ShownBandNames(form), (QStringList{"Sub", "Low", "Mid", "High"}));
    EXPECT_EQ(RowOf(form, "High")->level->value(), -6.0);
    EXPECT_EQ(RowOf(form, "High")->delay->value(), 0.5);
    EXPECT_EQ(RowOf(form, "High")->otherUnit->text(), QLocale().toString(171.5, 'f', 1) + " mm");
    EXPECT_TRUE(RowOf(form, "Mid")->invert->isChecked());
    EXPECT_FALSE(RowOf(form, "Low")->invert->isChecked());
    EXPECT_EQ(form.TrimChoice("High").delayMs, 0.5);
}

TEST_F(WindowTest, AStoredDesignIsShownAtStart) {
    MakeStoredProject(Q(appDir_) + "MyFirstProject");
    TForm1& form = Create();
    ExpectStoredDesign(form);
}

TEST_F(WindowTest, OpenProjectShowsItsStoredDesignAndTheResponseViewFollows) {
    TForm1& form = CreateShown();
    // The first project holds a set, which the response view shows.
    LinearPhase();
    Type(form.fg1Edit, "1000");
    ModalScript run;
    run.Box({});
    QTest::mouseClick(form.XOButton, Qt::LeftButton);
    ASSERT_TRUE(run.Done());
    const QString first = ProjectDir();
    form.Response1->trigger();
    tarn::ResponseWindow* view = form.ResponseWindow1;
    ASSERT_TRUE(Drawn(view));
    ASSERT_TRUE(view->Heading->text().startsWith("XO*L44.dbl in " + first));

    const QString other = MakeStoredProject(TempPath() + "/Other");
    ModalScript script;
    script.Chooser([&](tarn::SelectDirectoryDialog* dialog) {
        dialog->findChild<QLineEdit*>("DirectoryName")->setText(other);
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    form.OpenProject1->trigger();
    ASSERT_TRUE(script.Done());
    ASSERT_TRUE(Drawn(view));
    EXPECT_EQ(ProjectDir(), other);
    EXPECT_EQ(form.windowTitle(), "Tarn - Project: " + other);
    ExpectStoredDesign(form);
    EXPECT_TRUE(view->Heading->text().contains(other)) << view->Heading->text().toStdString();
    EXPECT_FALSE(view->Heading->text().contains(first));

    // The first project is offered in the File menu, and comes back with its own design.
    QAction* recent = nullptr;
    for (QAction* action : form.File1->actions())
        if (action->text().endsWith(first)) recent = action;
    ASSERT_NE(recent, nullptr);
    EXPECT_TRUE(recent->text().startsWith("&1 "));
    recent->trigger();
    ASSERT_TRUE(Drawn(view));
    EXPECT_EQ(ProjectDir(), first);
    EXPECT_EQ(form.fg1Edit->text(), "1000");
    EXPECT_EQ(form.fg2Edit->text(), "");
    EXPECT_TRUE(form.Radio44->isChecked());
    EXPECT_TRUE(tarn::DoublePrecision);
    EXPECT_EQ(form.TapsChoice(), 65536);
    EXPECT_TRUE(form.TrimChoice("High").IsNeutral());
    EXPECT_TRUE(view->Heading->text().startsWith("XO*L44.dbl in " + first));
    // Now the other one is the recent entry; the current project is not offered.
    QStringList entries;
    for (QAction* action : form.File1->actions())
        if (action->text().startsWith("&1 ") || action->text().startsWith("&2 "))
            entries << action->text();
    EXPECT_EQ(entries, QStringList{"&1 " + other});

    // A recent project that has gone since: said so, and offered no more.
    ASSERT_TRUE(QDir(other).removeRecursively());
    BoxSeen error;
    ModalScript gone;
    gone.Box(Record(error));
    for (QAction* action : form.File1->actions())
        if (action->text() == "&1 " + other) action->trigger();
    EXPECT_TRUE(gone.Done());
    EXPECT_EQ(error.icon, QMessageBox::Critical);
    EXPECT_EQ(error.text, "The project directory " + other + " does not exist.");
    EXPECT_EQ(ProjectDir(), first);
    for (QAction* action : form.File1->actions())
        EXPECT_FALSE(action->text().contains(other)) << action->text().toStdString();
}

TEST_F(WindowTest, AboutNamesTheVersionTheLicenceAndTheLibraries) {
    TForm1& form = CreateShown();
    QString text;
    ModalScript script;
    script.Box([&](QMessageBox* box) { text = box->text(); });
    form.About1->trigger();
    ASSERT_TRUE(script.Done());
    for (const QString& part : {QStringLiteral("Tarn " TARN_VERSION), QStringLiteral("Licence"),
                                QStringLiteral("Qt " QT_VERSION_STR), QStringLiteral("libsndfile"),
                                QStringLiteral("CLI11")})
        EXPECT_TRUE(text.contains(part)) << part.toStdString();
}

// ---------------------------------------------------------------------------------------
// File -> Export for engine...

// The dialog's choices reach the export tarn-cli export does: BruteFIR with the typed
// devices is written and named in a box; Equalizer APO, which reads no raw set, leaves the
// device fields closed and its refusal in the error box, with nothing written.
TEST_F(WindowTest, ExportForEngineWritesWhatTheDialogChoseOrShowsWhyNot) {
    TForm1& form = CreateShown();
    LinearPhase();
    Type(form.fg1Edit, "1000");
    ModalScript run;
    run.Box({});
    QTest::mouseClick(form.XOButton, Qt::LeftButton);
    ASSERT_TRUE(run.Done());

    BoxSeen written;
    ModalScript brutefir;
    brutefir
        .Act<tarn::ExportDialog>([](tarn::ExportDialog* dialog) {
            auto* engine = dialog->findChild<QComboBox*>("engineCombo");
            engine->setCurrentIndex(engine->findText("BruteFIR"));
            EXPECT_FALSE(dialog->findChild<QComboBox*>("versionCombo")->isEnabled());
            dialog->findChild<QLineEdit*>("captureEdit")->setText("hw:Loopback,1");
            dialog->findChild<QLineEdit*>("playbackEdit")->setText(" hw:DAC8 ");
            dialog->accept();
        })
        .Box(Record(written));
    form.ExportEngine1->trigger();
    ASSERT_TRUE(brutefir.Done());
    EXPECT_EQ(written.icon, QMessageBox::NoIcon);
    EXPECT_EQ(written.text, "Written into " + ProjectDir() + ":\nbrutefir-44100.conf");
    QFile conf(ProjectDir() + "brutefir-44100.conf");
    ASSERT_TRUE(conf.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(conf.readAll());
    EXPECT_TRUE(text.contains("device: \"alsa\" { device: \"hw:Loopback,1\"; };"));
    EXPECT_TRUE(text.contains("device: \"alsa\" { device: \"hw:DAC8\"; };"));
    EXPECT_TRUE(
        text.contains("coeff \"high_r\" {\n    filename: \"" + ProjectDir() + "XOHighR44.dbl\";"));

    BoxSeen refused;
    ModalScript apo;
    apo.Act<tarn::ExportDialog>([](tarn::ExportDialog* dialog) {
           auto* engine = dialog->findChild<QComboBox*>("engineCombo");
           engine->setCurrentIndex(engine->findText("Equalizer APO (WAV sets)"));
           EXPECT_FALSE(dialog->findChild<QLineEdit*>("captureEdit")->isEnabled());
           EXPECT_FALSE(dialog->findChild<QLineEdit*>("playbackEdit")->isEnabled());
           dialog->accept();
       })
        .Box(Record(refused));
    form.ExportEngine1->trigger();
    ASSERT_TRUE(apo.Done());
    EXPECT_EQ(refused.icon, QMessageBox::Critical);
    EXPECT_TRUE(refused.text.startsWith("Equalizer APO reads WAV files only"))
        << refused.text.toStdString();
    EXPECT_FALSE(QFileInfo::exists(ProjectDir() + "equalizer-apo.txt"));
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
    ASSERT_TRUE(Drawn(view));
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
    ASSERT_TRUE(Drawn(view));
    EXPECT_EQ(view->Heading->text(),
              "XOL44.dbl is not a coefficient file: 5 bytes, not a whole number of 64-bit "
              "values.");
    EXPECT_EQ(view->Table->rowCount(), 0);
}

TEST_F(WindowTest, ResponseWindowFillsAfterEveryRunAndSavesTheChartsAsAPicture) {
    TForm1& form = CreateShown();
    LinearPhase();
    Type(form.fg1Edit, "500");
    Type(form.fg2Edit, "4000");
    form.Response1->trigger();
    tarn::ResponseWindow* view = form.ResponseWindow1;
    ASSERT_TRUE(Drawn(view));
    const int darkBefore = DarkPixels(view->StepView);

    ModalScript script;
    script.Box({});
    QTest::mouseClick(form.XOButton, Qt::LeftButton);
    ASSERT_TRUE(script.Done());
    ASSERT_TRUE(Drawn(view));

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
    // On two lines, to keep the table narrow.
    EXPECT_EQ(view->Table->horizontalHeaderItem(3)->text(), "-3 dB\nlow Hz");

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
    // The charts, with the caption above them and the table below.
    EXPECT_GE(saved.width(), view->Charts->width() * view->Charts->devicePixelRatioF());
    EXPECT_GT(saved.height(),
              (view->Charts->height() + view->Table->height()) * view->Charts->devicePixelRatioF());
    EXPECT_GE(saved.width(), 680);
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
    ASSERT_TRUE(Drawn(view));
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
        ASSERT_TRUE(Drawn(form.ResponseWindow1));
        EXPECT_EQ(form.ResponseWindow1->windowTitle(),
                  "Tarn - Response: XO*L44.dbl, 44100 Hz, 64-bit .dbl, 2 bands");
        EXPECT_TRUE(form.ResponseWindow1->Heading->text().endsWith(
            "(the files of the last run; also there: XO*L48.pcm)"))
            << form.ResponseWindow1->Heading->text().toStdString();
    }
    // A window that has not run yet shows the newest set in its project.
    TForm1& fresh = CreateShown();
    fresh.Response1->trigger();
    ASSERT_TRUE(Drawn(fresh.ResponseWindow1));
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
