#include "CliProcess.h"
#include "CliTestHome.h"
#include "platform/SystemdUnits.h"
#include "support/TempHome.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {
// systemctl stands in on PATH: it writes each call's arguments to a log, fails
// the calls whose arguments hold $FAKE_SYSTEMCTL_FAIL as a word, and lists one
// timer line for list-timers.
constexpr std::string_view kFakeSystemctl = R"(#!/bin/sh
echo "$*" >> "$FAKE_SYSTEMCTL_LOG"
case " $* " in *" $FAKE_SYSTEMCTL_FAIL "*)
  echo "Failed to connect to bus: No medium found" >&2; exit 1;;
esac
if [ "$2" = list-timers ]; then
  echo "Wed 2026-12-09 19:00:00 UTC 31min left n/a n/a $6 x.service"
fi
exit 0
)";

class SystemdScheduleTest : public ::testing::Test, public CliTestHome {
protected:
    SystemdScheduleTest() {
        const std::string fake = fakeFolder.path() + "/systemctl";
        WriteTestFile(fake, std::string(kFakeSystemctl));
        ::chmod(fake.c_str(), 0755);
        home.SetEnv("PATH", fakeFolder.path() + ":" + std::getenv("PATH"));
        home.SetEnv("FAKE_SYSTEMCTL_LOG", CallLog());
        home.SetEnv("FAKE_SYSTEMCTL_FAIL", "no-such-call");
    }

    std::string CallLog() const { return fakeFolder.path() + "/calls"; }
    std::string Calls() const { return fs::exists(CallLog()) ? ReadTestFile(CallLog()) : ""; }
    // A project with a schedule of interval (or none).
    void MakeProject(const std::string& path, const std::string& interval = "45m") {
        ASSERT_EQ(RunCli({"new", path}).exitCode, 0);
        if (!interval.empty()) {
            ASSERT_EQ(RunCli({"schedule", "--project", path, "--every", interval}).exitCode, 0);
        }
    }
    CliResult Systemd(const std::string& project, std::vector<std::string> more = {}) const {
        more.insert(more.begin(), {"schedule", "--project", project, "--systemd"});
        return RunCli(more);
    }
    SystemdUnits Units(const std::string& project) const { return *SystemdUnitsFor(project); }
    std::string Runner() const { return BinFolder() + "/tarnwick-backup-cli"; }

    TempFolder fakeFolder;
};

TEST_F(SystemdScheduleTest, WritesTheUnitsEnablesTheTimerAndStatusNamesIt) {
    MakeProject(projectPath);
    const std::string before = ReadTestFile(projectPath);
    const CliResult written = Systemd(projectPath);
    ASSERT_EQ(written.exitCode, 0) << written.err;
    const SystemdUnits units = Units(projectPath);

    const std::string service = ReadTestFile(units.ServicePath());
    EXPECT_THAT(service, HasSubstr("\nType=oneshot\n"));
    EXPECT_THAT(service,
                HasSubstr("\nExecStart=\"" + Runner() + "\" run --project \"" + projectPath + "\"\n"));
    EXPECT_THAT(service, HasSubstr("\nEnvironment=\"XDG_CONFIG_HOME=" + home.ConfigHome() + "\"\n"));
    const std::string timer = ReadTestFile(units.TimerPath());
    EXPECT_THAT(timer, HasSubstr("\nOnUnitActiveSec=45min\n"));
    EXPECT_THAT(timer, HasSubstr("\nPersistent=true\nUnit=" + units.serviceName + "\n"));
    EXPECT_EQ(Calls(), "--user daemon-reload\n--user enable " + units.timerName + "\n--user restart " +
                           units.timerName + "\n");
    EXPECT_THAT(written.out, HasSubstr("enabled and started " + units.timerName));
    // The project itself keeps its schedule and every byte.
    EXPECT_EQ(ReadTestFile(projectPath), before);

    const CliResult status = RunCli({"status", "--project", projectPath});
    EXPECT_THAT(status.out, HasSubstr("Scheduler: systemd timer " + units.timerName + "\n"));
    EXPECT_THAT(status.out, HasSubstr("Next due: Wed 2026-12-09 19:00:00 UTC (systemd timer)\n"));
    const CliResult json = RunCli({"status", "--project", projectPath, "--json"});
    EXPECT_THAT(json.out, HasSubstr("\"scheduler\": \"systemd\", \"timer\": \"" + units.timerName +
                                    "\", \"nextElapse\": \"Wed 2026-12-09 19:00:00 UTC\""));

    // Written again (a new interval), the timer is restarted on its new schedule.
    const CliResult every = RunCli({"schedule", "--project", projectPath, "--every", "6h"});
    ASSERT_EQ(every.exitCode, 0);
    EXPECT_THAT(every.out, HasSubstr("schedule --systemd gives it the new interval"));
    ASSERT_EQ(Systemd(projectPath).exitCode, 0);
    EXPECT_THAT(ReadTestFile(units.TimerPath()), HasSubstr("\nOnCalendar=*-*-* 00/6:00:00\n"));

    const CliResult off = Systemd(projectPath, {"--off"});
    ASSERT_EQ(off.exitCode, 0) << off.err;
    EXPECT_FALSE(fs::exists(units.TimerPath()));
    EXPECT_FALSE(fs::exists(units.ServicePath()));
    EXPECT_THAT(Calls(), HasSubstr("--user disable --now " + units.timerName + "\n--user daemon-reload\n"));
    EXPECT_THAT(off.out, HasSubstr("scheduler runs the project again, every 360 minutes"));
    EXPECT_THAT(RunCli({"status", "--project", projectPath, "--json"}).out,
                HasSubstr("\"scheduler\": \"window\", \"timer\": null, \"nextElapse\": null"));
}

TEST_F(SystemdScheduleTest, WithoutAUserManagerItWritesTheUnitsAndSaysWhatToRun) {
    home.SetEnv("FAKE_SYSTEMCTL_FAIL", "--user");
    MakeProject(projectPath);
    const SystemdUnits units = Units(projectPath);
    const CliResult written = Systemd(projectPath);
    EXPECT_EQ(written.exitCode, 0) << written.err;
    EXPECT_TRUE(fs::exists(units.ServicePath()));
    EXPECT_TRUE(fs::exists(units.TimerPath()));
    EXPECT_THAT(written.out, HasSubstr("not reachable (Failed to connect to bus: No medium found)"));
    EXPECT_THAT(written.out, HasSubstr("systemctl --user daemon-reload && systemctl --user enable --now " +
                                       units.timerName));
    EXPECT_EQ(Calls(), "--user daemon-reload\n");
    // Status still knows the timer is in charge, only not when it fires next.
    EXPECT_THAT(RunCli({"status", "--project", projectPath}).out,
                HasSubstr("Next due: unknown (systemctl --user list-timers does not answer)"));

    // An earlier enable left its link; --off takes it away too.
    const std::string wants = units.folder + "/timers.target.wants/" + units.timerName;
    fs::create_directories(units.folder + "/timers.target.wants");
    fs::create_symlink(units.TimerPath(), wants);
    const CliResult off = Systemd(projectPath, {"--off"});
    EXPECT_EQ(off.exitCode, 0) << off.err;
    EXPECT_FALSE(fs::exists(fs::symlink_status(wants)));
    EXPECT_FALSE(fs::exists(units.TimerPath()));
    EXPECT_THAT(off.out, HasSubstr("systemctl --user daemon-reload"));

    const CliResult again = Systemd(projectPath, {"--off"});
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_THAT(again.out, HasSubstr("nothing to remove"));
}

TEST_F(SystemdScheduleTest, SeveralProjectsKeepTheirOwnUnits) {
    const std::string second = home.path() + "/other/project.tarn";
    fs::create_directories(home.path() + "/other");
    MakeProject(projectPath);
    MakeProject(second, "1d");
    ASSERT_EQ(Systemd(projectPath).exitCode, 0);
    ASSERT_EQ(Systemd(second).exitCode, 0);
    EXPECT_NE(Units(projectPath).timerName, Units(second).timerName);
    EXPECT_THAT(ReadTestFile(Units(second).TimerPath()), HasSubstr("\nOnCalendar=*-*-* 00:00:00\n"));

    ASSERT_EQ(Systemd(second, {"--off"}).exitCode, 0);
    EXPECT_FALSE(fs::exists(Units(second).TimerPath()));
    EXPECT_TRUE(fs::exists(Units(projectPath).TimerPath()));
    EXPECT_TRUE(fs::exists(Units(projectPath).ServicePath()));
}

TEST_F(SystemdScheduleTest, RefusedInputChangesNothing) {
    MakeProject(projectPath, "");
    const std::string newline = home.path() + "/two\nlines.tarn";
    MakeProject(newline);
    const std::string before = ReadTestFile(projectPath);
    const std::string newlineBefore = ReadTestFile(newline);
    const std::string unitFolder = home.ConfigHome() + "/systemd/user";

    const CliResult noSchedule = Systemd(projectPath);
    EXPECT_EQ(noSchedule.exitCode, 2);
    EXPECT_THAT(noSchedule.err, HasSubstr("has no schedule"));
    const CliResult unnameable = Systemd(newline);
    EXPECT_EQ(unnameable.exitCode, 2);
    EXPECT_THAT(unnameable.err, HasSubstr("cannot be named in a unit file"));
    EXPECT_EQ(Systemd(projectPath, {"--every", "1d"}).exitCode, 2);
    EXPECT_EQ(Systemd(projectPath, {"extra"}).exitCode, 2);
    EXPECT_EQ(Systemd(home.path() + "/missing.tarn").exitCode, 2);

    EXPECT_EQ(ReadTestFile(projectPath), before);
    EXPECT_EQ(ReadTestFile(newline), newlineBefore);
    EXPECT_FALSE(fs::exists(unitFolder));
    EXPECT_THAT(Calls(), IsEmpty());
    EXPECT_THAT(RunCli({"status", "--project", projectPath, "--json"}).out,
                HasSubstr("\"scheduler\": \"none\""));
}

TEST_F(SystemdScheduleTest, TheUnitsPassSystemdAnalyzeVerify) {
    if (std::system("command -v systemd-analyze > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "systemd-analyze is not installed";
    // A name with the characters systemd would otherwise expand.
    const std::string project = home.path() + "/50% of $HOME.tarn";
    MakeProject(project, "90m");
    ASSERT_EQ(Systemd(project).exitCode, 0);
    const SystemdUnits units = Units(project);
    TempFolder runtime;  // the user manager's runtime folder, which verify --user needs
    const std::string output = fakeFolder.path() + "/verify.txt";
    const std::string command = "XDG_RUNTIME_DIR='" + runtime.path() + "' systemd-analyze verify --user '" +
                                units.TimerPath() + "' '" + units.ServicePath() + "' > '" + output + "' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << ReadTestFile(output);
    EXPECT_EQ(ReadTestFile(output), "");
}
}  // namespace
