#pragma once

#include <string>
#include <string_view>

// Where each entry of a run lands below the destination ("/" separated).

// "<folder>/..." -> "<folder>"; the text before the last "/" (empty without one).
std::string BackupRoot(std::string_view destination);

// Why a run cannot back up to the destination. A local destination must be an
// absolute folder followed by "/...": without the suffix the copies would land
// in the parent folder, and a relative one below whatever the current folder
// is. An FTP destination must name its server.
enum class DestinationFault { None, NotSet, NoFtpServer, NoFolderSuffix, NotAbsolute, NoFolder };
DestinationFault FindDestinationFault(std::string_view destination);

// The destination as a refusal names it: an FTP destination without its password.
std::string DestinationForMessages(std::string_view destination);

// The fault as one line for the runner's messages; empty when there is none.
std::string DestinationProblem(std::string_view destination);

// The subfolder a folder entry gets: the entry with "/" -> "_" and ":" -> "-",
// minus its last four characters ("/home/ann/Data/..." -> "_home_ann_Data"), or
// the entry's list index when index names are on.
std::string EntryFolderName(std::string_view folderEntry, std::size_t listIndex, bool indexNames);

// "<folder>/..." -> "<folder>/*.*": the one copy a full backup makes of a folder.
std::string WholeFolderPattern(std::string_view folderEntry);

// A found file's path below its folder entry, beginning with "/" ("/sub/b.txt").
std::string RelativePath(std::string_view foundFile, std::string_view folderEntry);
// The relative path without its last component ("/sub", or empty).
std::string RelativeFolder(std::string_view relativePath);

// The name after the last "/" ("notes.txt"), the whole path without one.
std::string FileNameOf(std::string_view path);
