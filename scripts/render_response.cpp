// Renders the response window after a five-way design (48000 Hz, 80, 500, 3000 and 8000 Hz,
// order 10) computed through the real window, to a PNG. Needs no display: it runs on Qt's
// offscreen platform unless another one is asked for.
//
// Usage: tarn-render-response OUTPUT.png [linear]
//   linear: linear phase instead of the window's default, minimum phase.
#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "app/ResponseWindow.h"
#include "app/Tarn_Unit.h"

int main(int argc, char* argv[]) {
    if (argc < 2 || argc > 3 || (argc == 3 && std::strcmp(argv[2], "linear") != 0)) {
        std::fprintf(stderr, "usage: %s OUTPUT.png [linear]\n", argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");

    tarn::TarnApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarn"));
    QApplication::setWindowIcon(tarn::ProgramIcon());

    // A throw-away application directory: the run's files go into its default project.
    QTemporaryDir appDir;
    if (!appDir.isValid()) {
        std::fprintf(stderr, "cannot create a temporary directory\n");
        return 1;
    }
    TForm1 form(appDir.path().toStdString() + "/");
    form.show();
    form.Radio48->setChecked(true);
    form.Minimumphasecheckbox->setChecked(argc != 3);
    form.fg1Edit->setText(QStringLiteral("80"));
    form.fg2Edit->setText(QStringLiteral("500"));
    form.fg3Edit->setText(QStringLiteral("3000"));
    form.fg4Edit->setText(QStringLiteral("8000"));
    form.Response1->trigger();

    // Dismisses the completion message as soon as it is up.
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->accept();
    });
    answer.start(20);
    form.XOButtonClick();
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();

    const QString output = QString::fromLocal8Bit(argv[1]);
    if (!form.ResponseWindow1->grab().save(output, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
