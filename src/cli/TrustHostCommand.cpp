#include "cli/TrustHostCommand.h"

#include "cli/ProjectCommand.h"
#include "sources/Entries.h"
#include "sources/FtpTransfer.h"
#include "sources/ServerTrust.h"
#include "util/FileError.h"

#include <unistd.h>

#include <iostream>

namespace {

// "y" or "yes" (any case) agrees; anything else, or no answer, does not.
bool UserAgrees(std::ostream& err) {
    err << "Trust it? [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    for (char& c : answer) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return answer == "y" || answer == "yes";
}

}  // namespace

TrustHostCommand::TrustHostCommand()
    : DescribedCommand({"trust-host", "trust-host [--project PROJECT] [--yes]",
                        "connect to the project's server (SFTP or FTP with TLS), print the\n"
                        "SHA-256 fingerprint of its host key or certificate when it is not\n"
                        "trusted yet, and ask whether to trust it. Runs never accept an\n"
                        "unknown server identity on their own. A key that changed is refused\n"
                        "here too: remove its line from the known_hosts (SFTP) or\n"
                        "known_servers (FTPS) file in the settings folder first.\n",
                        "--project PROJECT  the project (default: the desktop program's default)\n"
                        "--yes              trust without asking (needed without a terminal)\n"
                        "Exit status: 0 trusted (now or before), 1 the server cannot be used or\n"
                        "the user declined, 2 usage error, unloadable project, a destination\n"
                        "without a server identity, or no terminal to ask without --yes.\n"}) {}

int TrustHostCommand::Run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    const ProjectArguments parsed = SplitProjectArguments(arguments);
    RequireOnlyOptions(parsed, {"--yes"}, "trust-host");
    if (!parsed.operands.empty()) throw UsageError("trust-host takes no operands");
    CTranslation texts;
    const std::optional<LoadedSetup> loaded = LoadProjectForCommand(parsed.project, texts, err);
    if (!loaded) return ExitCode::kUsage;
    const FtpParameters remote = DecodeFtpDestination(loaded->setup.destination);
    if (!IsRemoteDestination(loaded->setup.destination) || remote.protocol == RemoteProtocol::Ftp) {
        SayError(err, "the destination is not an SFTP or FTP with TLS server: there is no identity to trust");
        return ExitCode::kUsage;
    }
    std::string why;
    const auto address = ParseFtpServer(remote.server, why, DefaultPort(remote.protocol));
    if (!address) {
        SayError(err, "the server \"" + remote.server + "\" cannot be reached as written: " + why);
        return ExitCode::kUsage;
    }

    // A listing changes nothing on the server; reaching it at all proves the
    // identity is trusted already.
    FtpSession session(nullptr, {}, FtpTimeoutsFromEnvironment());
    session.UsePassiveMode(true);
    session.UseProtocol(remote.protocol, loaded->settingsFolder);
    std::vector<FtpRemoteFile> files;
    const auto list = [&] {
        return FtpListFiles(session, remote.server, remote.user, remote.password, remote.remoteBaseDirectory,
                            false, files) != FtpListOutcome::Failed;
    };
    if (list()) {
        out << address->HostAndPort() << ": the server's identity is trusted already\n";
        return ExitCode::kClean;
    }
    const std::optional<CertificateIdentity> shown = session.UnverifiedCertificate();
    if (!shown) {
        SayError(err, session.LastError());
        return ExitCode::kFailures;
    }
    out << address->HostAndPort() << " shows the "
        << (remote.protocol == RemoteProtocol::Sftp ? "host key" : "certificate") << " with the fingerprint\n"
        << "  " << shown->fingerprint << '\n'
        << std::flush;
    if (!HasOption(parsed, "--yes")) {
        if (::isatty(STDIN_FILENO) == 0) {
            SayError(err,
                     "no terminal to ask on: compare the fingerprint and run again with --yes to trust it");
            return ExitCode::kUsage;
        }
        if (!UserAgrees(err)) {
            out << "not trusted\n";
            return ExitCode::kFailures;
        }
    }
    try {
        TrustServerIdentity(loaded->settingsFolder, remote.protocol, *address, *shown);
    } catch (const FileError& error) {
        SayError(err, error.what());
        return ExitCode::kFailures;
    }
    out << "trusted\n";
    return ExitCode::kClean;
}
