#include "sources/Entries.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class RowRecorder : public EntryListView {
public:
    void AppendRow(const std::string& text) override { rows.push_back(text); }
    std::vector<std::string> rows;
};

TEST(EntryKinds, ExceptionAndFolderMarkersAreReadFromTheText) {
    EXPECT_TRUE(IsExceptionEntry("-/home/ann/x.txt"));
    EXPECT_FALSE(IsExceptionEntry("/home/ann/-x.txt"));
    EXPECT_FALSE(IsExceptionEntry(""));
    EXPECT_TRUE(IsFolderEntry("/home/ann/Data/..."));
    EXPECT_TRUE(IsFolderEntry("-/home/ann/Data/..."));
    EXPECT_FALSE(IsFolderEntry("/home/ann/Data/.."));
    EXPECT_FALSE(IsFolderEntry(".."));
}

TEST(EntryKinds, FolderEntriesEndInSeparatorAndThreeDots) {
    EXPECT_EQ(FolderEntry("/home/ann/Data"), "/home/ann/Data/...");
    EXPECT_EQ(FolderEntry("/"), "//...");
    EXPECT_EQ(ExceptionEntry(FolderEntry("/tmp")), "-/tmp/...");
    EXPECT_EQ(LocalDestination("/media/usb/Backups"), "/media/usb/Backups/...");
}

TEST(FtpDestinations, OnlyLowerCaseFtpPrefixMakesAnFtpDestination) {
    EXPECT_TRUE(IsFtpDestination("ftp://host/...@!@u@!@p@!@dir"));
    EXPECT_FALSE(IsFtpDestination("FTP://host/...@!@u@!@p@!@dir"));
    EXPECT_FALSE(IsFtpDestination("/home/ann/ftp:/..."));
    EXPECT_FALSE(IsFtpDestination("ftp"));
}

TEST(FtpDestinations, EncodingAndDecodingAreInverse) {
    const std::string destination =
        FtpDestination("ftp://example.org:2121", "ann", "s3cret!", "uploads/mine");
    EXPECT_EQ(destination, "ftp://example.org:2121/...@!@ann@!@s3cret!@!@uploads/mine");
    const FtpParameters decoded = DecodeFtpDestination(destination);
    EXPECT_EQ(decoded.server, "example.org:2121");
    EXPECT_EQ(decoded.user, "ann");
    EXPECT_EQ(decoded.password, "s3cret!");
    EXPECT_EQ(decoded.folder, "uploads/mine");
    EXPECT_EQ(decoded.remoteBaseDirectory, "uploads/mine/tarnwick_backup_folder");
}

TEST(FtpDestinations, EmptyFieldsDecodeEmpty) {
    const FtpParameters noFolder = DecodeFtpDestination(FtpDestination("ftp://host", "u", "p", ""));
    EXPECT_EQ(noFolder.server, "host");
    EXPECT_EQ(noFolder.user, "u");
    EXPECT_EQ(noFolder.password, "p");
    EXPECT_EQ(noFolder.folder, "");
    EXPECT_EQ(noFolder.remoteBaseDirectory, "/tarnwick_backup_folder");

    const FtpParameters anonymous = DecodeFtpDestination(FtpDestination("ftp://host", "", "", "dir"));
    EXPECT_EQ(anonymous.user, "");
    EXPECT_EQ(anonymous.password, "");
    EXPECT_EQ(anonymous.folder, "dir");
}

TEST(FtpDestinations, MalformedTextsDecodeWithoutFailing) {
    for (const char* text : {"ftp://", "ftp:", "", "ftp://host", "ftp://host/...", "@", "@!@",
                             "ftp://h/...@!@u", "@@@@@@@@", "ftp://h/...@!@u@!@p"}) {
        SCOPED_TRACE(text);
        const FtpParameters decoded = DecodeFtpDestination(text);
        EXPECT_EQ(decoded.remoteBaseDirectory, decoded.folder + "/tarnwick_backup_folder");
        EXPECT_LE(decoded.server.size() + decoded.user.size() + decoded.password.size(),
                  std::string(text).size());
        DestinationBoxText(text, true);
    }
    const FtpParameters bare = DecodeFtpDestination("ftp://");
    EXPECT_EQ(bare.server, "");
    EXPECT_EQ(bare.user, "");
    EXPECT_EQ(bare.password, "");
    EXPECT_EQ(bare.folder, "");
}

TEST(RemoteDestinations, TextsWithoutThePassiveFieldStayActiveAndEncodeBackByteForByte) {
    // As every earlier version wrote them, a user named "passive" included.
    for (const char* text : {"ftp://example.org:2121/...@!@ann@!@s3cret!@!@uploads/mine",
                             "ftp://h/...@!@passive@!@pw@!@dir", "ftp://h/...@!@@!@@!@"}) {
        SCOPED_TRACE(text);
        EXPECT_TRUE(IsRemoteDestination(text));
        const FtpParameters decoded = DecodeFtpDestination(text);
        EXPECT_FALSE(decoded.passive);
        EXPECT_EQ(FtpDestination("ftp://" + decoded.server, decoded.user, decoded.password, decoded.folder,
                                 decoded.passive),
                  text);
    }
    EXPECT_EQ(DecodeFtpDestination("ftp://h/...@!@passive@!@pw@!@dir").user, "passive");
}

TEST(RemoteDestinations, PassiveModeRoundTripsAndLeavesLoginAndBoxAsTheyWere) {
    const std::string passive = FtpDestination("ftp://host:2121", "ann", "pw", "dir", true);
    EXPECT_EQ(passive, "ftp://host:2121/...@!@passive@!@ann@!@pw@!@dir");
    const FtpParameters decoded = DecodeFtpDestination(passive);
    EXPECT_TRUE(decoded.passive);
    EXPECT_EQ(decoded.server, "host:2121");
    EXPECT_EQ(decoded.user, "ann");
    EXPECT_EQ(decoded.password, "pw");
    EXPECT_EQ(decoded.folder, "dir");
    EXPECT_EQ(DestinationBoxText(passive, false), "ftp://host:2121/dir");

    const FtpParameters anonymous = DecodeFtpDestination(FtpDestination("ftp://host", "", "", "", true));
    EXPECT_TRUE(anonymous.passive);
    EXPECT_EQ(anonymous.user, "");
    EXPECT_EQ(anonymous.password, "");
    EXPECT_EQ(anonymous.server, "host");
}

TEST(RemoteDestinations, FtpWithTlsHasTheSameFieldsAfterItsOwnScheme) {
    const std::string destination = FtpDestination("ftps://host:990", "ann", "pw", "dir", true);
    EXPECT_EQ(destination, "ftps://host:990/...@!@passive@!@ann@!@pw@!@dir");
    EXPECT_TRUE(IsRemoteDestination(destination));
    const FtpParameters decoded = DecodeFtpDestination(destination);
    EXPECT_EQ(decoded.protocol, RemoteProtocol::FtpTls);
    EXPECT_EQ(decoded.server, "host:990");
    EXPECT_EQ(decoded.user, "ann");
    EXPECT_TRUE(decoded.passive);
    EXPECT_EQ(DestinationBoxText(destination, false), "ftps://host:990/dir");
    EXPECT_EQ(DecodeFtpDestination("ftp://host/...@!@u@!@p@!@d").protocol, RemoteProtocol::Ftp);
    EXPECT_FALSE(IsRemoteDestination("FTPS://host/...@!@u@!@p@!@d"));
}

TEST(RemoteDestinations, SftpHasTheSameFieldsAfterItsOwnSchemeAndPort22) {
    const std::string destination = FtpDestination("sftp://host", "ann", "", "dir");
    EXPECT_EQ(destination, "sftp://host/...@!@ann@!@@!@dir");
    EXPECT_TRUE(IsRemoteDestination(destination));
    const FtpParameters decoded = DecodeFtpDestination(destination);
    EXPECT_EQ(decoded.protocol, RemoteProtocol::Sftp);
    EXPECT_EQ(decoded.server, "host");
    EXPECT_EQ(decoded.user, "ann");
    EXPECT_EQ(decoded.password, "");
    EXPECT_EQ(decoded.remoteBaseDirectory, "dir/tarnwick_backup_folder");
    EXPECT_EQ(DestinationBoxText(destination, false), "sftp://host/dir");
    EXPECT_EQ(DefaultPort(RemoteProtocol::Sftp), 22);
    EXPECT_EQ(DefaultPort(RemoteProtocol::FtpTls), 21);
    EXPECT_TRUE(StartsWithRemoteScheme("sftp://h"));
    EXPECT_FALSE(IsRemoteDestination("SFTP://host/...@!@u@!@p@!@d"));
}

TEST(BrokenDownForm, EightyCharactersAndMoreAreShortenedToSeventyNine) {
    const std::string seventyNine = "/" + std::string(78, 'a');
    const std::string eighty = "/0123456789abcd" + std::string(59, 'x') + "/tail6";
    ASSERT_EQ(eighty.size(), 80u);
    EXPECT_EQ(BrokenDownForm(seventyNine), seventyNine);
    const std::string shown = BrokenDownForm(eighty);
    EXPECT_EQ(shown.size(), 79u);
    EXPECT_EQ(shown, eighty.substr(0, 15) + " ... " + eighty.substr(80 - 59));
}

TEST(BrokenDownForm, CountsCharactersNotBytes) {
    // 79 two-byte characters stay whole; the character is never cut in half.
    std::string text;
    for (int i = 0; i < 79; ++i) text += "\xC3\xA9";
    EXPECT_EQ(BrokenDownForm(text), text);
    text += "\xC3\xA9";
    const std::string shown = BrokenDownForm(text);
    std::string expected;
    for (int i = 0; i < 15; ++i) expected += "\xC3\xA9";
    expected += " ... ";
    for (int i = 0; i < 59; ++i) expected += "\xC3\xA9";
    EXPECT_EQ(shown, expected);
}

TEST(DestinationBox, FtpShowsHostAndFolderOnly) {
    const std::string destination = FtpDestination("ftp://host", "ann", "pw", "dir");
    EXPECT_EQ(DestinationBoxText(destination, false), "ftp://host/dir");
    EXPECT_EQ(DestinationBoxText(destination, true), "ftp://host/dir");
    EXPECT_EQ(DestinationBoxText(FtpDestination("ftp://host", "ann", "pw", ""), false), "ftp://host/");
}

TEST(DestinationBox, LocalIsBrokenDownOnlyWhenAsked) {
    const std::string longDestination = LocalDestination("/" + std::string(90, 'd'));
    EXPECT_EQ(DestinationBoxText(longDestination, false), longDestination);
    EXPECT_EQ(DestinationBoxText(longDestination, true), BrokenDownForm(longDestination));
    EXPECT_EQ(DestinationBoxText("/short/...", true), "/short/...");
}

TEST(AppendEntry, KeepsTheEntryAndShowsItsRow) {
    BackupSetup setup;
    RowRecorder view;
    const std::string longEntry = FolderEntry("/" + std::string(100, 'l'));
    AppendEntry(setup, view, "/a.txt");
    AppendEntry(setup, view, longEntry);
    setup.breakLongPaths = true;
    AppendEntry(setup, view, longEntry);
    EXPECT_EQ(setup.entries, (std::vector<std::string>{"/a.txt", longEntry, longEntry}));
    EXPECT_EQ(view.rows, (std::vector<std::string>{"/a.txt", longEntry, BrokenDownForm(longEntry)}));
}

}  // namespace
