#include "engine/BackupLayout.h"

#include "sources/Entries.h"
#include "util/LenientNumbers.h"

#include <algorithm>

namespace {
// Cuts n characters off the end; shorter texts become empty.
std::string_view WithoutLast(std::string_view text, std::size_t n) {
    return text.substr(0, text.size() > n ? text.size() - n : 0);
}
}  // namespace

std::string BackupRoot(std::string_view destination) {
    const std::size_t slash = destination.rfind('/');
    return std::string(slash == std::string_view::npos ? std::string_view() : destination.substr(0, slash));
}

DestinationFault FindDestinationFault(std::string_view destination) {
    if (destination.empty()) return DestinationFault::NotSet;
    if (IsRemoteDestination(destination))
        return DecodeFtpDestination(destination).server.empty() ? DestinationFault::NoFtpServer
                                                                : DestinationFault::None;
    if (!destination.ends_with("/...")) return DestinationFault::NoFolderSuffix;
    if (!destination.starts_with('/')) return DestinationFault::NotAbsolute;
    if (BackupRoot(destination).empty()) return DestinationFault::NoFolder;
    return DestinationFault::None;
}

std::string DestinationForMessages(std::string_view destination) {
    return IsRemoteDestination(destination) ? DestinationBoxText(destination, false)
                                            : std::string(destination);
}

std::string DestinationProblem(std::string_view destination) {
    const std::string quoted = "the backup folder \"" + DestinationForMessages(destination) + "\"";
    switch (FindDestinationFault(destination)) {
        case DestinationFault::None:
            return {};
        case DestinationFault::NotSet:
            return "no backup folder is set";
        case DestinationFault::NoFtpServer:
            return "the FTP destination " + DestinationForMessages(destination) + " names no server";
        case DestinationFault::NoFolderSuffix:
            return quoted + " does not end in \"/...\"";
        case DestinationFault::NotAbsolute:
            return quoted + " is not an absolute path";
        case DestinationFault::NoFolder:
            return quoted + " names no folder";
    }
    return {};
}

std::string EntryFolderName(std::string_view folderEntry, std::size_t listIndex, bool indexNames) {
    if (indexNames) return FormatNumber(static_cast<std::int32_t>(listIndex));
    std::string name(WithoutLast(folderEntry, 4));
    for (char& c : name) {
        if (c == '/') c = '_';
        if (c == ':') c = '-';
    }
    return name;
}

std::string WholeFolderPattern(std::string_view folderEntry) {
    return std::string(WithoutLast(folderEntry, 3)) + "*.*";
}

std::string RelativePath(std::string_view foundFile, std::string_view folderEntry) {
    const std::size_t folderLength = folderEntry.size() > 4 ? folderEntry.size() - 4 : 0;
    return std::string(foundFile.substr(std::min(folderLength, foundFile.size())));
}

std::string RelativeFolder(std::string_view relativePath) {
    const std::size_t slash = relativePath.rfind('/');
    return std::string(slash == std::string_view::npos ? std::string_view() : relativePath.substr(0, slash));
}

std::string FileNameOf(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}
