// Renders the real windows to PNG pictures for the README. Needs no display: it runs on
// Qt's offscreen platform unless another one is asked for.
//
// Usage: tarn-render window OUTPUT.png
//          the main window after a linear-phase run at 48000 Hz of 80, 500 and 3000 Hz typed
//          into the fields, with the High band 6 dB down and delayed 0.1 ms
//        tarn-render response OUTPUT.png [linear|lr] [--level BAND=DB] [--delay BAND=MS]
//                    [--invert BAND]
//          the response window after the five-way example design (48000 Hz, 80, 500, 3000
//          and 8000 Hz, order 10), minimum phase unless "linear" is given, Linkwitz-Riley with
//          "lr", each band trimmed as tarn-cli's options of those names say, with the cursor
//          where the sum as written deviates most from flat
#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/Response.h"
#include "app/DesignPanel.h"
#include "app/ResponseWindow.h"
#include "app/Tarn_Unit.h"
#include "crossover/Bands.h"
#include "project/CliOptions.h"

namespace {

// Types the text key by key, so the field goes through the same path as a user's typing.
void Type(QWidget* widget, const QString& text) {
    widget->setFocus();
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
        QCoreApplication::sendEvent(widget, &press);
        QCoreApplication::sendEvent(widget, &release);
    }
}

// Dismisses every message box as soon as it is up, for as long as it lives.
class BoxAnswer {
  public:
    BoxAnswer() {
        QObject::connect(&timer_, &QTimer::timeout, [] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                box->accept();
        });
        timer_.start(20);
    }

  private:
    QTimer timer_;
};

QWidget* MainWindowPicture(TForm1& form) {
    form.Radio48->setChecked(true);
    form.Minimumphasecheckbox->setChecked(false);
    Type(form.fg1Edit, QStringLiteral("80"));
    Type(form.fg2Edit, QStringLiteral("500"));
    Type(form.fg3Edit, QStringLiteral("3000"));
    for (const auto& row : form.DesignPanel1->BandRows)
        if (row.name->text() == QStringLiteral("High")) {
            row.level->setValue(-6.0);
            row.delay->setValue(0.1);
        }
    BoxAnswer answer;
    form.XOButtonClick();
    form.XOButton->setFocus();
    return &form;
}

// The trims of tarn-cli's --level, --delay and --invert options in args (argv[0] first), by
// band name; nothing, with the reason on standard error, for anything else in args.
std::optional<std::map<std::string, tarn::BandTrim, std::less<>>>
TrimsOfOptions(std::vector<const char*> args) {
    std::ostringstream out, err;
    const tarn::CliParse parse =
        tarn::ParseCliOptions(static_cast<int>(args.size()), args.data(), out, err);
    const std::optional<tarn::CliOptions>& o = parse.options;
    if (!o || o->rate || o->order || o->minimumPhase || o->precision || o->format || o->alignment ||
        o->taps || !o->frequencies.empty() || o->project != ".") {
        std::fprintf(stderr, "%sonly --level, --delay and --invert are taken here\n",
                     err.str().c_str());
        return std::nullopt;
    }
    std::map<std::string, tarn::BandTrim, std::less<>> trims;
    for (const tarn::CliTrim& trim : o->trims) {
        tarn::BandTrim& t = trims[std::string(tarn::BandName(trim.band))];
        if (trim.levelDb) t.levelDb = *trim.levelDb;
        if (trim.delayMs) t.delayMs = *trim.delayMs;
        if (trim.invert) t.invert = true;
    }
    return trims;
}

QWidget* ResponsePicture(TForm1& form, bool linear, bool linkwitzRiley,
                         const std::map<std::string, tarn::BandTrim, std::less<>>& trims) {
    form.Radio48->setChecked(true);
    form.Minimumphasecheckbox->setChecked(!linear);
    if (linkwitzRiley) form.DesignPanel1->SetAlignment(tarn::Alignment::LinkwitzRiley);
    form.fg1Edit->setText(QStringLiteral("80"));
    form.fg2Edit->setText(QStringLiteral("500"));
    form.fg3Edit->setText(QStringLiteral("3000"));
    form.fg4Edit->setText(QStringLiteral("8000"));
    form.DesignPanel1->SetTrims(trims);
    form.Response1->trigger();

    BoxAnswer answer;
    form.XOButtonClick();
    // The window's default size, whatever room the offscreen screen leaves beside the main
    // window; and its files are read on a worker thread: drawn once that is done.
    tarn::ResponseWindow* view = form.ResponseWindow1;
    view->resize(tarn::ResponseWindow::DefaultWidth, tarn::ResponseWindow::DefaultHeight);
    while (view->Busy())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    // The cursor where the sum strays furthest from flat, so the readout has its figures.
    if (view->Analysis()) view->SetCursorHz(view->Analysis()->deviationHz);
    return view;
}

} // namespace

int main(int argc, char* argv[]) {
    const bool window = argc == 3 && std::strcmp(argv[1], "window") == 0;
    bool response = argc >= 3 && std::strcmp(argv[1], "response") == 0;
    // After the output: the phase or alignment word, then the trims.
    int next = 3;
    const char* variant = next < argc && argv[next][0] != '-' ? argv[next++] : "";
    const bool linear = std::strcmp(variant, "linear") == 0;
    const bool lr = std::strcmp(variant, "lr") == 0;
    response = response && (linear || lr || *variant == '\0');
    std::optional<std::map<std::string, tarn::BandTrim, std::less<>>> trims;
    if (response) {
        std::vector<const char*> options = {argv[0]};
        options.insert(options.end(), argv + next, argv + argc);
        trims = TrimsOfOptions(options);
    }
    if (!window && !trims) {
        std::fprintf(stderr,
                     "usage: %s window OUTPUT.png\n       %s response OUTPUT.png [linear|lr] "
                     "[--level BAND=DB] [--delay BAND=MS] [--invert BAND]\n",
                     argv[0], argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");

    tarn::TarnApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarn"));
    QApplication::setWindowIcon(tarn::ProgramIcon());

    // A throw-away application directory: start-up creates its "MyFirstProject" there, not
    // in the build tree, and an example run writes its files into it.
    QTemporaryDir appDir;
    if (!appDir.isValid()) {
        std::fprintf(stderr, "cannot create a temporary directory\n");
        return 1;
    }
    TForm1 form(appDir.path().toStdString() + "/");
    form.show();
    QCoreApplication::processEvents();

    QWidget* shown = window ? MainWindowPicture(form) : ResponsePicture(form, linear, lr, *trims);
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();

    if (!shown->grab().save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
