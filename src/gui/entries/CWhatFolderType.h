#pragma once

#include "i18n/CTranslation.h"
#include "platform/ProcessInfo.h"
#include "storage/PowerClass.h"

#include <QDialog>

#include <memory>
#include <string>

class Dialogs;
namespace Ui {
class CWhatFolderType;
}

// Asks whether the backup destination is a folder on this machine (or a drive
// mounted here) or a folder on an FTP server.
class CWhatFolderType : public QDialog {
    Q_OBJECT
public:
    enum Choice { LocalFolder = 0, FtpFolder = 1 };

    explicit CWhatFolderType(Dialogs& dialogs, QWidget* parent = nullptr,
                             std::string programFolder = ::ProgramFolder());
    ~CWhatFolderType() override;

    void SetInfoLines(const QString& first, const QString& second);
    void SetChoice(Choice choice);
    Choice GetChoice() const;

private:
    void OpenFtpInformation();

    std::unique_ptr<Ui::CWhatFolderType> ui_;
    Dialogs& dialogs_;
    PowerClass settings_;
    CTranslation texts_;
};
