#include "entries/EntryCommands.h"

#include "entries/CAddFtp.h"
#include "entries/CAddSpecialFolder.h"
#include "entries/CWhatFolderType.h"
#include "storage/ProjectFile.h"
#include "util/SafeFormat.h"

#include <QDialog>
#include <QFile>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace {

// The system's own folder of temporary files, added together with the user's.
constexpr std::string_view kSystemTempEntry = "/tmp/...";
const QString kAllFilesFilter = QStringLiteral("All files (*)");

std::string PathBytes(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// The commands' texts and message boxes.
class Messages {
public:
    Messages(MainWindowAccess& window, Dialogs& dialogs, const CTranslation& texts)
        : window_(window), dialogs_(dialogs), texts_(texts) {}

    QString Text(TextId id) const { return QString::fromUtf8(texts_.GetText(id)); }

    void Show(const QString& text) {
        dialogs_.ShowMessage(window_.Window(), text, Text(TextId::MessageCaption), Dialogs::Buttons::Ok,
                             Dialogs::Icon::None);
    }

    void NotStorable(const std::string& text) {
        Show(QString::fromUtf8(FormatText(texts_.GetText(TextId::TextNotStorable), text)));
    }

private:
    MainWindowAccess& window_;
    Dialogs& dialogs_;
    const CTranslation& texts_;
};

// Appends the entry unless the project file could not hold it, which is said.
bool AppendIfStorable(MainWindowAccess& window, Messages& messages, const std::string& entry) {
    if (WhyEntryNotStorable(entry)) {
        messages.NotStorable(entry);
        return false;
    }
    AppendEntry(window.Setup(), window, entry);
    return true;
}

}  // namespace

EntryCommands::EntryCommands(MainWindowAccess& window, Dialogs& dialogs, const CTranslation& texts)
    : window_(window), dialogs_(dialogs), texts_(texts) {}

void EntryCommands::AddFiles() {
    AddFilesAs(false);
}
void EntryCommands::AddFileExceptions() {
    AddFilesAs(true);
}
void EntryCommands::AddFolder() {
    AddFolderAs(false);
}
void EntryCommands::AddFolderException() {
    AddFolderAs(true);
}

void EntryCommands::AddFilesAs(bool exceptions) {
    const QStringList files = dialogs_.OpenFiles(window_.Window(), kAllFilesFilter, QString(), true);
    if (files.isEmpty()) return;

    // A file the project file cannot hold is refused on its own; the others
    // still go in.
    std::vector<std::string> refused;
    bool added = false;
    for (const QString& file : files) {
        const std::string path = PathBytes(file);
        const std::string entry = exceptions ? ExceptionEntry(path) : path;
        if (WhyEntryNotStorable(entry)) {
            refused.push_back(path);
            continue;
        }
        AppendEntry(window_.Setup(), window_, entry);
        window_.PushValues();
        added = true;
    }
    if (added) window_.SaveCurrentProject();
    if (refused.empty()) return;
    std::string names;
    for (const std::string& path : refused) names += (names.empty() ? "" : "\n") + path;
    Messages(window_, dialogs_, texts_).NotStorable(names);
}

void EntryCommands::AddFolderAs(bool exception) {
    Messages messages(window_, dialogs_, texts_);
    const TextId title = exception ? TextId::ChooseExceptionFolderTitle : TextId::ChooseFolderTitle;
    const std::optional<QString> folder = dialogs_.BrowseFolder(window_.Window(), messages.Text(title));
    if (!folder || folder->isEmpty()) return;

    const std::string path = PathBytes(*folder);
    const std::string entry = exception ? ExceptionEntry(FolderEntry(path)) : FolderEntry(path);
    if (!AppendIfStorable(window_, messages, entry)) return;
    window_.ScrollToLastRow();
    window_.SaveCurrentProject();
}

void EntryCommands::AddSpecialFolder() {
    CAddSpecialFolder dialog(dialogs_, window_.Window());
    dialogs_.Run(dialog);  // what counts is the entry the dialog produced
    const std::string& entry = dialog.EntryText();
    if (entry.empty()) return;

    Messages messages(window_, dialogs_, texts_);
    if (!AppendIfStorable(window_, messages, entry)) return;
    window_.ScrollToLastRow();
    if (dialog.ChoseTemporaryFiles()) {
        AppendEntry(window_.Setup(), window_, std::string(kSystemTempEntry));
        window_.ScrollToLastRow();
    }
    window_.SaveCurrentProject();
    window_.PullValues();
}

void EntryCommands::RemoveEntries() {
    if (!window_.HasSelectionMark()) {
        Messages messages(window_, dialogs_, texts_);
        messages.Show(messages.Text(TextId::NoEntrySelected));
    } else {
        std::vector<int> rows = window_.SelectedRows();
        std::sort(rows.begin(), rows.end());
        rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
        // From the bottom up, so the rows still to go keep their indexes and
        // every array element leaves together with its row.
        std::vector<std::string>& entries = window_.Setup().entries;
        for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
            if (*row < 0) continue;
            if (static_cast<std::size_t>(*row) < entries.size()) entries.erase(entries.begin() + *row);
            window_.RemoveRow(*row);
        }
        window_.SaveCurrentProject();
    }
    if (window_.Setup().entries.empty()) window_.Reinitialize();
}

void EntryCommands::BrowseDestination() {
    Messages messages(window_, dialogs_, texts_);
    CWhatFolderType folderType(dialogs_, window_.Window());
    folderType.SetInfoLines(messages.Text(TextId::FolderTypeInfo1), messages.Text(TextId::FolderTypeInfo2));
    folderType.SetChoice(CWhatFolderType::LocalFolder);
    if (dialogs_.Run(folderType) != QDialog::Accepted) return;

    if (folderType.GetChoice() == CWhatFolderType::LocalFolder) {
        const std::optional<QString> folder =
            dialogs_.BrowseFolder(window_.Window(), messages.Text(TextId::ChooseFolderTitle));
        if (!folder || folder->isEmpty()) return;
        const std::string destination = LocalDestination(PathBytes(*folder));
        if (WhyDestinationNotStorable(destination)) {
            messages.NotStorable(destination);
            return;
        }
        window_.Setup().destination = destination;
        window_.ShowDestination();
        window_.SaveCurrentProject();
        window_.PushValues();
        return;
    }

    // The dialog refuses fields that would not decode back or cannot be stored.
    CAddFtp ftp(dialogs_, window_.Window());
    if (dialogs_.Run(ftp) != QDialog::Accepted) return;
    window_.Setup().destination =
        FtpDestination(ftp.ServerName(), ftp.UserName(), ftp.Password(), ftp.Folder(), ftp.Passive());
    if (window_.SaveCurrentProject()) {
        window_.Reinitialize();
    } else {
        // The failure was reported; the window still shows what it holds.
        window_.ShowDestination();
    }
}
