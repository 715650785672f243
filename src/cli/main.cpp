#include "cli/Command.h"
#include "cli/EditCommands.h"
#include "cli/RestoreCommand.h"
#include "cli/RunCommand.h"
#include "cli/StatusCommand.h"
#include "cli/TrustHostCommand.h"

#include <algorithm>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {
constexpr std::string_view kProgram = "tarnwick-backup-cli";

std::vector<std::unique_ptr<Command>> AllCommands() {
    std::vector<std::unique_ptr<Command>> commands;
    commands.push_back(std::make_unique<RunCommand>());
    commands.push_back(std::make_unique<RestoreCommand>());
    for (std::unique_ptr<Command>& command : EditCommands()) commands.push_back(std::move(command));
    commands.push_back(std::make_unique<StatusCommand>());
    commands.push_back(std::make_unique<TrustHostCommand>());
    return commands;
}

// Every line of text indented by two blanks.
std::string Indented(std::string_view text) {
    std::string result;
    std::istringstream lines{std::string(text)};
    for (std::string line; std::getline(lines, line);) result += (line.empty() ? "" : "  ") + line + '\n';
    return result;
}

std::string UsageText(const std::vector<std::unique_ptr<Command>>& commands) {
    std::string text;
    for (std::size_t i = 0; i < commands.size(); ++i)
        text += std::string(i == 0 ? "Usage: " : "       ") + std::string(kProgram) + " " +
                std::string(commands[i]->Synopsis()) + '\n';
    text += "       " + std::string(kProgram) + " --help | --version\n";
    for (const auto& command : commands)
        text += '\n' + std::string(command->Synopsis()) + '\n' + Indented(command->Description()) + '\n' +
                Indented(command->Options());
    return text;
}
}  // namespace

int main(int argc, char* argv[]) {
    const std::vector<std::string> arguments(argv + std::min(argc, 1), argv + argc);
    const std::vector<std::unique_ptr<Command>> commands = AllCommands();
    const std::string first = arguments.empty() ? std::string() : arguments.front();
    if (arguments.size() == 1 && (first == "--help" || first == "-h")) {
        std::cout << UsageText(commands);
        return ExitCode::kClean;
    }
    if (arguments.size() == 1 && first == "--version") {
        std::cout << kProgram << " 7.00\n";
        return ExitCode::kClean;
    }
    for (const auto& command : commands) {
        if (command->Name() != first) continue;
        try {
            return command->Run({arguments.begin() + 1, arguments.end()}, std::cout, std::cerr);
        } catch (const UsageError& error) {
            if (*error.what() != '\0') std::cerr << kProgram << ": " << error.what() << "\n\n";
            break;
        }
    }
    std::cerr << UsageText(commands);
    return ExitCode::kUsage;
}
