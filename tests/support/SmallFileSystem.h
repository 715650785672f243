#pragma once

#include <cstdint>
#include <string>

// A tmpfs of a fixed size mounted on a fresh folder for one test, so a copy can
// really run out of space (root ignores modes but not a full disk). Mounting
// needs root: a test checks Mounted() and skips with WhyNotMounted() otherwise.
// Unmounted and removed at destruction.
class SmallFileSystem {
public:
    explicit SmallFileSystem(std::uint64_t sizeBytes);
    ~SmallFileSystem();
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;

    bool Mounted() const { return mounted_; }
    const std::string& WhyNotMounted() const { return whyNotMounted_; }
    const std::string& path() const { return path_; }
    std::uint64_t FreeBytes() const;
    // Writes a filler file until no block is left.
    void FillUp() const;

private:
    std::string path_;
    bool mounted_ = false;
    std::string whyNotMounted_;
};
