#include "support/Unprivileged.h"

#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>

UnprivilegedAccount NobodyAccount() {
    const passwd* entry = ::getpwnam("nobody");
    if (entry == nullptr) return {65534, 65534};
    const group* nogroup = ::getgrnam("nogroup");
    return {entry->pw_uid, nogroup != nullptr ? nogroup->gr_gid : entry->pw_gid};
}

bool CanDropPrivileges() {
    return ::geteuid() == 0;
}

int RunAsUnprivileged(const std::function<int()>& body) {
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        const UnprivilegedAccount account = NobodyAccount();
        if (::setgroups(0, nullptr) != 0 || ::setgid(account.gid) != 0 || ::setuid(account.uid) != 0)
            ::_exit(125);
        int result = 126;
        try {
            result = body();
        } catch (...) {
            result = 124;
        }
        std::fflush(nullptr);
        ::_exit(result);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
    }
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

void GiveTreeTo(const std::string& path, UnprivilegedAccount account) {
    namespace fs = std::filesystem;
    (void)::lchown(path.c_str(), account.uid, account.gid);
    std::error_code error;
    if (!fs::is_directory(fs::symlink_status(path, error))) return;
    for (auto it = fs::recursive_directory_iterator(path, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error))
        (void)::lchown(it->path().c_str(), account.uid, account.gid);
}
