#include "sources/FtpRemotePath.h"

namespace ftp_path {

std::string NormaliseDirectory(const std::string& directory) {
    std::string result;
    result.reserve(directory.size());
    for (char c : directory) {
        if (c == '/' && !result.empty() && result.back() == '/') continue;
        result += c;
    }
    if (result.size() > 1 && result.back() == '/') result.pop_back();
    return result;
}

std::vector<std::string> DirectoryLevels(const std::string& normalisedDirectory) {
    std::vector<std::string> levels;
    if (normalisedDirectory.empty() || normalisedDirectory == "/") return levels;
    for (std::size_t slash = normalisedDirectory.find('/', 1); slash != std::string::npos;
         slash = normalisedDirectory.find('/', slash + 1))
        levels.push_back(normalisedDirectory.substr(0, slash));
    levels.push_back(normalisedDirectory);
    return levels;
}

std::string Join(const std::string& normalisedDirectory, const std::string& name) {
    if (normalisedDirectory.empty()) return name;
    if (normalisedDirectory == "/") return "/" + name;
    return normalisedDirectory + "/" + name;
}

std::string FileNameOf(const std::string& localPath) {
    const std::size_t slash = localPath.rfind('/');
    return slash == std::string::npos ? localPath : localPath.substr(slash + 1);
}

bool IsSafeInCommand(const std::string& text) {
    return text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

std::string EncodeForUrl(const std::string& path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(path.size() * 3);
    for (std::size_t i = 0; i < path.size(); ++i) {
        const auto byte = static_cast<unsigned char>(path[i]);
        const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                                (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' ||
                                byte == '~';
        if (unreserved || (byte == '/' && i > 0)) {
            encoded += static_cast<char>(byte);
        } else {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0xF];
        }
    }
    return encoded;
}

std::string EncodeForSftpUrl(const std::string& path) {
    if (path.starts_with('/')) return EncodeForUrl(path.substr(1));
    return "~/" + EncodeForUrl(path);
}

std::string SftpCommandArgument(const std::string& path) {
    std::string quoted = "\"";
    for (const char c : path) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace ftp_path
