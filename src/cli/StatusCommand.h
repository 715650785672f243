#pragma once

#include "cli/ProjectCommand.h"

// `status [--project PROJECT] [--json]`: last run and its outcome, when the next
// run is due, and whether the destination can be reached.
class StatusCommand : public DescribedCommand {
public:
    StatusCommand();
    int Run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) override;
};
