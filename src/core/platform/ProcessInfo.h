#pragma once

#include <string>
#include <string_view>
#include <vector>

// Full path of the running executable (/proc/self/exe).
std::string ExecutablePath();
// The executable's folder, without a trailing "/".
std::string ExecutableFolder();
// The folder of the templates, the translation file and the help page for an
// executable in executableFolder: the installed data folder (../share/tarnwick-backup
// beside bin/) when it exists, else executableFolder itself, where a build tree
// keeps them.
std::string ProgramDataFolder(const std::string& executableFolder);
// ProgramDataFolder of the running executable.
std::string ProgramFolder();

// The process arguments joined like a Windows command line: each argument that
// holds a blank or is empty is quoted. Recorded once by main().
void RecordCommandLine(int argc, const char* const argv[]);
const std::string& CommandLineText();

// True when "%1" stands at index 1 or later: the program was started by the
// desktop session's autostart entry.
bool IsStartedAutomatically(std::string_view commandLine);
