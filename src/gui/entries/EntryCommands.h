#pragma once

#include "dialogs/Dialogs.h"
#include "i18n/CTranslation.h"
#include "sources/Entries.h"
#include "storage/BackupSetup.h"
#include "storage/PowerClass.h"

#include <vector>

class QWidget;

// The main window as the commands that edit the set-up see it.
class MainWindowAccess : public EntryListView {
public:
    virtual QWidget* Window() = 0;
    virtual BackupSetup& Setup() = 0;
    // Selected rows of the entry list, ascending.
    virtual std::vector<int> SelectedRows() const = 0;
    virtual bool HasSelectionMark() const = 0;
    virtual void RemoveRow(int row) = 0;
    virtual void ScrollToLastRow() = 0;
    // Shows the set-up's destination in the destination box.
    virtual void ShowDestination() = 0;
    // Writes the current project file; reports a failure itself, false then.
    virtual bool SaveCurrentProject() = 0;
    // Controls -> set-up, and back.
    virtual void PullValues() = 0;
    virtual void PushValues() = 0;
    // Runs the window's whole initialisation again (reloads the default project).
    virtual void Reinitialize() = 0;
};

// Add File, Add Folder, Add Special Folder, the two exceptions, Remove Entry and
// Browse. Each change is saved at once; a cancelled dialog changes nothing.
class EntryCommands {
public:
    EntryCommands(MainWindowAccess& window, Dialogs& dialogs, const CTranslation& texts);

    void AddFiles();
    void AddFileExceptions();
    void AddFolder();
    void AddFolderException();
    void AddSpecialFolder();
    void RemoveEntries();
    void BrowseDestination();

private:
    void AddFilesAs(bool exceptions);
    void AddFolderAs(bool exception);

    MainWindowAccess& window_;
    Dialogs& dialogs_;
    const CTranslation& texts_;
};
