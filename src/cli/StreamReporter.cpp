#include "cli/StreamReporter.h"

void StreamReporter::ReportError(const std::string& path, const std::string& message) {
    out_ << "error: " << (path.empty() ? std::string() : path + ": ") << message << '\n' << std::flush;
}
