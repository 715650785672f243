#include "app/RestoreFromWindow.h"

#include "app/ErrorText.h"
#include "dialogs/Dialogs.h"
#include "restore/CRestoreDlg.h"

void RestoreFromWindow(QWidget* window, Dialogs& dialogs, const CTranslation& texts, const BackupSetup& setup,
                       const std::string& settingsFolder) {
    CRestoreDlg dialog(dialogs, texts, setup, settingsFolder, window);
    dialogs.Run(dialog);
    const std::optional<RestoreOutcome>& outcome = dialog.Outcome();
    if (!outcome) return;
    std::string message = OutcomeSummaryText(texts, *outcome);
    if (!outcome->failures.empty()) message += "\n\n" + TransferErrorsMessage(outcome->failures, texts);
    // A file without a backup copy was not restored either: the notice must not read as clean.
    const bool clean = outcome->failures.empty() && outcome->missing == 0;
    dialogs.ShowNotice(window, QString::fromUtf8(message), QString::fromUtf8(MessageCaption(texts)),
                       clean ? Dialogs::Icon::Information : Dialogs::Icon::Warning);
}
