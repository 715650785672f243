#pragma once

#include "storage/PowerClass.h"

#include <QDialog>

#include <memory>
#include <string>
#include <vector>

namespace Ui {
class CLanguageSelection;
}

// Lists the sections of the translation file under their display names and
// lets the user choose one. OK sets the current language to the chosen
// section's header; Escape and the close box leave it as it was.
class CLanguageSelection : public QDialog {
    Q_OBJECT

public:
    CLanguageSelection(std::string currentLanguage, const QString& groupCaption, std::string programFolder,
                       QWidget* parent = nullptr);
    ~CLanguageSelection() override;

    // Reads the section list from the translation file and preselects the
    // current language. Throws FileError naming the file when it cannot be read.
    void Initialise();

    const std::string& CurrentLanguage() const { return currentLanguage_; }
    // Header 1, name 1, header 2, name 2, ... in file order.
    const std::vector<std::string>& LanguageList() const { return languageList_; }

    void accept() override;

private:
    void ShowSelectedText(const QString& text);

    std::unique_ptr<Ui::CLanguageSelection> ui_;
    PowerClass settings_;
    std::string currentLanguage_;
    std::vector<std::string> languageList_;
};

// Header and display name of every section of a translation file (a header is a
// line of exactly six characters beginning with "["; its display name is the
// text from position 6 of the second line after it), flattened in file order.
// Throws FileError when the file cannot be read.
std::vector<std::string> ReadLanguageList(const std::string& translationFile);
