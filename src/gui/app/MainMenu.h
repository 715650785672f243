#pragma once

#include <QObject>

#include <map>

class CTranslation;
class QAction;
class QMenu;
class QMenuBar;
class QWidget;

// The menu bar of the main window: File, Functions and Help. Every item has an
// icon and, once texts are set, two blanks before its translated text.
class MainMenu : public QObject {
    Q_OBJECT
public:
    explicit MainMenu(QWidget* window);

    QMenuBar* Bar() const { return bar_; }
    QAction* Action(int commandId) const;
    // Popup titles and item texts from the window's current language.
    void SetTexts(const CTranslation& texts);

signals:
    void CommandChosen(int commandId);

private:
    void AddItem(QMenu* popup, int commandId, const char* objectName, const char* icon);

    QMenuBar* bar_;
    QMenu* file_;
    QMenu* functions_;
    QMenu* help_;
    std::map<int, QAction*> actions_;
};
