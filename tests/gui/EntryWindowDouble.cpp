#include "EntryWindowDouble.h"

#include "storage/ProjectFile.h"
#include "util/FileError.h"

#include <QItemSelectionModel>
#include <QVBoxLayout>

#include <algorithm>

EntryWindowDouble::EntryWindowDouble(std::string currentProject, std::string defaultProjectFile)
    : list(new QListWidget(&window)),
      destinationBox(new QLineEdit(&window)),
      defaultProject(std::move(defaultProjectFile)) {
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(list);
    layout->addWidget(destinationBox);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    destinationBox->setReadOnly(true);
    setup.currentProjectFile = std::move(currentProject);
    setup.interval = 60;
    setup.minutesRemaining = 60;
    WriteProject(setup.currentProjectFile, setup);
}

std::vector<int> EntryWindowDouble::SelectedRows() const {
    std::vector<int> rows;
    for (const QModelIndex& index : list->selectionModel()->selectedRows()) rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void EntryWindowDouble::RemoveRow(int row) {
    delete list->takeItem(row);
}

void EntryWindowDouble::ScrollToLastRow() {
    ++scrolls;
    if (list->count() > 0) list->scrollToItem(list->item(list->count() - 1));
}

void EntryWindowDouble::ShowDestination() {
    destinationBox->setText(QString::fromUtf8(DestinationBoxText(setup.destination, setup.breakLongPaths)));
}

bool EntryWindowDouble::SaveCurrentProject() {
    try {
        WriteProject(setup.currentProjectFile, setup);
        ++saves;
        return true;
    } catch (const FileError&) {
        ++failedSaves;
        return false;
    }
}

// What the real window's initialisation does with the project: the default
// project becomes the current one and is loaded.
void EntryWindowDouble::Reinitialize() {
    ++reinitializations;
    setup.currentProjectFile = defaultProject;
    setup.entries.clear();
    LoadProject(defaultProject, setup);
    list->clear();
    for (const std::string& entry : setup.entries) AppendRow(entry);
    ShowDestination();
}

void EntryWindowDouble::AppendRow(const std::string& text) {
    list->addItem(QString::fromUtf8(text));
}

std::vector<std::string> EntryWindowDouble::RowTexts() const {
    std::vector<std::string> rows;
    for (int row = 0; row < list->count(); ++row) rows.push_back(list->item(row)->text().toStdString());
    return rows;
}

void EntryWindowDouble::SelectRows(const std::vector<int>& rows) {
    list->clearSelection();
    for (int row : rows) {
        list->setCurrentRow(row, QItemSelectionModel::Select);
    }
}
