#include "app/CBackupApp.h"

#include "app/CBackupDlg.h"
#include "app/SingleInstance.h"
#include "dialogs/QtDialogs.h"

#include <QApplication>

int CBackupApp::InitInstance() {
    SingleInstance instance(SingleInstance::DefaultName());
    // A second start brings the running window forward instead of opening a
    // second one that would share its files and schedule.
    if (!instance.Claim()) return 0;

    // The window hides into the tray and message boxes may close while it is
    // hidden; only the window's own end ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    QtDialogs dialogs;
    CBackupDlg window(dialogs, MainWindowEnvironment::FromProcess());
    QObject::connect(&instance, &SingleInstance::ActivationRequested, &window, &CBackupDlg::RestoreFromTray);
    QObject::connect(&window, &QDialog::finished, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    window.show();
    return QApplication::exec();
}
