#include "language/CLanguageSelection.h"

#include "ui_CLanguageSelection.h"
#include "util/TextFile.h"

#include <QComboBox>

#include <algorithm>

namespace {

constexpr std::size_t kHeaderLength = 6;
constexpr std::size_t kNameStart = 6;

bool IsSectionHeader(const std::string& line) {
    return line.size() == kHeaderLength && line.front() == '[';
}

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

}  // namespace

std::vector<std::string> ReadLanguageList(const std::string& translationFile) {
    const std::vector<std::string> lines = ReadLines(translationFile);
    std::vector<std::string> list;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!IsSectionHeader(lines[i])) continue;
        list.push_back(lines[i]);
        // The header's next line is skipped; the one after it names the language.
        const std::size_t nameLine = i + 2;
        const bool hasName = nameLine < lines.size() && lines[nameLine].size() > kNameStart;
        list.push_back(hasName ? lines[nameLine].substr(kNameStart) : std::string());
        i = std::min(nameLine, lines.size());
    }
    return list;
}

CLanguageSelection::CLanguageSelection(std::string currentLanguage, const QString& groupCaption,
                                       std::string programFolder, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::CLanguageSelection>()),
      settings_(std::move(programFolder)),
      currentLanguage_(std::move(currentLanguage)) {
    ui_->setupUi(this);
    setWindowTitle(QStringLiteral("Language Selection"));
    ui_->languageGroup->setTitle(groupCaption);
    connect(ui_->okButton, &QPushButton::clicked, this, &CLanguageSelection::accept);
}

CLanguageSelection::~CLanguageSelection() = default;

void CLanguageSelection::Initialise() {
    settings_.ResolveSettingsFile();
    languageList_.clear();
    ui_->languageCombo->clear();
    const std::string file = settings_.ProgramFolder() + "/" + settings_.GetSetting("Product ID") + "trl.ini";
    languageList_ = ReadLanguageList(file);

    QStringList names;
    for (std::size_t i = 1; i < languageList_.size(); i += 2) names << FromUtf8(languageList_[i]);
    // A sorted list, as the user reads it.
    std::sort(names.begin(), names.end(),
              [](const QString& a, const QString& b) { return a.localeAwareCompare(b) < 0; });
    ui_->languageCombo->addItems(names);

    QString selected = QStringLiteral("System default language");
    for (std::size_t i = 0; i + 1 < languageList_.size(); i += 2)
        if (languageList_[i] == currentLanguage_) selected = FromUtf8(languageList_[i + 1]);
    ShowSelectedText(selected);
}

void CLanguageSelection::ShowSelectedText(const QString& text) {
    const int index = ui_->languageCombo->findText(text, Qt::MatchStartsWith);
    if (index >= 0)
        ui_->languageCombo->setCurrentIndex(index);
    else
        ui_->languageCombo->setEditText(text);
}

void CLanguageSelection::accept() {
    const std::string selected = ui_->languageCombo->currentText().toStdString();
    // Only display names are matched, so a header typed into the field never
    // stores the name of the section before it; the later of two equal names wins.
    for (std::size_t i = 1; i < languageList_.size(); i += 2)
        if (languageList_[i] == selected) currentLanguage_ = languageList_[i - 1];
    QDialog::accept();
}
