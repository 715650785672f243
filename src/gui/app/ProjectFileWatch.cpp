#include "app/ProjectFileWatch.h"

#include <QFile>
#include <QFileInfo>

namespace {
constexpr int kSettleMs = 150;
constexpr int kRetryMs = 1000;
}  // namespace

ProjectFileWatch::ProjectFileWatch(QObject* parent) : QObject(parent), watcher_(this), settle_(this) {
    settle_.setSingleShot(true);
    connect(&settle_, &QTimer::timeout, this, &ProjectFileWatch::Changed);
    connect(&watcher_, &QFileSystemWatcher::fileChanged, this, &ProjectFileWatch::OnEvent);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &ProjectFileWatch::OnEvent);
}

void ProjectFileWatch::Watch(const std::string& path) {
    const QString wanted = QFile::decodeName(QByteArray::fromStdString(path));
    if (wanted == path_ && (path_.isEmpty() || watcher_.files().contains(path_))) return;
    if (!watcher_.files().isEmpty()) watcher_.removePaths(watcher_.files());
    if (!watcher_.directories().isEmpty()) watcher_.removePaths(watcher_.directories());
    settle_.stop();
    path_ = wanted;
    if (path_.isEmpty()) return;
    watcher_.addPath(QFileInfo(path_).absolutePath());
    if (QFileInfo::exists(path_)) watcher_.addPath(path_);
}

void ProjectFileWatch::AskAgainLater() {
    settle_.start(kRetryMs);
}

void ProjectFileWatch::OnEvent() {
    // A file replaced by a rename is no longer watched; the new one is.
    if (!watcher_.files().contains(path_) && QFileInfo::exists(path_)) watcher_.addPath(path_);
    settle_.start(kSettleMs);
}

bool SameProjectLines(const BackupSetup& a, const BackupSetup& b) {
    return a.destination == b.destination && a.interval == b.interval &&
           a.minutesRemaining == b.minutesRemaining && a.lastRun == b.lastRun && a.entries == b.entries;
}
