// Renders the real main window, as a user sees it after start-up with the example
// frequencies 80, 500 and 3000 typed in, to a PNG. Needs no display: it runs on Qt's
// offscreen platform unless another one is asked for.
//
// Usage: tarn-render-window OUTPUT.png
#include <QApplication>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QTemporaryDir>
#include <cstdio>

#include "app/Tarn_Unit.h"

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

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");

    tarn::TarnApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarn"));
    QApplication::setWindowIcon(tarn::ProgramIcon());

    // A throw-away application directory, so the picture's start-up creates no
    // "MyFirstProject" in the build tree.
    QTemporaryDir appDir;
    if (!appDir.isValid()) {
        std::fprintf(stderr, "cannot create a temporary directory\n");
        return 1;
    }
    TForm1 form(appDir.path().toStdString() + "/");
    form.show();
    QCoreApplication::processEvents();

    Type(form.fg1Edit, QStringLiteral("80"));
    Type(form.fg2Edit, QStringLiteral("500"));
    Type(form.fg3Edit, QStringLiteral("3000"));
    form.XOButton->setFocus();
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();

    const QString output = QString::fromLocal8Bit(argv[1]);
    if (!form.grab().save(output, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
