#pragma once

#include "cli/Command.h"

// `restore [--project PROJECT] [--to DIR] [--dry-run] [--overwrite] [PATH...]`:
// copies the project's files back from its destination.
class RestoreCommand : public DescribedCommand {
public:
    RestoreCommand();
    int Run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) override;
};
