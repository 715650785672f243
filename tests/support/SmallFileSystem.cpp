#include "support/SmallFileSystem.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {
// Mounts made from here on belong to this test process and its children only,
// and vanish with them even when a test dies before its clean-up.
void EnterPrivateMountNamespace() {
    static const bool entered =
        ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    (void)entered;
}
}  // namespace

SmallFileSystem::SmallFileSystem(std::uint64_t sizeBytes) {
    std::string pattern = (fs::temp_directory_path() / "tarnwick-small-fs-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    if (::geteuid() != 0) {
        whyNotMounted_ = "mounting a small file system needs root";
        return;
    }
    EnterPrivateMountNamespace();
    // 0755 so a test that drops to an ordinary account can still reach it.
    const std::string options = "size=" + std::to_string(sizeBytes) + ",mode=0755";
    if (::mount("tarnwick-test", path_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
        whyNotMounted_ = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
        return;
    }
    mounted_ = true;
}

SmallFileSystem::~SmallFileSystem() {
    // A lazy unmount cannot fail on a file a test still holds open.
    if (mounted_) (void)::umount2(path_.c_str(), MNT_DETACH);
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::uint64_t SmallFileSystem::FreeBytes() const {
    struct statvfs status {};
    if (::statvfs(path_.c_str(), &status) != 0) return 0;
    return static_cast<std::uint64_t>(status.f_bavail) * status.f_frsize;
}

void SmallFileSystem::FillUp() const {
    const int fd = ::open((path_ + "/filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return;
    const std::string block(4096, 'f');
    while (::write(fd, block.data(), block.size()) > 0) {
    }
    ::close(fd);
}
