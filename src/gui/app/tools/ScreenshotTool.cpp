// Renders the main window offscreen, with a sample set-up, for the
// documentation: in English, German and French, and also under a dark theme
// and at a 1.25x font. tarnwick-screenshots <output folder>.
#include "app/CBackupDlg.h"
#include "app/tools/DarkPalette.h"
#include "dialogs/Dialogs.h"
#include "storage/FirstStart.h"
#include "storage/PowerClass.h"
#include "storage/ProjectFile.h"

#include <QApplication>
#include <QDir>
#include <QPalette>
#include <QPixmap>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace {

// Answers every question like a user who cancels; nothing is shown.
class SilentDialogs : public Dialogs {
public:
    Answer ShowMessage(QWidget*, const QString& text, const QString&, Buttons, Icon) override {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
        return Answer::Ok;
    }
    void ShowNotice(QWidget* parent, const QString& text, const QString& caption, Icon icon) override {
        ShowMessage(parent, text, caption, Buttons::Ok, icon);
    }
    QStringList OpenFiles(QWidget*, const QString&, const QString&, bool) override { return {}; }
    std::optional<QString> SaveFile(QWidget*, const QString&, const QString&, const QString&) override {
        return std::nullopt;
    }
    std::optional<QString> BrowseFolder(QWidget*, const QString&) override { return std::nullopt; }
    bool OpenWithDesktop(const QString&) override { return false; }
    bool ChoosePrinter(QWidget*, QPrinter&) override { return false; }
    int Run(QDialog&) override { return 0; }
};

BackupSetup SampleSetup() {
    BackupSetup setup;
    setup.entries = {"/home/ann/Documents/...", "/home/ann/Pictures/Holidays/...",
                     "-/home/ann/Pictures/Holidays/Raw/...", "/home/ann/Music/...",
                     "/home/ann/.config/mail/accounts.conf"};
    setup.destination = "/media/ann/backup-drive/Tarnwick Backup Folder/...";
    setup.interval = 1440;
    setup.minutesRemaining = 1440;
    return setup;
}

// How the desktop presents the window: its palette and font.
struct Look {
    const char* suffix;
    bool dark;
    double fontFactor;
};

void ApplyLook(const Look& look, const QPalette& lightPalette, const QFont& normalFont) {
    QApplication::setPalette(look.dark ? DarkDesktopPalette() : lightPalette);
    QFont font = normalFont;
    if (font.pointSizeF() > 0) font.setPointSizeF(font.pointSizeF() * look.fontFactor);
    QApplication::setFont(font);
}

bool Render(const QString& language, const QString& outputFile, const std::string& programFolder) {
    QTemporaryDir home;
    if (!home.isValid()) return false;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toLocal8Bit());
    QDir(home.path()).mkpath(QStringLiteral(".config"));

    PowerClass settings(programFolder);
    settings.ResolveSettingsFile();
    settings.SetSetting("Language", language.toStdString());
    settings.SetSetting("Options", "100000000005000");
    WriteProject(ProvisionDefaultProject(settings), SampleSetup());

    SilentDialogs dialogs;
    MainWindowEnvironment environment = MainWindowEnvironment::FromProcess();
    environment.programFolder = programFolder;
    environment.trayAvailable = [] { return false; };
    CBackupDlg window(dialogs, environment);
    window.show();
    QApplication::processEvents();
    return window.grab().save(outputFile, "PNG");
}

}  // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: tarnwick-screenshots <output folder>\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);
    const std::string programFolder = QCoreApplication::applicationDirPath().toStdString();
    const QPalette lightPalette = QApplication::palette();
    const QFont normalFont = QApplication::font();
    const std::pair<const char*, const char*> languages[] = {
        {"[1033]", "en"}, {"[1031]", "de"}, {"[1036]", "fr"}};
    const Look looks[] = {
        {"", false, 1.0}, {"-dark", true, 1.0}, {"-125", false, 1.25}, {"-125-dark", true, 1.25}};
    bool ok = true;
    for (const Look& look : looks) {
        ApplyLook(look, lightPalette, normalFont);
        for (const auto& [section, suffix] : languages) {
            const QString file = folder + "/screenshot-" + suffix + look.suffix + ".png";
            ok = Render(QString::fromLatin1(section), file, programFolder) && ok;
        }
    }
    return ok ? EXIT_SUCCESS : EXIT_FAILURE;
}
