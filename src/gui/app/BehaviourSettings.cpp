#include "app/BehaviourSettings.h"

#include "storage/OptionString.h"

namespace {
constexpr std::string_view kRunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr std::string_view kRunValue = "Backup";
constexpr int kCurrentUserRoot = 1;

void StoreOptionPosition(PowerClass& settings, BackupSetup& setup, std::size_t position, char value) {
    setup.optionFlags = CompleteOptionString(setup.optionFlags);
    setup.optionFlags[position] = value;
    settings.SetSetting("Options", setup.optionFlags);
}
}  // namespace

std::string AutostartCommand(std::string_view executablePath) {
    std::string command = "\"";
    for (const char c : executablePath) {
        // Inside a quoted argument of an Exec line these four need a backslash;
        // the backslash itself is doubled once more by the entry's string escapes.
        if (c == '\\')
            command += "\\\\\\";
        else if (c == '"' || c == '`' || c == '$')
            command += '\\';
        command += c;
    }
    command += "\" %1";
    return command;
}

int ToggleStartWithSession(PowerClass& settings, BackupSetup& setup, int startWithSession,
                           std::string_view executablePath) {
    settings.SetRegistryKeyPath(std::string(kRunKey));
    if (startWithSession == 1) {
        settings.DeleteRegistryValue(kCurrentUserRoot, kRunValue);
        StoreOptionPosition(settings, setup, Option::kStartWithSession, '0');
        return 0;
    }
    settings.SetRegistryString(kRunValue, AutostartCommand(executablePath));
    StoreOptionPosition(settings, setup, Option::kStartWithSession, '1');
    return 1;
}

void StoreBackupMode(PowerClass& settings, BackupSetup& setup, int backupMode) {
    StoreOptionPosition(settings, setup, Option::kIncrementalMode, backupMode == 1 ? '1' : '0');
}
