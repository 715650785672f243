#pragma once

// Shared by the copy-machinery benchmarks: timing, a scratch folder on a fresh
// loop-mounted ext4 file when running as root, and a window that does nothing.

#include "engine/BackupWindow.h"
#include "platform/TransferReporter.h"

#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace bench {

inline double SecondsOf(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct Figures {
    double min = 0;
    double median = 0;
};

inline Figures Summarise(std::vector<double> seconds) {
    std::sort(seconds.begin(), seconds.end());
    return {seconds.front(), seconds[seconds.size() / 2]};
}

// Runs program and peer in turns, one untimed warm-up each, and prints both
// and the ratio program/peer.
inline void CompareInTurns(const std::string& what, const std::function<void()>& program,
                           const std::function<void()>& peer, const std::string& peerName, int rounds = 7) {
    program();
    peer();
    std::vector<double> ours, theirs;
    for (int i = 0; i < rounds; ++i) {
        ours.push_back(SecondsOf(program));
        theirs.push_back(SecondsOf(peer));
    }
    const Figures a = Summarise(ours), b = Summarise(theirs);
    std::printf(
        "%s\n  program: min %.4f s, median %.4f s\n  %s: min %.4f s, median %.4f s\n"
        "  ratio program/peer: min %.2f, median %.2f\n",
        what.c_str(), a.min, a.median, peerName.c_str(), b.min, b.median, a.min / b.min, a.median / b.median);
}

inline void Run(const std::string& command) {
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        std::exit(1);
    }
}

// A scratch folder; as root on a fresh loop-mounted ext4 file, because the root
// file system slows down the more files are created and deleted on it.
class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern = "/tmp/tarnwick-bench-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) std::exit(1);
        path_ = pattern;
        if (::geteuid() == 0) {
            image_ = path_ + ".img";
            const std::string quiet = " >/dev/null 2>&1";
            mounted_ = std::system(("truncate -s 2G " + image_ + quiet).c_str()) == 0 &&
                       std::system(("mkfs.ext4 -q -F " + image_ + quiet).c_str()) == 0 &&
                       std::system(("mount -o loop " + image_ + " " + path_ + quiet).c_str()) == 0;
        }
        std::printf("scratch folder %s (%s)\n", path_.c_str(),
                    mounted_ ? "fresh loop-mounted ext4" : "plain folder: not root or no loop device");
    }
    ~ScratchFolder() {
        if (mounted_) (void)!std::system(("umount " + path_).c_str());
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
        if (!image_.empty()) std::filesystem::remove(image_, ignored);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::string image_;
    bool mounted_ = false;
};

// Folders of small files: folderCount folders of filesPerFolder files each.
inline void MakeTree(const std::string& root, int folderCount, int filesPerFolder) {
    const std::string content(100, 'x');
    for (int folder = 0; folder < folderCount; ++folder) {
        const std::string path = root + "/folder " + std::to_string(folder);
        std::filesystem::create_directories(path);
        for (int file = 0; file < filesPerFolder; ++file)
            std::ofstream(path + "/file" + std::to_string(file) + ".txt", std::ios::binary) << content;
    }
}

class QuietWindow : public BackupWindow {
public:
    void PullValues() override {}
    void Refresh() override {}
    void SetStatusLine(const std::string& text) override { status_ = text; }
    std::string StatusLine() const override { return status_; }
    void PumpMessages() override { ++pumps; }
    void SetRunning(bool) override {}
    void StartTimer() override {}
    void StopTimer() override {}
    void ShowMessage(const std::string&, const std::string&) override {}
    void MinimizeToTray() override {}
    void WaitMilliseconds(int) override {}
    long pumps = 0;

private:
    std::string status_;
};

class QuietReporter : public TransferReporter {
public:
    void ReportError(const std::string& path, const std::string& message) override {
        std::fprintf(stderr, "copy error: %s: %s\n", path.c_str(), message.c_str());
    }
    void ReportProgress(const TransferProgress&) override {}
};

}  // namespace bench
