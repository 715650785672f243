#pragma once

#include "i18n/CTranslation.h"
#include "platform/ProcessInfo.h"

#include <QDialog>

#include <memory>
#include <string>

class Dialogs;
namespace Ui {
class CAddSpecialFolder;
}

// Offers the user's well-known folders and turns the chosen one into a folder
// entry.
class CAddSpecialFolder : public QDialog {
    Q_OBJECT
public:
    explicit CAddSpecialFolder(Dialogs& dialogs, QWidget* parent = nullptr,
                               std::string programFolder = ::ProgramFolder());
    ~CAddSpecialFolder() override;

    // Empty unless OK produced an entry.
    const std::string& EntryText() const { return entryText_; }
    // True when the entry is the user's folder of temporary files, which the
    // caller pairs with the system's.
    bool ChoseTemporaryFiles() const { return choseTemporaryFiles_; }

    void accept() override;
    void reject() override;

private:
    int SelectedIndex() const;

    std::unique_ptr<Ui::CAddSpecialFolder> ui_;
    Dialogs& dialogs_;
    CTranslation texts_;
    std::string entryText_;
    bool choseTemporaryFiles_ = false;
};
