#pragma once

#include <QObject>
#include <QSystemTrayIcon>

#include <functional>
#include <memory>

class CTranslation;
class QMenu;

// The window's icon in the desktop's notification area, with its two-item menu.
// Only one icon is ever shown; a desktop without a notification area refuses it.
class TrayPresence : public QObject {
    Q_OBJECT
public:
    // available: whether the desktop offers a notification area right now.
    TrayPresence(QObject* parent, const CTranslation& texts, std::function<bool()> available);
    ~TrayPresence() override;

    // Adds the icon with a fresh menu; false when refused (no notification area,
    // or the icon is already there).
    bool Show(const QIcon& icon);
    void Hide();
    bool IsShown() const;
    // Shows a message at the icon, adding the icon first when it is not there;
    // false when the desktop has no notification area.
    bool ShowMessage(const QIcon& icon, const QString& title, const QString& text);

    QSystemTrayIcon* Icon() const { return icon_.get(); }
    QMenu* Menu() const { return menu_.get(); }

signals:
    void RestoreRequested();
    void ExitRequested();
    // A message went out at the icon (for whoever watches what the icon said).
    void MessageShown(const QString& title, const QString& text);

private:
    void RebuildMenu();
    void RefreshMenuTexts();
    void OnActivated(QSystemTrayIcon::ActivationReason reason);

    const CTranslation& texts_;
    std::function<bool()> available_;
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> icon_;
};
