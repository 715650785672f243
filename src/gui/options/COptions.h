#pragma once

#include "i18n/CTranslation.h"
#include "storage/PowerClass.h"
#include "util/TimeText.h"

#include <QDialog>

#include <array>
#include <memory>
#include <string>

class Dialogs;
class QCheckBox;

namespace Ui {
class COptions;
}

// The program-wide options: eight switches and the minutes to wait after an
// automatic start (positions 2-11 of "Options"), the default project file and
// the history log tools. The dialog writes only "Path" (Browse); the caller
// stores the option string it hands back.
class COptions : public QDialog {
    Q_OBJECT

public:
    explicit COptions(Dialogs& dialogs, std::string programFolder, QWidget* parent = nullptr,
                      const Clock& clock = SystemClock());
    ~COptions() override;

    // Reloads texts and values from the translation and settings files, as each
    // opening does. Throws FileError when one of them cannot be read.
    void Initialise();

    // The edited option string (15 characters) after OK.
    const std::string& OptionString() const { return options_; }

    void accept() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct SwitchBox {
        QCheckBox* box;
        std::size_t position;
    };

    void SetTexts();
    void ShowValues();
    // Minutes from the edit when they are an integer from 0 to 60; otherwise
    // reports the fault, puts the focus back and returns -1.
    int ValidatedMinutes();
    void BrowseDefaultProject();
    void ShowHelp();
    void ShowLog();
    void EmptyLog();
    void PrintLog();
    std::string LogPath() const;
    std::array<SwitchBox, 8> Switches() const;

    std::unique_ptr<Ui::COptions> ui_;
    Dialogs& dialogs_;
    const Clock& clock_;
    PowerClass settings_;
    CTranslation texts_;
    std::string options_;
};
