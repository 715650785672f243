#pragma once

#include <cstdint>

// Told after each chunk of a file's data has moved.
class DataCopyObserver {
public:
    virtual ~DataCopyObserver() = default;
    virtual void ChunkCopied(std::uint64_t fileBytesDone) = 0;
};

// Copies `size` bytes from the start of `from` to the start of `to` inside the
// kernel (copy_file_range, else sendfile, else read/write where the kernel
// refuses, e.g. across file systems). With an observer the data moves in chunks
// sized to take a few tens of milliseconds each, so progress can be shown often
// enough. Returns 0, or the errno of the failure.
int CopyFileData(int from, int to, std::uint64_t size, DataCopyObserver* observer);
