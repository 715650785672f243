#include "language/LanguageCommand.h"

#include "language/CLanguageSelection.h"
#include "language/FileErrorReport.h"
#include "util/FileError.h"

#include <stdexcept>

bool RunLanguageCommand(QWidget* parent, Dialogs& dialogs, PowerClass& settings, const CTranslation& texts) {
    try {
        const std::string stored = settings.GetSetting("Language");
        CLanguageSelection dialog(stored, QString::fromStdString(texts.GetText(TextId::LanguageGroupCaption)),
                                  settings.ProgramFolder(), parent);
        dialog.Initialise();
        dialogs.Run(dialog);
        // Escape and the close box leave the current language as it was.
        if (dialog.CurrentLanguage() == stored) return false;
        settings.SetSetting("Language", dialog.CurrentLanguage());
        return true;
    } catch (const FileError& error) {
        ReportFileError(parent, dialogs, texts, error.path());
    } catch (const std::invalid_argument&) {
        ReportFileError(parent, dialogs, texts, settings.SettingsFile());
    }
    return false;
}
