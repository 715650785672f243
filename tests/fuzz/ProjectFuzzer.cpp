// Feeds arbitrary bytes to the project loader and to the FTP destination
// decoding. Besides crashes and sanitizer reports it checks two properties:
// a loaded project, written back, loads again to the same set-up, and an FTP
// destination built from fields without "@" decodes to those fields.
#include "sources/Entries.h"
#include "storage/ProjectFile.h"
#include "util/FileError.h"

#include <unistd.h>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace {

// A home of its own, on tmpfs when there is one: every load writes the file back.
const std::string& FuzzFolder() {
    // Never destroyed, so the clean-up at exit can still read it.
    static const std::string& folder = *new std::string([] {
        std::string pattern = (::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
        pattern += "/tarnwick-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        ::setenv("HOME", pattern.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (pattern + "/.config").c_str(), 1);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(FuzzFolder(), ignored);
        });
        return pattern;
    }());
    return folder;
}

void Require(bool condition) {
    if (!condition) std::abort();
}

void CheckProjectReloadsTheSame(std::string_view bytes) {
    const std::string path = FuzzFolder() + "/fuzz.tarn";
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    BackupSetup first;
    try {
        if (LoadProject(path, first) != ProjectLoad::Loaded) return;
    } catch (const FileError&) {
        return;  // e.g. a name the documents folder cannot take
    }
    BackupSetup second;
    Require(LoadProject(path, second) == ProjectLoad::Loaded);
    Require(second.destination == first.destination);
    Require(second.lastRun == first.lastRun);
    Require(second.entries == first.entries);
}

void CheckFtpDecoding(std::string_view bytes) {
    const FtpParameters decoded = DecodeFtpDestination(bytes);
    Require(decoded.remoteBaseDirectory == decoded.folder + "/tarnwick_backup_folder");
    (void)DestinationBoxText(bytes, true);
    (void)DestinationBoxText(bytes, false);
    (void)BrokenDownForm(bytes);

    // Fields separated by NUL bytes; the form has no escape for "@".
    std::string fields[4];
    std::size_t index = 0;
    for (char c : bytes) {
        if (c == '\0') {
            if (++index == 4) break;
        } else {
            fields[index] += c;
        }
    }
    for (const std::string& field : fields)
        if (field.find('@') != std::string::npos) return;
    const FtpParameters roundTrip =
        DecodeFtpDestination(FtpDestination("ftp://" + fields[0], fields[1], fields[2], fields[3]));
    Require(roundTrip.server == fields[0]);
    Require(roundTrip.user == fields[1]);
    Require(roundTrip.password == fields[2]);
    Require(roundTrip.folder == fields[3]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    CheckFtpDecoding(bytes);
    CheckProjectReloadsTheSame(bytes);
    return 0;
}
