#include "engine/ProjectSave.h"

#include "storage/ProjectFile.h"
#include "util/FileError.h"

bool SaveCurrentProject(BackupContext& context) {
    try {
        WriteProject(context.setup.currentProjectFile, context.setup);
        return true;
    } catch (const FileError& error) {
        context.reporter.ReportError(error.path(), FileErrorReason(error));
        return false;
    }
}

std::string FileErrorReason(const FileError& error) {
    const std::string message = error.what();
    const std::string prefix = error.path() + ": ";
    return message.compare(0, prefix.size(), prefix) == 0 ? message.substr(prefix.size()) : message;
}
