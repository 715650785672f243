#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

// Root ignores file modes, so behaviour under modes is tested in a child
// process that has dropped to an ordinary account (nobody:nogroup).
struct UnprivilegedAccount {
    uid_t uid;
    gid_t gid;
};
UnprivilegedAccount NobodyAccount();

// True when this process may switch to another account (it runs as root).
bool CanDropPrivileges();

// Runs body in a forked child as nobody:nogroup (no supplementary groups) and
// returns what body returned, or 128 + signal when the child died of one.
// gtest assertions do not cross the fork: body returns a code to check.
int RunAsUnprivileged(const std::function<int()>& body);

// chown -R path to the account (links themselves, never their targets).
void GiveTreeTo(const std::string& path, UnprivilegedAccount account);
