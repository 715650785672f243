#pragma once

#include <stdexcept>
#include <string>

// A file the program needed could not be opened, read or written. Caught at the
// command boundary of the window and of the CLI and reported with the file's name.
class FileError : public std::runtime_error {
public:
    FileError(std::string path, const std::string& reason)
        : std::runtime_error(path + ": " + reason), path_(std::move(path)) {}

    const std::string& path() const { return path_; }

private:
    std::string path_;
};
