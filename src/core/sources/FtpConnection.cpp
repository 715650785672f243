#include "sources/FtpConnection.h"

#include "sources/FtpRemotePath.h"
#include "sources/SftpHostKeys.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <memory>
#include <mutex>

namespace {

constexpr auto kTickInterval = std::chrono::milliseconds(50);

long WholeSeconds(std::chrono::milliseconds duration) {
    return std::max<long>(1, static_cast<long>((duration.count() + 999) / 1000));
}

struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using Slist = std::unique_ptr<curl_slist, SlistDeleter>;

Slist MakeSlist(const std::vector<std::string>& lines) {
    Slist list;
    for (const auto& line : lines) {
        curl_slist* grown = curl_slist_append(list.get(), line.c_str());
        if (grown == nullptr) throw std::bad_alloc();
        list.release();
        list.reset(grown);
    }
    return list;
}

// Failures that follow a refusal by the server, whose reply then says best
// what went wrong.
bool FollowsServerRefusal(CURLcode code) {
    switch (code) {
        case CURLE_LOGIN_DENIED:
        case CURLE_QUOTE_ERROR:
        case CURLE_UPLOAD_FAILED:
        case CURLE_REMOTE_ACCESS_DENIED:
        case CURLE_REMOTE_FILE_NOT_FOUND:
        case CURLE_REMOTE_DISK_FULL:
        case CURLE_FTP_COULDNT_RETR_FILE:
        case CURLE_FTP_COULDNT_SET_TYPE:
        case CURLE_FTP_PORT_FAILED:
        case CURLE_FTP_ACCEPT_FAILED:
        case CURLE_FTP_WEIRD_SERVER_REPLY:
        case CURLE_FTP_WEIRD_PASV_REPLY:
        case CURLE_FTP_WEIRD_227_FORMAT:
            return true;
        default:
            return false;
    }
}

bool IsErrorReply(const std::string& line) {
    return !line.empty() && (line[0] == '4' || line[0] == '5');
}

bool IsIdentityFailure(CURLcode code) {
    return code == CURLE_PEER_FAILED_VERIFICATION || code == CURLE_SSL_PINNEDPUBKEYNOTMATCH;
}

// The certificate a TLS server shows, read over a connection of its own that
// checks nothing and logs in anonymously: the user's password never goes to a
// server whose identity is in doubt.
std::optional<CertificateIdentity> ProbeCertificate(const std::string& url, const FtpTimeouts& timeouts) {
    CURL* probe = curl_easy_init();
    if (probe == nullptr) return std::nullopt;
    curl_easy_setopt(probe, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(probe, CURLOPT_URL, url.c_str());
    curl_easy_setopt(probe, CURLOPT_PROTOCOLS_STR, "ftp");
    curl_easy_setopt(probe, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
    curl_easy_setopt(probe, CURLOPT_FTPSSLAUTH, static_cast<long>(CURLFTPAUTH_TLS));
    curl_easy_setopt(probe, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(probe, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(probe, CURLOPT_CERTINFO, 1L);
    curl_easy_setopt(probe, CURLOPT_CONNECT_ONLY, 1L);
    curl_easy_setopt(probe, CURLOPT_USERNAME, "anonymous");
    curl_easy_setopt(probe, CURLOPT_PASSWORD, "anonymous@");
    curl_easy_setopt(probe, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeouts.connect.count()));
    curl_easy_setopt(probe, CURLOPT_TIMEOUT_MS,
                     static_cast<long>((timeouts.connect + timeouts.stall).count()));
    curl_easy_perform(probe);
    std::optional<CertificateIdentity> identity;
    curl_certinfo* chain = nullptr;
    if (curl_easy_getinfo(probe, CURLINFO_CERTINFO, &chain) == CURLE_OK && chain != nullptr &&
        chain->num_of_certs > 0) {
        constexpr std::string_view kCertField = "Cert:";
        for (curl_slist* field = chain->certinfo[0]; field != nullptr; field = field->next) {
            const std::string_view text(field->data);
            if (text.starts_with(kCertField))
                identity = IdentityOfPem(std::string(text.substr(kCertField.size())));
        }
    }
    curl_easy_cleanup(probe);
    return identity;
}

// The user's own key for SFTP logins: the first of the usual files in
// ~/.ssh; empty when there is none.
std::string DefaultPrivateKeyFile() {
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') return {};
    for (const char* name : {"id_ed25519", "id_ecdsa", "id_rsa"}) {
        const std::string path = std::string(home) + "/.ssh/" + name;
        struct stat status {};
        if (stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode)) return path;
    }
    return {};
}

void InitialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

FtpConnection::FtpConnection(TransferReporter* reporter, std::function<void()> pump, FtpTimeouts timeouts)
    : reporter_(reporter), pump_(std::move(pump)), timeouts_(timeouts) {
    InitialiseCurlOnce();
    ResetHandles();
}

FtpConnection::~FtpConnection() {
    if (easy_ != nullptr) curl_easy_cleanup(easy_);
    if (multi_ != nullptr) curl_multi_cleanup(multi_);
}

void FtpConnection::ResetHandles() {
    if (easy_ != nullptr) curl_easy_cleanup(easy_);
    if (multi_ != nullptr) curl_multi_cleanup(multi_);
    multi_ = curl_multi_init();
    easy_ = curl_easy_init();
    if (multi_ == nullptr || easy_ == nullptr) throw std::bad_alloc();
    greetingNeeded_ = true;
    controlSocket_ = CURL_SOCKET_BAD;

    curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, errorBuffer_);
    ApplyDataConnectionMode();
    ApplySecurity();
    // Full paths on every command and no CWD, so a reused connection always
    // stands in the login directory and relative paths keep their meaning.
    curl_easy_setopt(easy_, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
    curl_easy_setopt(easy_, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeouts_.connect.count()));
    curl_easy_setopt(easy_, CURLOPT_ACCEPTTIMEOUT_MS, static_cast<long>(timeouts_.connect.count()));
    curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_TIME, WholeSeconds(timeouts_.stall));
    curl_easy_setopt(easy_, CURLOPT_SERVER_RESPONSE_TIMEOUT, WholeSeconds(timeouts_.stall));
    curl_easy_setopt(easy_, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &FtpConnection::OnHeader);
    curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy_, CURLOPT_READFUNCTION, &FtpConnection::OnRead);
    curl_easy_setopt(easy_, CURLOPT_READDATA, this);
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &FtpConnection::OnWrite);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy_, CURLOPT_XFERINFOFUNCTION, &FtpConnection::OnProgress);
    curl_easy_setopt(easy_, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(easy_, CURLOPT_NOPROGRESS, 0L);
}

void FtpConnection::ApplyDataConnectionMode() {
    // Without a port address the library asks the server for one (EPSV, then
    // PASV); "-" offers this side's address (EPRT/PORT). TLS is always
    // passive: the library's protected data connections in active mode may
    // end before the first byte yet count as complete, and no router can
    // follow an encrypted control connection to let the server in anyway.
    const bool passive = passive_ || security_.protocol == RemoteProtocol::FtpTls;
    curl_easy_setopt(easy_, CURLOPT_FTPPORT, passive ? nullptr : "-");
}

void FtpConnection::UsePassiveMode(bool passive) {
    passive_ = passive;
    ApplyDataConnectionMode();
}

void FtpConnection::ApplySecurity() {
    curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, IsSftp() ? "sftp" : "ftp");
    // Every SFTP host key goes through the check of the known hosts; the
    // library's own known_hosts handling is never asked.
    curl_easy_setopt(easy_, CURLOPT_SSH_HOSTKEYFUNCTION, IsSftp() ? &FtpConnection::OnHostKey : nullptr);
    curl_easy_setopt(easy_, CURLOPT_SSH_HOSTKEYDATA, this);
    const bool tls = security_.protocol == RemoteProtocol::FtpTls;
    // Control and data connections both protected, or the request fails:
    // never a silent fall-back to clear text.
    curl_easy_setopt(easy_, CURLOPT_USE_SSL, static_cast<long>(tls ? CURLUSESSL_ALL : CURLUSESSL_NONE));
    curl_easy_setopt(easy_, CURLOPT_FTPSSLAUTH, static_cast<long>(CURLFTPAUTH_TLS));
    const bool pinned = tls && security_.trusted.has_value();
    // A trusted certificate is usually one no authority signed: its key alone
    // decides, checked before a byte of the login is sent.
    curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYPEER, pinned ? 0L : 1L);
    curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYHOST, pinned ? 0L : 2L);
    curl_easy_setopt(easy_, CURLOPT_PINNEDPUBLICKEY,
                     pinned ? security_.trusted->publicKeyPin.c_str() : nullptr);
}

void FtpConnection::UseSecurity(const ConnectionSecurity& security) {
    if (security == security_) return;
    security_ = security;
    ApplyDataConnectionMode();
    if (targeted_) {
        // The next Target logs in anew.
        ResetHandles();
        targeted_ = false;
    } else {
        ApplySecurity();
    }
}

std::string FtpConnection::IdentityProblem(CURLcode code) {
    const std::optional<CertificateIdentity> shown = ProbeCertificate(address_.BaseUrl(), timeouts_);
    const std::string shownText = shown ? shown->fingerprint : "unknown";
    if (code == CURLE_SSL_PINNEDPUBKEYNOTMATCH && security_.trusted)
        return "the server's certificate has changed: the trusted one has the SHA-256 fingerprint " +
               security_.trusted->fingerprint + ", the server now shows " + shownText + "; nothing was sent";
    unverified_ = shown;
    return "the server's certificate cannot be verified (SHA-256 fingerprint " + shownText +
           "); nothing was sent";
}

bool FtpConnection::Target(const FtpServerAddress& address, const FtpLogin& login) {
    if (targeted_ && address == address_ && login == login_) return false;
    if (targeted_) ResetHandles();
    address_ = address;
    login_ = login;
    targeted_ = true;
    ApplyLogin();
    return true;
}

void FtpConnection::ApplyLogin() {
    if (IsSftp()) {
        // The user's SSH agent, the user's key in ~/.ssh (the password field
        // then holds its passphrase, if it has one), and the password itself.
        const std::string keyFile = DefaultPrivateKeyFile();
        long methods = CURLSSH_AUTH_AGENT;
        if (!keyFile.empty()) methods |= CURLSSH_AUTH_PUBLICKEY;
        if (!login_.password.empty()) methods |= CURLSSH_AUTH_PASSWORD | CURLSSH_AUTH_KEYBOARD;
        curl_easy_setopt(easy_, CURLOPT_SSH_AUTH_TYPES, methods);
        curl_easy_setopt(easy_, CURLOPT_SSH_PRIVATE_KEYFILE, keyFile.empty() ? nullptr : keyFile.c_str());
        curl_easy_setopt(easy_, CURLOPT_KEYPASSWD,
                         login_.password.empty() ? nullptr : login_.password.c_str());
        curl_easy_setopt(easy_, CURLOPT_USERNAME, login_.user.c_str());
        curl_easy_setopt(easy_, CURLOPT_PASSWORD, login_.password.c_str());
        return;
    }
    // An empty user name logs in anonymously, as the usual FTP clients do.
    const bool anonymous = login_.user.empty();
    curl_easy_setopt(easy_, CURLOPT_USERNAME, anonymous ? "anonymous" : login_.user.c_str());
    curl_easy_setopt(easy_, CURLOPT_PASSWORD,
                     anonymous && login_.password.empty() ? "anonymous@" : login_.password.c_str());
}

void FtpConnection::Reconnect() {
    ResetHandles();
    if (targeted_) ApplyLogin();
}

std::string FtpConnection::UrlOf(const std::string& remotePath) const {
    if (IsSftp()) return "sftp://" + address_.HostAndPort() + "/" + ftp_path::EncodeForSftpUrl(remotePath);
    return address_.BaseUrl() + ftp_path::EncodeForUrl(remotePath);
}

int FtpConnection::OnHostKey(void* self, int, const char* key, std::size_t keyLength) {
    auto* connection = static_cast<FtpConnection*>(self);
    const std::string_view blob(key, keyLength);
    const ConnectionSecurity& security = connection->security_;
    const std::string name = KnownHostsName(connection->address_.host, connection->address_.port);
    const HostKeyCheck check =
        SftpKnownHosts(security.settingsFolder, security.userKnownHosts).Check(name, blob);
    const std::string shown = HostKeyFingerprint(blob);
    const std::string host = connection->address_.HostAndPort();
    switch (check.verdict) {
        case HostKeyVerdict::Known:
            connection->hostKeyProblem_.clear();
            return CURLKHMATCH_OK;
        case HostKeyVerdict::Changed:
            connection->hostKeyProblem_ =
                "the host key of " + host + " has changed: the known one has the fingerprint " +
                check.knownFingerprint + ", the server now shows " + shown + "; nothing was sent";
            break;
        case HostKeyVerdict::Unknown:
            connection->hostKeyProblem_ =
                "the host key of " + host + " is not known (fingerprint " + shown +
                "); accept it with the connection test of the FTP dialog or with \"tarnwick-backup-cli "
                "trust-host\"; nothing was sent";
            connection->unverified_ = HostKeyIdentity(blob);
            break;
    }
    return CURLKHMATCH_MISMATCH;
}

bool FtpConnection::ConnectionLooksAlive() const {
    if (controlSocket_ == CURL_SOCKET_BAD) return false;
    // An idle control connection has nothing to read; a readable one was
    // closed or timed out by the server, and the library will replace it.
    pollfd probe{controlSocket_, POLLIN, 0};
    return poll(&probe, 1, 0) == 0;
}

void FtpConnection::Pump() {
    if (pump_) pump_();
}

void FtpConnection::Tick(bool force) {
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - lastTick_ < kTickInterval) return;
    lastTick_ = now;
    if (reporter_ != nullptr && !progressName_.empty()) {
        TransferProgress progress;
        progress.currentFile = progressName_;
        progress.fileBytesDone = progressDone_;
        progress.fileBytesTotal = progressTotal_;
        progress.bytesDone = bytesBeforeThisFile_ + progressDone_;
        reporter_->ReportProgress(progress);
    }
    Pump();
}

FtpReply FtpConnection::Perform(const std::string& remotePath, const std::vector<std::string>& before,
                                const std::vector<std::string>& after, const std::string& what) {
    std::vector<std::string> quote;
    const bool greeting = !IsSftp() && (greetingNeeded_ || !ConnectionLooksAlive());
    // Asks for UTF-8 names once per connection; servers that refuse still work.
    if (greeting) quote.push_back("*OPTS UTF8 ON");
    quote.insert(quote.end(), before.begin(), before.end());
    const Slist quoteList = MakeSlist(quote);
    const Slist postList = MakeSlist(after);

    const std::string url = UrlOf(remotePath);
    curl_easy_setopt(easy_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy_, CURLOPT_QUOTE, quoteList.get());
    curl_easy_setopt(easy_, CURLOPT_POSTQUOTE, postList.get());
    errorBuffer_[0] = '\0';
    lastServerLine_.clear();
    unverified_.reset();
    hostKeyProblem_.clear();
    progressDone_ = 0;
    lastTick_ = std::chrono::steady_clock::now();
    lastActivity_ = lastTick_;
    bytesMoved_ = 0;

    CURLcode code = CURLE_OK;
    bool givenUp = false;
    if (curl_multi_add_handle(multi_, easy_) != CURLM_OK) {
        code = CURLE_FAILED_INIT;
    } else {
        int running = 1;
        bool finished = false;
        while (!finished) {
            if (curl_multi_perform(multi_, &running) != CURLM_OK) {
                code = CURLE_FAILED_INIT;
                break;
            }
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
                if (message->msg == CURLMSG_DONE && message->easy_handle == easy_) {
                    code = message->data.result;
                    finished = true;
                }
            }
            if (finished || running == 0) break;
            curl_multi_poll(multi_, nullptr, 0, static_cast<int>(kTickInterval.count()), nullptr);
            Tick(false);
            // Removing the handle below closes a connection left mid-request.
            if (abort_ && abort_()) {
                code = CURLE_ABORTED_BY_CALLBACK;
                break;
            }
            // The library bounds no SFTP command's wait for its answer: a
            // server that stops answering is given up here.
            if (IsSftp() && std::chrono::steady_clock::now() - lastActivity_ > timeouts_.stall) {
                code = CURLE_OPERATION_TIMEDOUT;
                givenUp = true;
                break;
            }
        }
        curl_socket_t socket = CURL_SOCKET_BAD;
        if (curl_easy_getinfo(easy_, CURLINFO_ACTIVESOCKET, &socket) != CURLE_OK) socket = CURL_SOCKET_BAD;
        controlSocket_ = socket;
        curl_multi_remove_handle(multi_, easy_);
    }
    curl_easy_setopt(easy_, CURLOPT_QUOTE, nullptr);
    curl_easy_setopt(easy_, CURLOPT_POSTQUOTE, nullptr);
    if (givenUp) {
        Reconnect();
        FtpReply reply;
        reply.code = code;
        reply.problem = what + ": the server stopped answering";
        return reply;
    }

    FtpReply reply;
    reply.code = code;
    reply.ok = code == CURLE_OK;
    curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &reply.serverCode);
    if (reply.ok) {
        long newConnections = 0;
        curl_easy_getinfo(easy_, CURLINFO_NUM_CONNECTS, &newConnections);
        // A connection the library opened on its own has not been asked for
        // UTF-8 yet; the next request does it.
        greetingNeeded_ = newConnections > 0 && !greeting;
    } else {
        greetingNeeded_ = true;
        if (IsSftp() && !hostKeyProblem_.empty())
            reply.problem = what + ": " + hostKeyProblem_;
        else if (security_.protocol == RemoteProtocol::FtpTls && IsIdentityFailure(code))
            reply.problem = what + ": " + IdentityProblem(code);
        else
            reply.problem = ProblemText(code, what);
    }
    return reply;
}

std::string FtpConnection::ProblemText(CURLcode code, const std::string& what) const {
    // The server's refusal, or else the library's name for the failure, says
    // what went wrong. The library's own text is the first complaint of the
    // request, which once the server has spoken is often one it got over (an
    // address it could not print while offering a data connection); it is
    // added only when the server never answered, where it tells why the
    // connection failed.
    std::string cause = FollowsServerRefusal(code) && IsErrorReply(lastServerLine_)
                            ? "the server answered \"" + lastServerLine_ + "\""
                            : std::string(curl_easy_strerror(code));
    const std::string detail = errorBuffer_;
    if (lastServerLine_.empty() && !detail.empty() && cause.find(detail) == std::string::npos)
        cause += " (" + detail + ")";
    return what + ": " + cause;
}

FtpReply FtpConnection::SendCommands(const std::vector<std::string>& commands) {
    curl_easy_setopt(easy_, CURLOPT_UPLOAD, 0L);
    curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, nullptr);
    // Named as sent, without the mark that lets a command fail.
    std::string first = commands.empty() ? "" : commands.front();
    if (first.starts_with('*')) first.erase(0, 1);
    return Perform("", commands, {}, "\"" + first + "\" failed");
}

FtpReply FtpConnection::Upload(int fd, std::uint64_t size, const std::string& remotePath,
                               const std::vector<std::string>& before, const std::vector<std::string>& after,
                               const std::string& displayName) {
    sourceFd_ = fd;
    sourceRemaining_ = size;
    sourceFailed_ = false;
    progressName_ = displayName;
    progressTotal_ = size;
    curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, nullptr);
    curl_easy_setopt(easy_, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(easy_, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(easy_, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
    FtpReply reply = Perform(remotePath, before, after, "storing \"" + remotePath + "\" failed");
    if (reply.ok || sourceFailed_) Tick(true);
    if (sourceFailed_) {
        reply.ok = false;
        reply.problem = "reading \"" + displayName + "\" failed while storing it";
    }
    bytesBeforeThisFile_ += progressDone_;
    curl_easy_setopt(easy_, CURLOPT_UPLOAD, 0L);
    curl_easy_setopt(easy_, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(-1));
    sourceFd_ = -1;
    progressName_.clear();
    return reply;
}

FtpReply FtpConnection::Download(const std::string& remotePath, int fd) {
    sink_ = [fd](const char* data, std::size_t length) {
        while (length > 0) {
            const ssize_t written = write(fd, data, length);
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) return false;
            data += written;
            length -= static_cast<std::size_t>(written);
        }
        return true;
    };
    curl_easy_setopt(easy_, CURLOPT_UPLOAD, 0L);
    curl_easy_setopt(easy_, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, nullptr);
    FtpReply reply = Perform(remotePath, {}, {}, "fetching \"" + remotePath + "\" failed");
    sink_ = nullptr;
    return reply;
}

FtpReply FtpConnection::ListDirectory(const std::string& directory, std::string& listing) {
    listing.clear();
    sink_ = [&listing](const char* data, std::size_t length) {
        listing.append(data, length);
        return true;
    };
    curl_easy_setopt(easy_, CURLOPT_UPLOAD, 0L);
    curl_easy_setopt(easy_, CURLOPT_NOBODY, 0L);
    // An SFTP listing is asked for by a path ending in "/".
    curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, IsSftp() ? nullptr : "MLSD");
    FtpReply reply =
        Perform(directory.empty() ? "" : directory + "/", {}, {}, "listing \"" + directory + "\" failed");
    curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, nullptr);
    sink_ = nullptr;
    return reply;
}

FtpReply FtpConnection::ModificationTime(const std::string& remotePath, std::time_t& modified) {
    curl_easy_setopt(easy_, CURLOPT_UPLOAD, 0L);
    curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, nullptr);
    curl_easy_setopt(easy_, CURLOPT_FILETIME, 1L);
    FtpReply reply = Perform(remotePath, {}, {}, "asking for the time of \"" + remotePath + "\" failed");
    curl_easy_setopt(easy_, CURLOPT_FILETIME, 0L);
    curl_off_t time = -1;
    curl_easy_getinfo(easy_, CURLINFO_FILETIME_T, &time);
    if (reply.ok && time < 0) {
        reply.ok = false;
        reply.problem = "the server gave no time for \"" + remotePath + "\"";
    }
    modified = static_cast<std::time_t>(time);
    return reply;
}

std::size_t FtpConnection::OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
    auto* connection = static_cast<FtpConnection*>(self);
    std::string line(data, size * count);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])))
        connection->lastServerLine_ = line;
    return size * count;
}

std::size_t FtpConnection::OnRead(char* buffer, std::size_t size, std::size_t count, void* self) {
    auto* connection = static_cast<FtpConnection*>(self);
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(size * count, connection->sourceRemaining_));
    if (wanted == 0) return 0;
    ssize_t got;
    do {
        got = read(connection->sourceFd_, buffer, wanted);
    } while (got < 0 && errno == EINTR);
    // A file that shrank or cannot be read any more must not replace the
    // server's copy with a short one.
    if (got <= 0) {
        connection->sourceFailed_ = true;
        return CURL_READFUNC_ABORT;
    }
    connection->sourceRemaining_ -= static_cast<std::uint64_t>(got);
    return static_cast<std::size_t>(got);
}

std::size_t FtpConnection::OnWrite(char* data, std::size_t size, std::size_t count, void* self) {
    auto* connection = static_cast<FtpConnection*>(self);
    // Without a sink the data is not wanted (the facts a time query reports).
    if (connection->sink_ && !connection->sink_(data, size * count)) return 0;
    return size * count;
}

int FtpConnection::OnProgress(void* self, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
    auto* connection = static_cast<FtpConnection*>(self);
    if (dlnow + ulnow != connection->bytesMoved_) {
        connection->bytesMoved_ = dlnow + ulnow;
        connection->lastActivity_ = std::chrono::steady_clock::now();
    }
    if (!connection->progressName_.empty()) connection->progressDone_ = static_cast<std::uint64_t>(ulnow);
    // Also asked (about once a second) while the library waits, without
    // returning, for the server's answer after a transfer's data.
    return connection->abort_ && connection->abort_() ? 1 : 0;
}
