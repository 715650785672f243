#pragma once

#include "engine/RunState.h"
#include "platform/TransferReporter.h"

#include <string>

// Stands between a run and its owner's reporter: every error is kept in the
// run's failure list (so the run cannot end looking clean) and still passed on.
class FailureCollectingReporter : public TransferReporter {
public:
    FailureCollectingReporter(TransferReporter& inner, RunState& run) : inner_(inner), run_(run) {}

    void ReportError(const std::string& path, const std::string& message) override {
        run_.failures.push_back(path.empty() ? message : path + ": " + message);
        inner_.ReportError(path, message);
    }
    void ReportProgress(const TransferProgress& progress) override { inner_.ReportProgress(progress); }

private:
    TransferReporter& inner_;
    RunState& run_;
};
