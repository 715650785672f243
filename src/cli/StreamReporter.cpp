#include "cli/StreamReporter.h"

void StreamReporter::ReportError(const std::string& path, const std::string& message) {
    const std::string line = "error: " + (path.empty() ? std::string() : path + ": ") + message;
    if (live_ != nullptr)
        live_->PrintAbove(line);
    else
        out_ << line << '\n' << std::flush;
}
