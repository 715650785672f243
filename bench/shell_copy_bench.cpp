// Runs one shell copy, for timing against cp -a (see shell_copy_bench.sh).
// Usage: shell_copy_bench [--progress] <source or "<folder>/*.*"> <destination>
#include "platform/ShellCopy.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {
class CountingReporter : public TransferReporter {
public:
    void ReportError(const std::string& path, const std::string& message) override {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), message.c_str());
        ++errors;
    }
    void ReportProgress(const TransferProgress&) override { ++progressReports; }

    unsigned long errors = 0;
    unsigned long progressReports = 0;
};
}  // namespace

int main(int argc, char* argv[]) {
    bool showProgress = false;
    int first = 1;
    if (argc > 1 && std::strcmp(argv[1], "--progress") == 0) {
        showProgress = true;
        ++first;
    }
    if (argc - first != 2) {
        std::fprintf(stderr, "usage: %s [--progress] <source> <destination>\n", argv[0]);
        return 2;
    }
    CountingReporter reporter;
    ShellCopy(argv[first], argv[first + 1], showProgress, reporter);
    if (showProgress) std::fprintf(stderr, "%lu progress reports\n", reporter.progressReports);
    return reporter.errors == 0 ? 0 : 1;
}
