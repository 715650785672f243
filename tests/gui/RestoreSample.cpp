#include "RestoreSample.h"

#include "engine/BackupLayout.h"
#include "sources/Entries.h"
#include "support/FtpTestServer.h"

#include <sys/stat.h>

RestoreSample::RestoreSample() {
    setup.destination = backup.path() + "/backup/...";
    PutCopies(backup.path() + "/backup");
}

RestoreSample::RestoreSample(const FtpTestServer& server) {
    setup.destination =
        FtpDestination("ftp://" + server.HostAndPort(), server.user(), server.password(), "upload");
    PutCopies(server.LoginFolder() + "/upload/tarnwick_backup_folder");
}

void RestoreSample::PutCopies(const std::string& root) {
    copyRoot = root;
    const std::string dataEntry = FolderEntry(Data());
    setup.entries = {dataEntry, Notes(), Other(), "-" + Data() + "/private.txt"};
    setup.optionFlags = "000000000000000";

    WriteTestFile(Data() + "/a.txt", "new a");
    SetModificationTime(Data() + "/a.txt", 2025, 5, 1, 12, 0, 0);

    const std::string dataCopy = DataCopy();
    WriteTestFile(dataCopy + "/a.txt", "old a");
    SetModificationTime(dataCopy + "/a.txt", 2024, 3, 6, 20, 15, 30);
    WriteTestFile(dataCopy + "/sub/b.txt", "bee");
    SetModificationTime(dataCopy + "/sub/b.txt", 2024, 3, 7, 10, 0, 0);
    WriteTestFile(dataCopy + "/private.txt", "kept out");
    WriteTestFile(root + "/notes.txt", "notes");
    SetModificationTime(root + "/notes.txt", 2024, 3, 8, 9, 0, 0);
}

std::string RestoreSample::DataCopy() const {
    return copyRoot + "/" + EntryFolderName(FolderEntry(Data()), 0, false);
}

long long ModifiedSeconds(const std::string& path) {
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) return -1;
    return status.st_mtime;
}
