#pragma once

#include "platform/TransferReporter.h"

#include <string>

// Provisioning copies (templates into the per-user folders) are silent: a copy
// that fails simply leaves the target missing, and the caller checks for it.
class SilentTransferReporter : public TransferReporter {
public:
    void ReportError(const std::string&, const std::string&) override {}
    void ReportProgress(const TransferProgress&) override {}
};
