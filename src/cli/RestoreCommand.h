#pragma once

#include "cli/Command.h"

// `restore [--project PROJECT] [--to DIR] [--dry-run] [--overwrite] [PATH...]`:
// copies the project's files back from its destination.
class RestoreCommand : public Command {
public:
    std::string_view Name() const override { return "restore"; }
    std::string_view Synopsis() const override;
    std::string_view Description() const override;
    std::string_view Options() const override;
    int Run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) override;
};
