#include "support/TempHome.h"
#include "support/Unprivileged.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// The support every mode test rests on: a child that really lost root.
TEST(UnprivilegedChild, CannotWriteAFileModesForbid) {
    if (!CanDropPrivileges()) GTEST_SKIP() << "needs root to switch accounts";
    TempFolder folder;
    ::chmod(folder.path().c_str(), 0755);
    const std::string file = folder.path() + "/read-only.txt";
    WriteTestFile(file, "kept");
    ::chmod(file.c_str(), 0644);
    const int result = RunAsUnprivileged([&] {
        if (::geteuid() == 0) return 2;
        const int fd = ::open(file.c_str(), O_WRONLY);
        return fd < 0 ? 0 : 1;
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadTestFile(file), "kept");
}
