#pragma once

#include "engine/Restore.h"
#include "i18n/CTranslation.h"
#include "restore/RestoreText.h"
#include "storage/BackupSetup.h"

#include <QDialog>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class Dialogs;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QTreeWidget;

// File > Restore...: the user picks the project's entries and where their
// files go back to, sees what a restore would do (the dry run, kept current
// with every choice) and, once confirmed, carries it out. Reading the
// destination and copying run off the window's thread, so the window keeps
// painting while a server answers slowly.
class CRestoreDlg : public QDialog {
    Q_OBJECT
public:
    // settingsFolder holds the server certificates the user trusted.
    CRestoreDlg(Dialogs& dialogs, const CTranslation& texts, BackupSetup setup, std::string settingsFolder,
                QWidget* parent = nullptr);
    ~CRestoreDlg() override;

    // Works out the dry run for the current choices and lists it.
    void RefreshPlan();
    // Set once a confirmed restore was carried out; the dialog then closes.
    const std::optional<RestoreOutcome>& Outcome() const { return outcome_; }

    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BuildControls();
    void ApplyTexts();
    void FillEntries();
    RestoreRequest Request() const;
    void OnAllToggled(bool checked);
    void OnEntryChanged();
    void OnTargetChosen();
    void OnBrowse();
    void OnRestore();
    void ShowPlan(const std::vector<std::string>& unreadable);
    // Runs work on a thread of its own while this window stays live but locked,
    // showing status (asked again every few hundred milliseconds) meanwhile.
    void RunOffTheWindow(const std::function<QString()>& status, const std::function<void()>& work);
    void SetBusy(bool busy);

    Dialogs& dialogs_;
    CTranslation texts_;
    BackupSetup setup_;
    std::string settingsFolder_;
    std::vector<std::string> entryPaths_;  // original path of each row of the entry list
    RestorePlan plan_;
    std::optional<RestoreOutcome> outcome_;
    bool busy_ = false;
    bool planShown_ = false;
    bool fillingEntries_ = false;

    QGroupBox* entriesGroup_;
    QCheckBox* allEntries_;
    QListWidget* entryList_;
    QGroupBox* targetGroup_;
    QRadioButton* originalPlaces_;
    QRadioButton* toFolder_;
    QLineEdit* folderEdit_;
    QPushButton* browse_;
    QCheckBox* overwrite_;
    QGroupBox* planGroup_;
    QTreeWidget* planList_;
    QLabel* summary_;
    QPushButton* restore_;
    QPushButton* close_;
};
