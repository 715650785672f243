#pragma once

#include "entries/EntryCommands.h"

#include <QLineEdit>
#include <QListWidget>
#include <QWidget>

#include <string>
#include <vector>

// The main window as the entry commands see it, built on a real list widget and
// a real destination box; saves and reloads real project files.
class EntryWindowDouble : public MainWindowAccess {
public:
    // currentProject is written at once, so every test starts from a file.
    EntryWindowDouble(std::string currentProject, std::string defaultProject);

    QWidget* Window() override { return &window; }
    BackupSetup& Setup() override { return setup; }
    std::vector<int> SelectedRows() const override;
    bool HasSelectionMark() const override { return list->currentRow() >= 0; }
    void RemoveRow(int row) override;
    void ScrollToLastRow() override;
    void ShowDestination() override;
    bool SaveCurrentProject() override;
    void PullValues() override { ++pulls; }
    void PushValues() override { ++pushes; }
    void Reinitialize() override;
    void AppendRow(const std::string& text) override;

    std::vector<std::string> RowTexts() const;
    // Selects the rows (the last one becomes the selection mark).
    void SelectRows(const std::vector<int>& rows);

    QWidget window;
    QListWidget* list;
    QLineEdit* destinationBox;
    BackupSetup setup;
    std::string defaultProject;
    int saves = 0;
    int failedSaves = 0;
    int pulls = 0;
    int pushes = 0;
    int scrolls = 0;
    int reinitializations = 0;
};
