// Tarn: the desktop program. One window, one thread; everything happens inside the window's
// handlers, and nothing is saved at exit.
#include <QApplication>
#include <csignal>

#include "app/Tarn_Unit.h"

int main(int argc, char* argv[]) {
    // A file-size limit (ulimit -f) then fails the write that crosses it, which the run
    // reports as a full disk, instead of killing the window.
    std::signal(SIGXFSZ, SIG_IGN);
    tarn::TarnApplication application(argc, argv);
    // Only the name: a display name would make Qt append " - Tarn" to every window title.
    QApplication::setApplicationName(QStringLiteral("Tarn"));
    QGuiApplication::setDesktopFileName(QStringLiteral("tarn"));
    QApplication::setWindowIcon(tarn::ProgramIcon());

    // The constructor runs FormCreate, which shows an error of the start-up load before the
    // window appears; the window then opens all the same.
    TForm1 form;
    form.show();
    return application.exec();
}
