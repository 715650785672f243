#include "platform/XdgFolders.h"

#include "util/TextFile.h"

#include <pwd.h>
#include <unistd.h>
#include <cstdlib>

// The Windows shell folders and the places that stand for them here:
// - "Local AppData" is the cache home.
// - "Temp" is the folder of passing files a desktop really has: $TMPDIR when it
//   is set to an absolute path, else /var/tmp (kept across reboots, unlike /tmp).
// - "Favorites" on Windows is the folder of the user's bookmarks. The desktop's
//   bookmarks of places live in $XDG_CONFIG_HOME/gtk-3.0 (file "bookmarks"); that
//   folder is the nearest thing that can be backed up as a folder.
// - "Fonts" is the user's own fonts folder, $XDG_DATA_HOME/fonts.

namespace {
std::optional<std::string> Environment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') return std::nullopt;
    return std::string(value);
}

std::optional<std::string> HomeFolder() {
    if (auto home = Environment("HOME")) return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr)
        return std::string(entry->pw_dir);
    return std::nullopt;
}

// An XDG base folder: the variable when it holds an absolute path, else the
// default below the home folder.
std::optional<std::string> BaseFolder(const char* variable, const char* defaultBelowHome) {
    if (auto value = Environment(variable); value && value->front() == '/') return value;
    auto home = HomeFolder();
    if (!home) return std::nullopt;
    return *home + "/" + defaultBelowHome;
}

// The choice of temporary files adds /tmp as an entry of its own.
bool IsSystemTemp(std::string_view folder) {
    return folder == "/tmp" || folder == "/tmp/";
}

// Value of one line of user-dirs.dirs: "$HOME/Documents" or "/abs/path", in
// double quotes with backslash escapes, or bare.
std::string UserDirValue(std::string_view raw, const std::string& home) {
    std::string value;
    if (!raw.empty() && raw.front() == '"') {
        raw.remove_prefix(1);
        for (std::size_t i = 0; i < raw.size() && raw[i] != '"'; ++i) {
            if (raw[i] == '\\' && i + 1 < raw.size()) ++i;
            value += raw[i];
        }
    } else {
        const std::size_t end = raw.find_last_not_of(" \t");
        value = std::string(raw.substr(0, end == std::string_view::npos ? 0 : end + 1));
    }
    if (value == "$HOME") return home;
    if (value.rfind("$HOME/", 0) == 0) return home + value.substr(5);
    return value;
}

std::optional<std::string> UserDir(const char* key, const char* defaultName) {
    auto home = HomeFolder();
    if (!home) return std::nullopt;
    std::optional<std::string> found;
    if (auto config = BaseFolder("XDG_CONFIG_HOME", ".config")) {
        try {
            const std::string wanted = std::string(key) + "=";
            for (const std::string& line : ReadLines(*config + "/user-dirs.dirs")) {
                const std::size_t start = line.find_first_not_of(" \t");
                if (start == std::string::npos || line.compare(start, wanted.size(), wanted) != 0) continue;
                const std::string value =
                    UserDirValue(std::string_view(line).substr(start + wanted.size()), *home);
                if (!value.empty() && value.front() == '/') found = value;
            }
        } catch (const std::exception&) {
            // No user-dirs.dirs: the standard names below the home folder apply.
        }
    }
    if (found) return found;
    return *home + "/" + defaultName;
}
}  // namespace

std::optional<std::string> ShellFolderPath(std::string_view valueName) {
    if (valueName == "AppData") return BaseFolder("XDG_CONFIG_HOME", ".config");
    if (valueName == "Personal") return UserDir("XDG_DOCUMENTS_DIR", "Documents");
    if (valueName == "My Music") return UserDir("XDG_MUSIC_DIR", "Music");
    if (valueName == "My Pictures") return UserDir("XDG_PICTURES_DIR", "Pictures");
    if (valueName == "My Video") return UserDir("XDG_VIDEOS_DIR", "Videos");
    if (valueName == "Local AppData") return BaseFolder("XDG_CACHE_HOME", ".cache");
    if (valueName == "Temp") {
        auto folder = Environment("TMPDIR");
        if (folder && folder->front() == '/' && !IsSystemTemp(*folder)) return folder;
        return std::string("/var/tmp");
    }
    if (valueName == "Favorites") {
        auto config = BaseFolder("XDG_CONFIG_HOME", ".config");
        if (!config) return std::nullopt;
        return *config + "/gtk-3.0";
    }
    if (valueName == "Fonts") {
        auto data = BaseFolder("XDG_DATA_HOME", ".local/share");
        if (!data) return std::nullopt;
        return *data + "/fonts";
    }
    return std::nullopt;
}
