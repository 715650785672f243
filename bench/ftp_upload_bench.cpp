// Uploads every file below a folder the way a backup run lays it out on an FTP
// server: <base>/<entry folder name>/<relative folder>/<file>. Prints the
// seconds taken and the counts; ftp_upload_bench.sh compares it with lftp.
// With a seventh argument, the server's certificate (PEM), it speaks FTP with
// TLS and trusts that certificate only.
#include "sources/FtpTransfer.h"
#include "sources/KnownServers.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    if (argc != 7 && argc != 8) {
        std::fprintf(stderr,
                     "usage: %s full|incremental <folder> <host:port> <user> <password> <remote base> "
                     "[certificate.pem]\n",
                     argv[0]);
        return 2;
    }
    const std::string mode = argv[1];
    const std::string folder = fs::path(argv[2]).lexically_normal().string();
    const std::string server = argv[3], user = argv[4], password = argv[5], base = argv[6];

    std::string entryFolderName = folder;
    std::replace(entryFolderName.begin(), entryFolderName.end(), '/', '_');
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());

    FtpSession session;
    const fs::path trustFolder = fs::temp_directory_path() / "ftp_upload_bench_trust";
    if (argc == 8) {
        std::ifstream pemFile(argv[7], std::ios::binary);
        const std::string pem{std::istreambuf_iterator<char>(pemFile), {}};
        const auto identity = IdentityOfPem(pem);
        if (!identity) {
            std::fprintf(stderr, "cannot read the certificate %s\n", argv[7]);
            return 2;
        }
        fs::create_directories(trustFolder);
        KnownServers(trustFolder.string()).Trust(server, *identity);
        session.UseProtocol(RemoteProtocol::FtpTls, trustFolder.string());
    }
    const auto start = std::chrono::steady_clock::now();
    FtpMakeSureDirectoryExists(session, server, user, password, base);
    int stored = 0, failed = 0, skipped = 0;
    std::int32_t copied = 0;
    std::uint64_t bytes = 0;
    for (const auto& file : files) {
        const std::string relativeFolder = file.parent_path().lexically_relative(folder).string();
        std::string remote = base + "/" + entryFolderName;
        if (relativeFolder != ".") remote += "/" + relativeFolder;
        if (mode == "full") {
            (FtpUploadFile(session, file.string(), server, user, password, remote) ? stored : failed) += 1;
        } else {
            switch (FtpUploadIfNewer(session, file.string(), server, user, password, remote, copied, bytes)) {
                case UploadOutcome::Uploaded:
                    ++stored;
                    break;
                case UploadOutcome::Skipped:
                    ++skipped;
                    break;
                case UploadOutcome::Failed:
                    ++failed;
                    break;
            }
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.3f stored=%d skipped=%d failed=%d\n", seconds, stored, skipped, failed);
    if (failed > 0) std::fprintf(stderr, "last error: %s\n", session.LastError().c_str());
    return failed > 0 ? 1 : 0;
}
