#pragma once

#include "storage/BackupSetup.h"
#include "support/TempHome.h"

#include <string>

class FtpTestServer;

// A project whose backup copies lie where a run puts them, for the restore
// dialog: a folder entry Data whose copy holds a.txt (older than the local
// a.txt) and sub/b.txt (lost locally), a file entry notes.txt whose copy is
// there (lost locally) and a file entry other.txt with no copy at all, plus an
// exception that is not offered for restoring.
class RestoreSample {
public:
    // The copies in a local backup folder.
    RestoreSample();
    // The copies on the server, below the remote folder "upload".
    explicit RestoreSample(const FtpTestServer& server);

    std::string Data() const { return source.path() + "/Data"; }
    std::string Notes() const { return source.path() + "/notes.txt"; }
    std::string Other() const { return source.path() + "/other.txt"; }

    // Where the copies lie on this machine, and the copy of the Data folder.
    std::string DataCopy() const;

    TempFolder source;
    TempFolder backup;
    BackupSetup setup;
    std::string copyRoot;

private:
    void PutCopies(const std::string& root);
};

// The modification time of a file, in seconds.
long long ModifiedSeconds(const std::string& path);
