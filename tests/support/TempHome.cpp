#include "support/TempHome.h"

#include "support/FixedClock.h"

#include <sys/stat.h>
#include <sys/time.h>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {
std::string MakeTempFolder(const char* prefix) {
    std::string pattern = (fs::temp_directory_path() / (std::string(prefix) + "XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    return pattern;
}
}  // namespace

TempHome::TempHome() : path_(MakeTempFolder("tarnwick-home-")) {
    SetEnv("HOME", path_);
    SetEnv("XDG_CONFIG_HOME", path_ + "/.config");
    SetEnv("XDG_DATA_HOME", path_ + "/.local/share");
    SetEnv("XDG_CACHE_HOME", path_ + "/.cache");
    SetEnv("LANG", "en_US.UTF-8");
    UnsetEnv("LC_ALL");
    UnsetEnv("LC_MESSAGES");
    for (const char* folder :
         {"Documents", "Music", "Pictures", "Videos", ".config", ".local/share", ".cache"})
        fs::create_directories(path_ + "/" + folder);
    WriteTestFile(path_ + "/.config/user-dirs.dirs",
                  "XDG_DOCUMENTS_DIR=\"$HOME/Documents\"\n"
                  "XDG_MUSIC_DIR=\"$HOME/Music\"\n"
                  "XDG_PICTURES_DIR=\"$HOME/Pictures\"\n"
                  "XDG_VIDEOS_DIR=\"$HOME/Videos\"\n");
}

TempHome::~TempHome() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
        if (it->second.first)
            setenv(it->first.c_str(), it->second.second.c_str(), 1);
        else
            unsetenv(it->first.c_str());
    }
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::string TempHome::SettingsFolder() const {
    return path_ + "/.config/Tarnwick/TarnwickBackup/7.00";
}

void TempHome::SetEnv(const std::string& name, const std::string& value) {
    const char* old = std::getenv(name.c_str());
    saved_.push_back({name, {old != nullptr, old ? old : ""}});
    setenv(name.c_str(), value.c_str(), 1);
}

void TempHome::UnsetEnv(const std::string& name) {
    const char* old = std::getenv(name.c_str());
    saved_.push_back({name, {old != nullptr, old ? old : ""}});
    unsetenv(name.c_str());
}

TempFolder::TempFolder() : path_(MakeTempFolder("tarnwick-test-")) {}

TempFolder::~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

void WriteTestFile(const std::string& path, const std::string& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadTestFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void SetModificationTime(const std::string& path, int year, int month, int day, int hour, int minute,
                         int second) {
    const std::time_t when = LocalTime(year, month, day, hour, minute, second);
    const timeval times[2] = {{when, 0}, {when, 0}};
    if (utimes(path.c_str(), times) != 0) throw std::runtime_error("utimes failed for " + path);
}
