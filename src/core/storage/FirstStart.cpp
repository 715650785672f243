#include "storage/FirstStart.h"

#include "platform/ShellCopy.h"
#include "storage/SilentTransferReporter.h"

#include <filesystem>
#include <system_error>

namespace {

constexpr std::string_view kNoDefaultProject = "---";

void CopyTemplateIfMissing(const PowerClass& settings, const std::string& templateName,
                           const std::string& target) {
    if (PowerClass::FileExists(target)) return;
    SilentTransferReporter silent;
    ShellCopy(settings.ProgramFolder() + "/" + templateName, target, false, silent);
}

}  // namespace

std::string ProvisionDefaultProject(PowerClass& settings, std::optional<FileError>* saveFailure) {
    if (settings.GetSetting("Path") == kNoDefaultProject) {
        const std::string appData = settings.ReadRegistryString(0, "AppData");
        // Without a configuration folder there is no per-user place for the
        // project; "Path" stays unset rather than pointing at the file-system root.
        if (appData.empty()) return settings.GetSetting("Path");
        const std::string makerFolder = appData + "/Tarnwick";
        const std::string project = makerFolder + "/tarnwick_backup.tarn";
        std::error_code ignored;
        std::filesystem::create_directories(makerFolder, ignored);
        CopyTemplateIfMissing(settings, "tarnwick_backup.tarn", project);
        try {
            settings.SetSetting("Path", project);
        } catch (const FileError& error) {
            if (saveFailure == nullptr) throw;
            *saveFailure = error;
            return project;
        }
    }
    return settings.GetSetting("Path");
}

void ProvisionHistoryLog(PowerClass& settings) {
    if (settings.SettingsFolder().empty()) return;  // settings not resolved yet
    CopyTemplateIfMissing(settings, "history.txt", settings.SettingsFolder() + "/history.txt");
}
