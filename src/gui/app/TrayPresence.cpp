#include "app/TrayPresence.h"

#include "app/CommandIds.h"
#include "i18n/CTranslation.h"

#include <QAction>
#include <QMenu>

TrayPresence::TrayPresence(QObject* parent, const CTranslation& texts, std::function<bool()> available)
    : QObject(parent), texts_(texts), available_(std::move(available)) {}

TrayPresence::~TrayPresence() = default;

bool TrayPresence::Show(const QIcon& icon) {
    if (IsShown() || !available_()) return false;
    RebuildMenu();
    if (!icon_) {
        icon_ = std::make_unique<QSystemTrayIcon>();
        icon_->setObjectName(QStringLiteral("trayIcon"));
        connect(icon_.get(), &QSystemTrayIcon::activated, this, &TrayPresence::OnActivated);
        connect(icon_.get(), &QSystemTrayIcon::messageClicked, this, &TrayPresence::RestoreRequested);
    }
    icon_->setIcon(icon);
    icon_->setContextMenu(menu_.get());
    icon_->show();
    return true;
}

void TrayPresence::Hide() {
    if (icon_) icon_->hide();
}

bool TrayPresence::IsShown() const {
    return icon_ && icon_->isVisible();
}

bool TrayPresence::ShowMessage(const QIcon& icon, const QString& title, const QString& text) {
    if (!IsShown() && !Show(icon)) return false;
    icon_->showMessage(title, text, icon_->icon());
    emit MessageShown(title, text);
    return true;
}

void TrayPresence::RebuildMenu() {
    if (icon_) icon_->setContextMenu(nullptr);
    menu_ = std::make_unique<QMenu>();
    menu_->setObjectName(QStringLiteral("trayMenu"));
    QAction* show = menu_->addAction(QString());
    show->setObjectName(QStringLiteral("trayShowAction"));
    show->setProperty("commandId", CommandId::TrayShowMainWindow);
    QAction* exit = menu_->addAction(QString());
    exit->setObjectName(QStringLiteral("trayExitAction"));
    exit->setProperty("commandId", CommandId::TrayExit);
    connect(show, &QAction::triggered, this, &TrayPresence::RestoreRequested);
    connect(exit, &QAction::triggered, this, &TrayPresence::ExitRequested);
    // The texts follow the window's language at the moment the menu opens.
    connect(menu_.get(), &QMenu::aboutToShow, this, &TrayPresence::RefreshMenuTexts);
    RefreshMenuTexts();
}

void TrayPresence::RefreshMenuTexts() {
    const QList<QAction*> items = menu_->actions();
    items.at(0)->setText(QString::fromUtf8(texts_.GetText(TextId::TrayShowMainWindow)));
    items.at(1)->setText(QString::fromUtf8(texts_.GetText(TextId::TrayExit)));
}

void TrayPresence::OnActivated(QSystemTrayIcon::ActivationReason reason) {
    // The context menu opens by itself; a plain click brings the window back.
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) emit RestoreRequested();
}
