#pragma once

#include "cli/Command.h"

// `run [PROJECT]`: one backup run now.
class RunCommand : public DescribedCommand {
public:
    RunCommand();
    int Run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) override;
};
