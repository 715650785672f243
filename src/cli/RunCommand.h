#pragma once

#include "cli/Command.h"

// `run [PROJECT]`: one backup run now.
class RunCommand : public Command {
public:
    std::string_view Name() const override { return "run"; }
    std::string_view Synopsis() const override;
    std::string_view Description() const override;
    std::string_view Options() const override;
    int Run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) override;
};
