#include "platform/SystemdUnits.h"
#include "support/TempHome.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <tuple>

using ::testing::HasSubstr;
using ::testing::Not;

namespace {
TEST(SystemdUnitsTest, NamesAreOnePerProjectHoweverItIsNamed) {
    TempHome home;
    const std::string project = home.path() + "/work/Daily Backup.tarn";
    WriteTestFile(project, "x");
    std::filesystem::create_directory_symlink(home.path() + "/work", home.path() + "/link");
    const SystemdUnits units = *SystemdUnitsFor(project);
    EXPECT_EQ(units.folder, home.ConfigHome() + "/systemd/user");
    EXPECT_THAT(units.serviceName,
                ::testing::MatchesRegex("tarnwick-backup-Daily_Backup-[0-9a-f]{8}\\.service"));
    EXPECT_EQ(units.timerName, units.serviceName.substr(0, units.serviceName.size() - 8) + ".timer");

    // A relative name and one through a symbolic link name the same file.
    const std::string before = std::filesystem::current_path().string();
    ASSERT_EQ(::chdir(home.path().c_str()), 0);
    const SystemdUnits relative = *SystemdUnitsFor("link/../work/Daily Backup.tarn");
    const SystemdUnits linked = *SystemdUnitsFor(home.path() + "/link/Daily Backup.tarn");
    ASSERT_EQ(::chdir(before.c_str()), 0);
    EXPECT_EQ(relative.serviceName, units.serviceName);
    EXPECT_EQ(linked.serviceName, units.serviceName);
    // Another project in the same folder, even with the same stem, gets its own.
    EXPECT_NE(SystemdUnitsFor(home.path() + "/work/Daily Backup.tarn2")->serviceName, units.serviceName);

    EXPECT_FALSE(SystemdTimerInCharge(project));
    std::filesystem::create_directories(units.folder);
    WriteTestFile(units.TimerPath(), "[Timer]\n");
    EXPECT_TRUE(SystemdTimerInCharge(home.path() + "/link/Daily Backup.tarn"));
}

TEST(SystemdUnitsTest, TheServiceRunsTheProjectWithItsPathQuotedForSystemd) {
    const std::string text = ServiceUnitText("/opt/t b/tarnwick-backup-cli",
                                             "/home/u/50% \"odd\" $HOME\\x.tarn", "/home/u/.config");
    EXPECT_THAT(text, HasSubstr("\nType=oneshot\n"));
    EXPECT_THAT(text, HasSubstr("\nEnvironment=\"XDG_CONFIG_HOME=/home/u/.config\"\n"));
    EXPECT_THAT(text, HasSubstr("\nExecStart=\"/opt/t b/tarnwick-backup-cli\" run --project "
                                "\"/home/u/50%% \\\"odd\\\" $$HOME\\\\x.tarn\"\n"));
    EXPECT_THAT(text, HasSubstr("\nDescription=Tarnwick Backup of /home/u/50%% \"odd\" $HOME\\x.tarn\n"));
    EXPECT_TRUE(WhyNotInUnitFile("/home/u/a\nb.tarn").has_value());
    EXPECT_FALSE(WhyNotInUnitFile("/home/u/a b.tarn").has_value());
}

TEST(SystemdUnitsTest, TimersUseACalendarWhereOneFitsTheIntervalExactly) {
    for (const auto& [minutes, schedule] : {
             std::tuple<int, std::string>{15, "OnCalendar=*-*-* *:00/15:00\n"},
             {60, "OnCalendar=*-*-* 00/1:00:00\n"},
             {360, "OnCalendar=*-*-* 00/6:00:00\n"},
             {1440, "OnCalendar=*-*-* 00:00:00\n"},
             {10080, "OnCalendar=Mon *-*-* 00:00:00\n"},
             // No calendar repeats every 45 minutes or 5 hours: from boot and the last run.
             {45, "OnBootSec=5min\nOnUnitActiveSec=45min\n"},
             {300, "OnBootSec=5min\nOnUnitActiveSec=300min\n"},
             {3, "OnCalendar=*-*-* *:00/3:00\n"},
             {7, "OnBootSec=5min\nOnUnitActiveSec=7min\n"},
             {2, "OnCalendar=*-*-* *:00/2:00\n"},
         }) {
        const std::string text = TimerUnitText(minutes, "/p.tarn", "x.service");
        EXPECT_THAT(text, HasSubstr("[Timer]\n" + schedule + "Persistent=true\nUnit=x.service\n")) << minutes;
        EXPECT_THAT(text, HasSubstr("[Install]\nWantedBy=timers.target\n"));
    }
    EXPECT_THAT(TimerUnitText(4, "/p.tarn", "x.service"), Not(HasSubstr("OnUnitActiveSec")));
}
}  // namespace
