#pragma once

#include <optional>
#include <string>
#include <string_view>

// Stand-in for the shell-folder registry values on Linux. Honours HOME,
// XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_CACHE_HOME and user-dirs.dirs:
//   "AppData"        $XDG_CONFIG_HOME (default ~/.config)
//   "Personal"       XDG_DOCUMENTS_DIR    "My Music"  XDG_MUSIC_DIR
//   "My Pictures"    XDG_PICTURES_DIR     "My Video"  XDG_VIDEOS_DIR
//   "Local AppData"  $XDG_CACHE_HOME (default ~/.cache)
//   "Temp"           $TMPDIR when absolute and not /tmp, else /var/tmp
//   "Favorites"      $XDG_CONFIG_HOME/gtk-3.0, the folder of the desktop's
//                    bookmarks file (see the .cpp)
//   "Fonts"          $XDG_DATA_HOME/fonts (default ~/.local/share/fonts)
// nullopt for a name it does not know or a folder it cannot resolve.
std::optional<std::string> ShellFolderPath(std::string_view valueName);
