#include "app/CBackupApp.h"
#include "platform/ProcessInfo.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    // The automatic-start marker "%1" is looked for in the command line later.
    RecordCommandLine(argc, argv);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tarnwick-backup"));
    QApplication::setDesktopFileName(QStringLiteral("tarnwick-backup"));
    CBackupApp app;
    return app.InitInstance();
}
