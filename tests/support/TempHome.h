#pragma once

#include <string>
#include <utility>
#include <vector>

// A fresh temporary folder that stands in for the user's home for one test:
// HOME and the XDG variables point into it (documents, music, ... folders made
// through a user-dirs.dirs), LANG is set to en_US.UTF-8; everything is put back
// and the folder removed at destruction.
class TempHome {
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    const std::string& path() const { return path_; }
    std::string ConfigHome() const { return path_ + "/.config"; }
    std::string DocumentsFolder() const { return path_ + "/Documents"; }
    // The per-user settings folder the program resolves with the shipped template.
    std::string SettingsFolder() const;

    // Sets an environment variable for the life of this object.
    void SetEnv(const std::string& name, const std::string& value);
    void UnsetEnv(const std::string& name);

private:
    std::string path_;
    std::vector<std::pair<std::string, std::pair<bool, std::string>>> saved_;
};

// A fresh temporary folder, removed at destruction.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Small file helpers for tests.
void WriteTestFile(const std::string& path, const std::string& bytes);
std::string ReadTestFile(const std::string& path);
// Sets the modification time (local calendar time).
void SetModificationTime(const std::string& path, int year, int month, int day, int hour, int minute,
                         int second);

// The folder of the built programs, templates and translation file.
inline std::string BinFolder() {
    return TARNWICK_BIN_DIR;
}
