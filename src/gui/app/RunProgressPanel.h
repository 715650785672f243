#pragma once

#include "engine/RunProgress.h"
#include "i18n/CTranslation.h"

#include <QFrame>

class QLabel;
class QProgressBar;

// The run's progress over the lower part of the entry list (which cannot be
// edited while a run goes): a bar with the share done and the time left, files
// and data done of the totals, and the file at hand shortened in the middle to the width. It
// follows the list's place and size by itself and is hidden between runs.
class RunProgressPanel : public QFrame {
    Q_OBJECT
public:
    RunProgressPanel(QWidget* entryList, const CTranslation& texts);

    void ShowProgress(const RunProgress& progress);
    // Hides the panel; the last figures stay readable in it until the next run.
    void HideProgress();

    const QProgressBar* Bar() const { return bar_; }
    QString FiguresText() const;
    QString CurrentFileText() const;
    // The bar's text: the share done and the time left.
    QString TimeLeftText() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void FollowList();
    void ShowCurrentFile();

    QWidget* list_;
    const CTranslation& texts_;
    QProgressBar* bar_;
    QLabel* figures_;
    QLabel* currentFile_;
    QString currentPath_;
};
