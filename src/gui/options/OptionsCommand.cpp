#include "options/OptionsCommand.h"

#include "i18n/CTranslation.h"
#include "language/FileErrorReport.h"
#include "options/COptions.h"
#include "storage/OptionString.h"
#include "util/FileError.h"

#include <QDialog>

#include <stdexcept>

namespace {

// The dialog's own texts may be what failed to load; the report then names the
// file without them.
void ReportFailure(QWidget* parent, Dialogs& dialogs, const std::string& programFolder,
                   const std::string& path) {
    CTranslation texts(programFolder);
    try {
        texts.Load();
    } catch (const FileError&) {
    }
    ReportFileError(parent, dialogs, texts, path);
}

}  // namespace

bool RunOptionsCommand(QWidget* parent, Dialogs& dialogs, BackupSetup& setup, PowerClass& settings) {
    COptions dialog(dialogs, settings.ProgramFolder(), parent);
    try {
        dialog.Initialise();
    } catch (const FileError& error) {
        ReportFailure(parent, dialogs, settings.ProgramFolder(), error.path());
        return false;
    }
    if (dialogs.Run(dialog) != QDialog::Accepted) return false;

    // Positions 0-1 belong to the main window; the dialog owns the rest.
    const std::string own = CompleteOptionString(setup.optionFlags);
    const std::string& edited = dialog.OptionString();
    const std::string merged = own.substr(0, 2) + edited.substr(edited.size() - 13);
    try {
        settings.SetSetting("Options", merged);
    } catch (const FileError& error) {
        ReportFailure(parent, dialogs, settings.ProgramFolder(), error.path());
        return false;
    } catch (const std::invalid_argument&) {
        ReportFailure(parent, dialogs, settings.ProgramFolder(), settings.SettingsFile());
        return false;
    }
    setup.optionFlags = merged;
    setup.breakLongPaths = OptionIsOne(merged, Option::kBreakLongPaths);
    return true;
}
