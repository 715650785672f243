#include "engine/ProjectSave.h"

#include "storage/ProjectFile.h"
#include "util/FileError.h"

#include <functional>

namespace {
bool ReportingFailure(BackupContext& context, const std::function<void()>& save) {
    try {
        save();
        return true;
    } catch (const FileError& error) {
        context.reporter.ReportError(error.path(), FileErrorReason(error));
        return false;
    }
}
}  // namespace

bool SaveCurrentProject(BackupContext& context) {
    if (context.setup.savesRunStateOnly) return SaveRunState(context);
    return ReportingFailure(context, [&] { WriteProject(context.setup.currentProjectFile, context.setup); });
}

bool SaveRunState(BackupContext& context) {
    const BackupSetup& setup = context.setup;
    return ReportingFailure(context, [&] {
        SaveRunStateToProject(setup.currentProjectFile, setup.minutesRemaining, setup.lastRun);
    });
}

std::string FileErrorReason(const FileError& error) {
    const std::string message = error.what();
    const std::string prefix = error.path() + ": ";
    return message.compare(0, prefix.size(), prefix) == 0 ? message.substr(prefix.size()) : message;
}
