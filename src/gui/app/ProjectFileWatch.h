#pragma once

#include "storage/BackupSetup.h"

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

#include <string>

// Tells the window when its project file may have been changed on disk (by the
// runner, by hand, by another program). Atomic saves replace the file, which
// ends a watch on the file itself, so its folder is watched too and the file
// is watched again once it is back. Bursts of events (a save is a write and a
// rename) come out as one Changed, a moment after the last.
class ProjectFileWatch : public QObject {
    Q_OBJECT
public:
    explicit ProjectFileWatch(QObject* parent = nullptr);

    // Watches path from now on; an empty path watches nothing.
    void Watch(const std::string& path);
    // The window could not look now (a run, a dialog): Changed comes again later.
    void AskAgainLater();

signals:
    void Changed();

private:
    void OnEvent();

    QFileSystemWatcher watcher_;
    QTimer settle_;
    QString path_;
};

// Whether two set-ups hold the same project lines (what a save writes): the
// window's own saves then need no reload.
bool SameProjectLines(const BackupSetup& a, const BackupSetup& b);
