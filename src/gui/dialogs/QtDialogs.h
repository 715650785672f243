#pragma once

#include "dialogs/Dialogs.h"

// The desktop's own dialogs: QMessageBox, QFileDialog, QPrintDialog and
// QDesktopServices.
class QtDialogs : public Dialogs {
public:
    Answer ShowMessage(QWidget* parent, const QString& text, const QString& caption, Buttons buttons,
                       Icon icon) override;
    void ShowNotice(QWidget* parent, const QString& text, const QString& caption, Icon icon) override;
    QStringList OpenFiles(QWidget* parent, const QString& filter, const QString& startFolder,
                          bool several) override;
    std::optional<QString> SaveFile(QWidget* parent, const QString& filter, const QString& defaultSuffix,
                                    const QString& initialName) override;
    std::optional<QString> BrowseFolder(QWidget* parent, const QString& title) override;
    bool OpenWithDesktop(const QString& pathOrUrl) override;
    bool ChoosePrinter(QWidget* parent, QPrinter& printer) override;
    int Run(QDialog& dialog) override;
};
