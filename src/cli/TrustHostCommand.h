#pragma once

#include "cli/Command.h"

// `trust-host [--project PROJECT] [--yes]`: shows the identity of the
// project's server (SFTP host key or FTPS certificate) and records it as
// trusted once the user agrees.
class TrustHostCommand : public DescribedCommand {
public:
    TrustHostCommand();
    int Run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) override;
};
