#include "sources/FtpTransfer.h"

#include "support/FtpTestServer.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

class FtpUploadIfNewerTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        if (GetParam()) server.RefuseListings();
        // Local files all from 10 May 2020, remote copies on the server's disk.
        for (const char* name : {"later.txt", "same.txt", "absent.txt"}) {
            WriteTestFile(local.path() + "/" + name, std::string("local ") + name);
            SetModificationTime(local.path() + "/" + name, 2020, 5, 10, 12, 0, 0);
        }
        WriteTestFile(Remote("later.txt"), "remote");
        SetModificationTime(Remote("later.txt"), 2020, 5, 11, 0, 30, 0);
        WriteTestFile(Remote("same.txt"), "remote");
        SetModificationTime(Remote("same.txt"), 2020, 5, 10, 23, 59, 0);
    }

    std::string Remote(const std::string& name) const { return server.LoginFolder() + "/inc/dir/" + name; }

    UploadOutcome UploadIfNewer(const std::string& name) {
        return FtpUploadIfNewer(session, local.path() + "/" + name, server.HostAndPort(), server.user(),
                                server.password(), "inc/dir", copied, bytes);
    }

    TempHome home;
    TempFolder local;
    FtpTestServer server;
    FtpSession session{nullptr, {}, FtpTimeouts{2000ms, 2000ms}};
    std::int32_t copied = 0;
    std::uint64_t bytes = 0;
};

TEST_P(FtpUploadIfNewerTest, ComparesCalendarDays) {
    EXPECT_EQ(UploadIfNewer("later.txt"), UploadOutcome::Skipped);
    EXPECT_EQ(ReadTestFile(Remote("later.txt")), "remote");
    EXPECT_EQ(copied, 0);
    EXPECT_EQ(bytes, 0u);

    EXPECT_EQ(UploadIfNewer("same.txt"), UploadOutcome::Uploaded);
    EXPECT_EQ(ReadTestFile(Remote("same.txt")), "local same.txt");
    EXPECT_EQ(UploadIfNewer("absent.txt"), UploadOutcome::Uploaded);
    EXPECT_EQ(ReadTestFile(Remote("absent.txt")), "local absent.txt");
    EXPECT_EQ(copied, 2);
    EXPECT_EQ(bytes, std::string("local same.txt").size() + std::string("local absent.txt").size());
    EXPECT_EQ(server.LoginCount(), 1);
}

TEST_P(FtpUploadIfNewerTest, AFailedUploadCountsNothing) {
    server.RefuseWithQuotaExceeded("absent.txt");
    EXPECT_EQ(UploadIfNewer("absent.txt"), UploadOutcome::Failed);
    EXPECT_EQ(copied, 0);
    EXPECT_EQ(bytes, 0u);
    EXPECT_EQ(UploadIfNewer("vanished.txt"), UploadOutcome::Failed);
    EXPECT_EQ(copied, 0);
}

TEST_P(FtpUploadIfNewerTest, UploadsIntoADirectoryThatDoesNotExistYet) {
    WriteTestFile(local.path() + "/new.txt", "new");
    EXPECT_EQ(FtpUploadIfNewer(session, local.path() + "/new.txt", server.HostAndPort(), server.user(),
                               server.password(), "/fresh/levels", copied, bytes),
              UploadOutcome::Uploaded);
    EXPECT_EQ(ReadTestFile(server.RootFolder() + "/fresh/levels/new.txt"), "new");
}

INSTANTIATE_TEST_SUITE_P(ListingOrTimeQuery, FtpUploadIfNewerTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "ByTimeQuery" : "ByListing"; });

TEST(DayNumber, CountsFromTheFirstOfJanuary2000) {
    EXPECT_EQ(DayNumber(2000, 1, 1), 1);
    EXPECT_EQ(DayNumber(2001, 3, 1), 426);
    EXPECT_EQ(DayNumber(2000, 3, 1), 61);
    // Every fourth year is a leap year, 2100 included.
    EXPECT_EQ(DayNumber(2100, 3, 1) - DayNumber(2100, 2, 28), 2);
    EXPECT_EQ(DayNumber(2101, 1, 1) - DayNumber(2100, 1, 1), 366);
    EXPECT_EQ(DayNumber(1999, 12, 31), 334 + 31);
}

}  // namespace
