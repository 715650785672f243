#pragma once

#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace ExitCode {
inline constexpr int kClean = 0;
inline constexpr int kFailures = 1;
inline constexpr int kUsage = 2;  // also: the project cannot be loaded
inline constexpr int kLocked = 3;
inline constexpr int kInterrupted = 130;
}  // namespace ExitCode

// Arguments a subcommand cannot take; the message (may be empty) is shown
// above the usage and the program exits with ExitCode::kUsage.
class UsageError : public std::runtime_error {
public:
    explicit UsageError(const std::string& message) : std::runtime_error(message) {}
};

// One subcommand of tarnwick-backup-cli.
class Command {
public:
    virtual ~Command() = default;
    // The word that selects it ("run").
    virtual std::string_view Name() const = 0;
    // What follows the program's name in the usage ("run [PROJECT]").
    virtual std::string_view Synopsis() const = 0;
    // What it does, for --help: a few lines, indented under the synopsis.
    virtual std::string_view Description() const = 0;
    // Its options and exit status for --help; may be empty.
    virtual std::string_view Options() const = 0;
    // Runs it with the arguments after its name; the exit code. Throws
    // UsageError for arguments it cannot take.
    virtual int Run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) = 0;
};

// A subcommand with its help texts given at construction.
class DescribedCommand : public Command {
public:
    struct Texts {
        std::string_view name;
        std::string_view synopsis;
        std::string_view description;
        std::string_view options;
    };
    explicit DescribedCommand(Texts texts) : texts_(texts) {}
    std::string_view Name() const override { return texts_.name; }
    std::string_view Synopsis() const override { return texts_.synopsis; }
    std::string_view Description() const override { return texts_.description; }
    std::string_view Options() const override { return texts_.options; }

private:
    Texts texts_;
};
