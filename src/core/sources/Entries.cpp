#include "sources/Entries.h"

#include "util/ShortenedPath.h"

#include <algorithm>

namespace {
constexpr std::string_view kFolderSuffix = "/...";
constexpr std::string_view kFtpSeparator = "@!@";
constexpr std::string_view kRemoteBaseName = "/tarnwick_backup_folder";
constexpr std::string_view kPassiveField = "passive";
// Server, user, password and folder; the passive-mode field makes one more.
constexpr std::size_t kSeparatorsWithoutMode = 3;

std::string_view DropFront(std::string_view text, std::size_t count) {
    text.remove_prefix(std::min(count, text.size()));
    return text;
}

std::string_view DropBack(std::string_view text, std::size_t count) {
    text.remove_suffix(std::min(count, text.size()));
    return text;
}

// The text after the last "@"; empty when there is none.
std::string_view AfterLastAt(std::string_view text) {
    const std::size_t at = text.rfind('@');
    return at == std::string_view::npos ? std::string_view() : text.substr(at + 1);
}

std::size_t CountSeparators(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t at = text.find(kFtpSeparator); at != std::string_view::npos;
         at = text.find(kFtpSeparator, at + kFtpSeparator.size()))
        ++count;
    return count;
}

// The field after the server is the passive-mode field only when the text
// holds one field more than the login needs: a user named "passive" in a text
// without it stays the user.
bool HoldsPassiveField(std::string_view destination) {
    const std::size_t first = destination.find(kFtpSeparator);
    if (first == std::string_view::npos) return false;
    const std::string_view rest = destination.substr(first + kFtpSeparator.size());
    const std::string marker = std::string(kPassiveField) + std::string(kFtpSeparator);
    return rest.starts_with(marker) && CountSeparators(destination) == kSeparatorsWithoutMode + 1;
}
}  // namespace

bool IsExceptionEntry(std::string_view entry) {
    return !entry.empty() && entry.front() == '-';
}

bool IsFolderEntry(std::string_view entry) {
    return entry.ends_with("...");
}

std::string FolderEntry(std::string_view folder) {
    // Kept as picked: the root "/" gives "//...", whose entry folder name "_" keeps
    // its files apart from single files in the backup root.
    return std::string(folder) + std::string(kFolderSuffix);
}

std::string ExceptionEntry(std::string_view entry) {
    return "-" + std::string(entry);
}

bool IsRemoteDestination(std::string_view destination) {
    return destination.starts_with("ftp:") || destination.starts_with("ftps:") ||
           destination.starts_with("sftp:");
}

std::string LocalDestination(std::string_view folder) {
    return FolderEntry(folder);
}

std::string FtpDestination(std::string_view server, std::string_view user, std::string_view password,
                           std::string_view folder, bool passive) {
    std::string destination(server);
    destination += kFolderSuffix;
    if (passive) {
        destination += kFtpSeparator;
        destination += kPassiveField;
    }
    for (std::string_view field : {user, password, folder}) {
        destination += kFtpSeparator;
        destination += field;
    }
    return destination;
}

// The fields are found from the end by the last "@", so a field holding "@" is
// not supported. A text lacking separators decodes with empty fields.
FtpParameters DecodeFtpDestination(std::string_view destination) {
    FtpParameters parameters;
    const std::string_view serverPart = destination.substr(0, destination.find(kFtpSeparator));
    parameters.protocol = ProtocolOfText(destination);
    parameters.server = DropBack(DropFront(serverPart, SchemeOf(parameters.protocol).size()), 4);

    if (destination.find('@') != std::string_view::npos) {
        const std::string_view folder = AfterLastAt(destination);
        const std::string_view withoutFolder = DropBack(destination, folder.size() + kFtpSeparator.size());
        const std::string_view password = AfterLastAt(withoutFolder);
        const std::string_view withoutPassword =
            DropBack(withoutFolder, password.size() + kFtpSeparator.size());
        parameters.folder = folder;
        parameters.password = password;
        parameters.user = AfterLastAt(withoutPassword);
    }
    parameters.remoteBaseDirectory = parameters.folder + std::string(kRemoteBaseName);
    parameters.passive = HoldsPassiveField(destination);
    return parameters;
}

std::string BrokenDownForm(std::string_view text) {
    return ShortenPath(text, 80, 15);
}

std::string DestinationBoxText(std::string_view destination, bool breakDown) {
    if (!IsRemoteDestination(destination))
        return breakDown ? BrokenDownForm(destination) : std::string(destination);
    // "ftp://host/" (the "..." before the first "@" cut off) and the folder;
    // user name and password never show.
    const std::size_t firstAt = destination.find('@');
    if (firstAt == std::string_view::npos) return std::string(destination);
    return std::string(destination.substr(0, firstAt >= 3 ? firstAt - 3 : 0)) +
           std::string(AfterLastAt(destination));
}

void AppendEntry(BackupSetup& setup, EntryListView& view, const std::string& entry) {
    setup.entries.push_back(entry);
    view.AppendRow(setup.breakLongPaths ? BrokenDownForm(entry) : entry);
}
