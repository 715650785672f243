#include "sources/FtpListing.h"
#include "sources/FtpRemotePath.h"
#include "sources/FtpServerAddress.h"

#include <gtest/gtest.h>

namespace {

TEST(FtpServerText, ReadsHostAndPort) {
    std::string error;
    EXPECT_EQ(ParseFtpServer("example.org", error), (FtpServerAddress{"example.org", 21}));
    EXPECT_EQ(ParseFtpServer("example.org:2121", error), (FtpServerAddress{"example.org", 2121}));
    EXPECT_EQ(ParseFtpServer("[::1]:990", error), (FtpServerAddress{"::1", 990}));
    EXPECT_EQ(ParseFtpServer("[::1]:990", error)->BaseUrl(), "ftp://[::1]:990/");
    for (const char* bad : {"", "a b", "host/path", "host:65536", "host:-1", "::1", "user@host", "[::1"})
        EXPECT_FALSE(ParseFtpServer(bad, error)) << bad;
}

TEST(FtpServerText, StripsTheSchemeOnlyWhenMoreFollows) {
    EXPECT_EQ(StripFtpScheme("ftp://host"), "host");
    EXPECT_EQ(StripFtpScheme("ftp://"), "ftp://");
    EXPECT_EQ(StripFtpScheme("FTP://host"), "FTP://host");
}

TEST(FtpRemotePath, LevelsAndUrlForm) {
    using ftp_path::DirectoryLevels;
    EXPECT_EQ(DirectoryLevels("a/b/c"), (std::vector<std::string>{"a", "a/b", "a/b/c"}));
    EXPECT_EQ(DirectoryLevels("/x/y"), (std::vector<std::string>{"/x", "/x/y"}));
    EXPECT_EQ(ftp_path::NormaliseDirectory("a//b/"), "a/b");
    EXPECT_EQ(ftp_path::NormaliseDirectory("/"), "/");
    EXPECT_EQ(ftp_path::EncodeForUrl("/a b/#?%;\xc3\xa4.txt"), "%2Fa%20b/%23%3F%25%3B%C3%A4.txt");
}

TEST(FtpListing, ReadsNamesAndUtcTimes) {
    const auto times = ParseMlsdListing(
        "type=cdir;modify=20200101000000; .\r\n"
        "type=file;size=3;modify=20200510123456; name with; blanks.txt\r\n"
        "type=dir;modify=20000101000000.123; sub\r\n"
        "type=file;size=1; no-time\r\n");
    ASSERT_EQ(times.size(), 2u);
    EXPECT_EQ(times.at("name with; blanks.txt"), 1589114096);
    EXPECT_EQ(times.at("sub"), 946684800);
}

}  // namespace
