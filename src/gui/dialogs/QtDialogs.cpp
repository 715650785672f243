#include "dialogs/QtDialogs.h"

#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QUrl>

namespace {
QMessageBox::Icon BoxIcon(Dialogs::Icon icon) {
    switch (icon) {
        case Dialogs::Icon::Question:
            return QMessageBox::Question;
        case Dialogs::Icon::Warning:
            return QMessageBox::Warning;
        case Dialogs::Icon::Information:
            return QMessageBox::Information;
        case Dialogs::Icon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

const char* const kNoticeProperty = "tarnwickNotice";

QMessageBox* OpenNoticeLike(QWidget* parent, const QString& text, const QString& caption) {
    if (parent == nullptr) return nullptr;
    for (QMessageBox* box : parent->findChildren<QMessageBox*>(Qt::FindDirectChildrenOnly))
        if (box->property(kNoticeProperty).toBool() && box->isVisible() && box->text() == text &&
            box->windowTitle() == caption)
            return box;
    return nullptr;
}
}  // namespace

Dialogs::Answer QtDialogs::ShowMessage(QWidget* parent, const QString& text, const QString& caption,
                                       Buttons buttons, Icon icon) {
    QMessageBox box(parent);
    box.setWindowTitle(caption);
    box.setText(text);
    box.setIcon(BoxIcon(icon));
    if (buttons == Buttons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes ? Answer::Yes : Answer::No;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return Answer::Ok;
}

void QtDialogs::ShowNotice(QWidget* parent, const QString& text, const QString& caption, Icon icon) {
    if (QMessageBox* open = OpenNoticeLike(parent, text, caption)) {
        open->raise();
        return;
    }
    auto* box = new QMessageBox(BoxIcon(icon), caption, text, QMessageBox::Ok, parent);
    box->setProperty(kNoticeProperty, true);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // Not even window-modal: the main window stays usable (the stop button).
    box->setWindowModality(Qt::NonModal);
    box->show();
}

QStringList QtDialogs::OpenFiles(QWidget* parent, const QString& filter, const QString& startFolder,
                                 bool several) {
    if (several) return QFileDialog::getOpenFileNames(parent, QString(), startFolder, filter);
    const QString file = QFileDialog::getOpenFileName(parent, QString(), startFolder, filter);
    return file.isEmpty() ? QStringList() : QStringList{file};
}

std::optional<QString> QtDialogs::SaveFile(QWidget* parent, const QString& filter,
                                           const QString& defaultSuffix, const QString& initialName) {
    QFileDialog dialog(parent, QString(), QString(), filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(defaultSuffix);
    dialog.selectFile(initialName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first();
}

std::optional<QString> QtDialogs::BrowseFolder(QWidget* parent, const QString& title) {
    // From the home folder, as the desktop's own pickers start, not from
    // wherever the program happened to be started.
    const QString folder = QFileDialog::getExistingDirectory(parent, title, QDir::homePath());
    if (folder.isEmpty()) return std::nullopt;
    return folder;
}

bool QtDialogs::OpenWithDesktop(const QString& pathOrUrl) {
    if (pathOrUrl.isEmpty()) return false;
    const QUrl url = QFileInfo(pathOrUrl).isAbsolute() ? QUrl::fromLocalFile(pathOrUrl) : QUrl(pathOrUrl);
    return QDesktopServices::openUrl(url);
}

bool QtDialogs::ChoosePrinter(QWidget* parent, QPrinter& printer) {
    QPrintDialog dialog(&printer, parent);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintToFile, false);
    return dialog.exec() == QDialog::Accepted;
}

int QtDialogs::Run(QDialog& dialog) {
    return dialog.exec();
}
