#pragma once

#include "util/FileError.h"

#include <optional>
#include <string>
#include <string_view>

// Settings access of one window: the per-user settings file (key line / value
// line pairs, provisioned from the template beside the executable), the program
// folder, file existence and the registry stand-in. Nothing is cached: every
// access opens, reads or rewrites the file.
class PowerClass {
public:
    PowerClass();  // program folder of the running executable
    explicit PowerClass(std::string programFolder);

    // $XDG_CONFIG_HOME/Tarnwick/<Product ID>/<Version>/config.ini, created from
    // the template on first use; the template itself when that is impossible.
    std::string ResolveSettingsFile();

    // Value line after the last line equal to key; empty when there is none.
    // Throws FileError when the file cannot be read, is not a regular file or is
    // too large to be a settings file.
    std::string GetSetting(std::string_view key) const;
    // True when key stands on a line of its own followed by a value line.
    bool HasSetting(std::string_view key) const;
    // Replaces every value of key (atomically). A key that is missing leaves the
    // file unchanged; a key on the last line throws std::invalid_argument before
    // anything is written; a value with a line break throws std::invalid_argument.
    void SetSetting(std::string_view key, std::string_view value);

    // "Options", completed to 15 characters when it is shorter and cut to 15 when
    // it is longer (positions kept), and written back so, so no reader meets a
    // missing or shifted position. A write-back that fails still returns the
    // value; its FileError is stored in writeBackFailure when one is given.
    std::string GetOptions(std::optional<FileError>* writeBackFailure = nullptr);

    const std::string& ProgramFolder() const { return programFolder_; }
    const std::string& SettingsFile() const { return settingsFile_; }
    // The folder of the settings file; it also holds the history log.
    const std::string& SettingsFolder() const { return settingsFolder_; }

    static bool FileExists(const std::string& path);

    // Registry stand-in (see the .cpp for the mapping onto XDG folders, the
    // locale and the autostart entry). Selector 0: shell folders; 1: the key
    // path under the current user; 2: the key path under the machine.
    void SetRegistryKeyPath(std::string keyPath) { registryKeyPath_ = std::move(keyPath); }
    std::string ReadRegistryString(int selector, std::string_view valueName) const;
    void SetRegistryString(std::string_view valueName, std::string_view data);
    void DeleteRegistryValue(int root, std::string_view valueName);

private:
    std::string EffectiveSettingsFile() const;

    std::string programFolder_;
    std::string settingsFile_;
    std::string settingsFolder_;
    std::string registryKeyPath_;
};
