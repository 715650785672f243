#include "entries/CAddSpecialFolder.h"

#include "dialogs/Dialogs.h"
#include "entries/DialogText.h"
#include "platform/XdgFolders.h"
#include "sources/Entries.h"
#include "ui_CAddSpecialFolder.h"

#include <array>
#include <optional>
#include <string_view>

namespace {

struct SpecialFolder {
    TextId itemText;
    std::string_view shellFolder;  // the name ShellFolderPath knows it by
    std::string_view below;        // appended to the folder's path
};

// In list order.
constexpr std::array<SpecialFolder, 7> kSpecialFolders = {{
    {TextId::SpecialDocuments, "Personal", ""},
    {TextId::SpecialMusic, "My Music", ""},
    {TextId::SpecialPictures, "My Pictures", ""},
    {TextId::SpecialVideos, "My Video", ""},
    {TextId::SpecialFavorites, "Favorites", ""},
    {TextId::SpecialTempFiles, "Temp", ""},
    {TextId::SpecialFonts, "Fonts", ""},
}};
constexpr int kTemporaryFilesIndex = 5;

}  // namespace

CAddSpecialFolder::CAddSpecialFolder(Dialogs& dialogs, QWidget* parent, std::string programFolder)
    : QDialog(parent),
      ui_(std::make_unique<Ui::CAddSpecialFolder>()),
      dialogs_(dialogs),
      texts_(std::move(programFolder)) {
    ui_->setupUi(this);
    LoadDialogTexts(texts_);

    setWindowTitle(PlainControlText(DialogText(texts_, TextId::AddSpecialFolder)));
    ui_->specialFolderGroup->setTitle(DialogText(texts_, TextId::SpecialFolderGroup));
    ui_->cancelButton->setText(DialogText(texts_, TextId::Cancel));
    for (const SpecialFolder& folder : kSpecialFolders)
        ui_->specialFolderCombo->addItem(DialogText(texts_, folder.itemText));
    ui_->specialFolderCombo->setCurrentIndex(0);
    ui_->specialFolderCombo->setEditText(DialogText(texts_, TextId::SpecialDocuments));

    connect(ui_->okButton, &QPushButton::clicked, this, &CAddSpecialFolder::accept);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &CAddSpecialFolder::reject);
}

CAddSpecialFolder::~CAddSpecialFolder() = default;

// The combo box can be typed into; text that is no longer one of the items
// means nothing is selected.
int CAddSpecialFolder::SelectedIndex() const {
    const QComboBox& combo = *ui_->specialFolderCombo;
    const int index = combo.currentIndex();
    if (index < 0 || combo.currentText() != combo.itemText(index)) return -1;
    return index;
}

void CAddSpecialFolder::accept() {
    entryText_.clear();
    choseTemporaryFiles_ = false;
    const int index = SelectedIndex();
    if (index >= 0) {
        const SpecialFolder& folder = kSpecialFolders[static_cast<std::size_t>(index)];
        if (const std::optional<std::string> path = ShellFolderPath(folder.shellFolder)) {
            entryText_ = FolderEntry(*path + std::string(folder.below));
            choseTemporaryFiles_ = index == kTemporaryFilesIndex;
        } else {
            dialogs_.ShowMessage(this, DialogText(texts_, TextId::SpecialFolderUnresolved),
                                 DialogText(texts_, TextId::MessageCaption));
        }
    }
    QDialog::accept();
}

void CAddSpecialFolder::reject() {
    entryText_.clear();
    choseTemporaryFiles_ = false;
    QDialog::reject();
}
