#include "platform/FileCopyPool.h"
#include "platform/ShellCopy.h"

#include "CopyTestSupport.h"
#include "support/TempHome.h"
#include "support/Unprivileged.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {
// Contents that differ from file to file, so a file copied under another's
// name shows.
std::string ContentOf(int index) {
    std::string bytes = "file " + std::to_string(index) + "\n";
    bytes.resize(static_cast<std::size_t>((index * 7919) % 16384), static_cast<char>('a' + index % 26));
    return bytes;
}

void SetTimes(const std::string& path, time_t seconds, long nanoseconds) {
    const timespec times[2] = {{seconds, 0}, {seconds, nanoseconds}};
    ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

bool IsTemporaryName(const std::string& relativePath) {
    return relativePath.find(".part-") != std::string::npos;
}

// The reporter's calls as lines, with the two destinations made alike.
std::string ReportLines(const RecordingReporter& reporter, const std::string& destination) {
    std::string lines;
    for (const auto& [path, message] : reporter.errors) {
        std::string shown = path;
        if (shown.starts_with(destination)) shown = "<copy>" + shown.substr(destination.size());
        lines += shown + ": " + message + "\n";
    }
    return lines;
}
}  // namespace

class ParallelTreeCopyTest : public ::testing::Test {
protected:
    std::string Source(const std::string& name = "") const { return home_.path() + "/Data" + name; }
    std::string Backup(const std::string& name = "") const { return home_.path() + "/Backup" + name; }

    void UseThreads(int threads) { home_.SetEnv("TARNWICK_COPY_THREADS", std::to_string(threads)); }

    // Files spread over four flat folders and the ends of a chain of six.
    static std::string FilePath(int index) {
        const std::string folder = index % 3 == 0 ? "/flat" + std::to_string(index % 4)
                                                  : "/deep/a/b/c/d/e/f" + std::to_string(index % 2);
        return folder + "/f" + std::to_string(index) + ".txt";
    }

    void MakeFiles(int count) {
        for (int index = 0; index < count; ++index) {
            const std::string path = Source(FilePath(index));
            WriteTestFile(path, ContentOf(index));
            ::chmod(path.c_str(), index % 5 == 0 ? 0400 : 0640);
            SetTimes(path, 1'400'000'000 + index, index);
        }
    }

    // Every file of the source is in the copy, whole, with its mode and time.
    void ExpectSameTree(const std::string& copy) {
        EXPECT_EQ(TreeListing(copy), TreeListing(Source()));
        for (const auto& entry : fs::recursive_directory_iterator(Source())) {
            const std::string relative = entry.path().lexically_relative(Source()).string();
            const struct stat original = StatusOf(entry.path().string());
            const struct stat copied = StatusOf(copy + "/" + relative);
            EXPECT_EQ(copied.st_mode, original.st_mode) << relative;
            EXPECT_EQ(copied.st_mtim.tv_sec, original.st_mtim.tv_sec) << relative;
            EXPECT_EQ(copied.st_mtim.tv_nsec, original.st_mtim.tv_nsec) << relative;
            if (entry.is_regular_file()) {
                EXPECT_EQ(ReadTestFile(copy + "/" + relative), ReadTestFile(entry.path().string()))
                    << relative;
            }
        }
    }

    TempHome home_;
    RecordingReporter reporter_;
};

// Root ignores modes: as an ordinary user, the files of a read-only folder
// still go in, and the folder gets its mode and time only after them.
TEST_F(ParallelTreeCopyTest, ThousandsOfFilesOnFourThreadsEqualTheSource) {
    if (!CanDropPrivileges()) GTEST_SKIP() << "needs root to switch accounts";
    MakeFiles(3000);
    for (int index = 0; index < 40; ++index)
        WriteTestFile(Source("/ReadOnly/r" + std::to_string(index)), ContentOf(index));
    GiveTreeTo(home_.path(), NobodyAccount());
    ::chmod(Source("/ReadOnly").c_str(), 0555);
    SetTimes(Source("/ReadOnly"), 1'300'000'000, 42);
    SetTimes(Source("/deep/a/b"), 1'300'000'001, 43);
    UseThreads(4);

    const int result = RunAsUnprivileged([&] {
        RecordingReporter reporter;
        const CopyOutcome outcome = ShellCopy(Source("/*.*"), Backup(), false, reporter);
        return reporter.errors.empty() && outcome.filesCopied == 3040 ? 0 : 1;
    });
    EXPECT_EQ(result, 0);
    ExpectSameTree(Backup());
}

// The reporter hears the same errors in the same order whatever the threads:
// unreadable files, pipes and a folder where a file must go, among many files.
TEST_F(ParallelTreeCopyTest, ReportsAreTheSameOnOneThreadAndOnFour) {
    if (!CanDropPrivileges()) GTEST_SKIP() << "needs root to switch accounts";
    MakeFiles(600);
    int unreadable = 0;
    for (int index = 0; index < 600; index += 37, ++unreadable)
        ::chmod(Source(FilePath(index)).c_str(), 0000);
    ASSERT_EQ(::mkfifo(Source("/flat1/pipe").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(Source("/deep/a/b/c/pipe").c_str(), 0600), 0);
    fs::create_symlink("f1.txt", Source("/deep/a/b/c/d/e/f1/link"));
    // Errors the walk meets itself, among files whose copies are under way.
    int mixedReadable = 0;
    fs::create_directories(Source("/Mixed"));
    for (int index = 0; index < 300; ++index) {
        const std::string name = Source("/Mixed/m" + std::to_string(index));
        if (index % 5 == 0) {
            ASSERT_EQ(::mkfifo(name.c_str(), 0600), 0);
        } else if (index % 7 == 0) {
            fs::create_directories(name);
            ::chmod(name.c_str(), 0000);
        } else {
            WriteTestFile(name, ContentOf(index));
            if (index % 3 == 0)
                ::chmod(name.c_str(), 0000);
            else
                ++mixedReadable;
        }
    }
    for (const std::string copy : {"/one", "/four"})
        fs::create_directories(Backup(copy + FilePath(6) + "/in the way"));
    GiveTreeTo(home_.path(), NobodyAccount());

    const std::string record = home_.path() + "/reports";
    for (const int threads : {1, 4}) {
        UseThreads(threads);
        const std::string copy = Backup(threads == 1 ? "/one" : "/four");
        const int result = RunAsUnprivileged([&] {
            RecordingReporter reporter;
            const CopyOutcome outcome = ShellCopy(Source("/*.*"), copy, true, reporter);
            std::ofstream out(record + std::to_string(threads));
            out << ReportLines(reporter, copy) << "copied " << outcome.filesCopied << " bytes "
                << outcome.bytesCopied << " errors " << outcome.errors << "\n";
            std::uint64_t filesDone = 0;
            for (const TransferProgress& report : reporter.progressReports) {
                if (report.filesDone < filesDone) return 2;
                filesDone = report.filesDone;
            }
            out << "files done " << filesDone << "\n";
            return 0;
        });
        EXPECT_EQ(result, 0) << threads;
    }
    const std::string serial = ReadTestFile(record + "1");
    EXPECT_EQ(ReadTestFile(record + "4"), serial);
    EXPECT_NE(serial.find("<copy>" + FilePath(6) + ": a folder stands"), std::string::npos) << serial;
    EXPECT_NE(serial.find(Source("/flat1/pipe")), std::string::npos) << serial;
    EXPECT_NE(serial.find(Source(FilePath(37)) + ": Permission denied"), std::string::npos) << serial;
    // Progress counts the files opened and the link.
    EXPECT_NE(serial.find("files done " + std::to_string(600 - unreadable + 1 + mixedReadable) + "\n"),
              std::string::npos)
        << serial;
}

// A stop met part way leaves every copied file whole under its name, nothing
// under a temporary name, and nothing begun after it.
TEST_F(ParallelTreeCopyTest, StopPartWayLeavesWholeFilesOnly) {
    for (int index = 0; index < 1000; ++index)
        WriteTestFile(Source("/f" + std::to_string(index)), ContentOf(index));
    UseThreads(4);
    CopyOptions options;
    int asked = 0;
    options.stopRequested = [&] { return ++asked > 300; };
    const CopyOutcome outcome = ShellCopy(Source("/*.*"), Backup(), options, reporter_);

    const std::set<std::string> copied = TreeListing(Backup());
    EXPECT_EQ(copied.size(), outcome.filesCopied);
    EXPECT_GT(outcome.filesCopied, 0u);
    EXPECT_LT(outcome.filesCopied, 300u) << "no entry handed out after the stop";
    for (const std::string& name : copied) {
        EXPECT_FALSE(IsTemporaryName(name)) << name;
        EXPECT_EQ(ReadTestFile(Backup("/" + name)), ReadTestFile(Source("/" + name))) << name;
    }
    EXPECT_TRUE(reporter_.errors.empty());
}

// Large files handed out before a stop are not begun after it: their data
// would keep the stop waiting for long.
TEST_F(ParallelTreeCopyTest, StopIsNotKeptWaitingByLargeFilesHandedOut) {
    const std::string large(4 * 1024 * 1024 + 1, 'L');
    for (int index = 0; index < 20; ++index) WriteTestFile(Source("/large" + std::to_string(index)), large);
    UseThreads(4);
    CopyOptions options;
    options.showProgress = true;
    // Stops once the first file is whole.
    options.stopRequested = [&] {
        return !reporter_.progressReports.empty() && reporter_.progressReports.back().filesDone > 0;
    };
    const CopyOutcome outcome = ShellCopy(Source("/*.*"), Backup(), options, reporter_);

    EXPECT_GE(outcome.filesCopied, 1u);
    EXPECT_LE(outcome.filesCopied, 2u);
    const std::set<std::string> copied = TreeListing(Backup());
    EXPECT_EQ(copied.size(), outcome.filesCopied);
    for (const std::string& name : copied) EXPECT_EQ(ReadTestFile(Backup("/" + name)), large) << name;
}

// Older copies are replaced whole on every thread, and the temporary names
// used for that, or left by a killed run, are gone afterwards.
TEST_F(ParallelTreeCopyTest, OlderCopiesAreReplacedAndNoTemporaryNameRemains) {
    MakeFiles(900);
    fs::copy(Source(), Backup(), fs::copy_options::recursive);
    for (const auto& entry : fs::recursive_directory_iterator(Backup()))
        if (entry.is_regular_file()) WriteTestFile(entry.path().string(), "an older copy, longer than some");
    const pid_t gone = ::fork();
    if (gone == 0) ::_exit(0);
    ASSERT_GT(gone, 0);
    ::waitpid(gone, nullptr, 0);
    WriteTestFile(Backup("/flat0/.f0.txt.part-" + std::to_string(gone) + "-7"), "left by a killed run");
    UseThreads(4);

    BackupTarget target(Backup());
    CopyOptions options;
    options.target = &target;
    const CopyOutcome outcome = ShellCopy(Source("/*.*"), Backup(), options, reporter_);

    EXPECT_TRUE(reporter_.errors.empty());
    EXPECT_EQ(outcome.filesCopied, 900u);
    ExpectSameTree(Backup());
}

// A large file among small ones is copied where its progress shows, in its
// turn: the counts only grow, and the large file reports part way.
TEST_F(ParallelTreeCopyTest, LargeFileAmongSmallOnesKeepsProgressInOrder) {
    const std::uint64_t size = 24u * 1024 * 1024;
    for (int index = 0; index < 100; ++index)
        WriteTestFile(Source("/f" + std::to_string(index)), ContentOf(index));
    WriteTestFile(Source("/large.bin"), std::string(size, 'L'));
    for (int index = 100; index < 200; ++index)
        WriteTestFile(Source("/f" + std::to_string(index)), ContentOf(index));
    UseThreads(4);

    const CopyOutcome outcome = ShellCopy(Source("/*.*"), Backup(), true, reporter_);
    EXPECT_EQ(outcome.filesCopied, 201u);
    EXPECT_EQ(fs::file_size(Backup("/large.bin")), size);
    ASSERT_FALSE(reporter_.progressReports.empty());
    bool largePartWay = false;
    std::uint64_t filesDone = 0, bytesDone = 0;
    for (const TransferProgress& report : reporter_.progressReports) {
        EXPECT_GE(report.filesDone, filesDone);
        EXPECT_GE(report.bytesDone, bytesDone);
        filesDone = report.filesDone;
        bytesDone = report.bytesDone;
        if (report.currentFile == Source("/large.bin") && report.fileBytesDone > 0 &&
            report.fileBytesDone < size)
            largePartWay = true;
    }
    EXPECT_TRUE(largePartWay);
    EXPECT_EQ(reporter_.progressReports.back().filesDone, 201u);
    EXPECT_EQ(reporter_.progressReports.back().bytesDone, outcome.bytesCopied);
}

// A reporter that gives up part way: the copy ends with its exception, and
// no worker is left running or blocked.
TEST_F(ParallelTreeCopyTest, ExceptionFromTheReporterEndsTheCopyCleanly) {
    class ThrowingReporter : public RecordingReporter {
    public:
        void ReportError(const std::string&, const std::string&) override {
            throw std::runtime_error("stop");
        }
    };
    MakeFiles(400);
    ASSERT_EQ(::mkfifo(Source("/flat1/pipe").c_str(), 0600), 0);
    UseThreads(4);
    ThrowingReporter reporter;
    EXPECT_THROW(ShellCopy(Source("/*.*"), Backup(), false, reporter), std::runtime_error);
    for (const std::string& name : TreeListing(Backup())) EXPECT_FALSE(IsTemporaryName(name)) << name;
}

// Threads cost more to start than a few files take to copy: they start only
// for many files, and then live until the copy ends.
TEST_F(ParallelTreeCopyTest, ThreadsStartOnlyForManyFiles) {
    class ThreadCountingReporter : public RecordingReporter {
    public:
        void ReportProgress(const TransferProgress& progress) override {
            RecordingReporter::ReportProgress(progress);
            std::size_t threads = 0;
            for ([[maybe_unused]] const auto& task : fs::directory_iterator("/proc/self/task")) ++threads;
            mostThreads = std::max(mostThreads, threads);
        }
        std::size_t mostThreads = 0;
    };
    for (int index = 0; index < 6; ++index) WriteTestFile(Source("/Few/f" + std::to_string(index)), "few");
    for (int index = 0; index < 300; ++index)
        WriteTestFile(Source("/Many/f" + std::to_string(index)), ContentOf(index));
    UseThreads(4);

    ThreadCountingReporter few;
    ShellCopy(Source("/Few"), Backup(), true, few);
    ShellCopy(Source("/Many/f1"), Backup("/single"), true, few);
    EXPECT_EQ(few.mostThreads, 1u);
    ThreadCountingReporter many;
    EXPECT_EQ(ShellCopy(Source("/Many"), Backup(), true, many).filesCopied, 300u);
    EXPECT_EQ(many.mostThreads, 5u) << "four workers beside this thread";
}

namespace {
// Records when it ran and when it was finished.
class RecordingJob : public FileCopyJob {
public:
    RecordingJob(int index, std::vector<int>& finished, bool fails = false)
        : index_(index), finished_(finished), fails_(fails) {}
    void Run() override {
        // The early jobs take longest, so later ones are done before them.
        if (index_ < 4) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        runOn_ = std::this_thread::get_id();
        if (fails_) throw std::runtime_error("job " + std::to_string(index_));
    }
    void Finish() override {
        if (runOn_ == std::thread::id()) throw std::logic_error("finished before it ran");
        finished_.push_back(index_);
    }

private:
    int index_;
    std::vector<int>& finished_;
    bool fails_;
    std::thread::id runOn_;
};
}  // namespace

TEST(FileCopyPoolTest, JobsFinishInTheOrderTheyCame) {
    for (const unsigned workers : {0u, 1u, 4u}) {
        std::vector<int> finished;
        FileCopyPool pool(workers);
        std::vector<int> expected;
        for (int index = 0; index < 200; ++index) {
            pool.Submit(std::make_unique<RecordingJob>(index, finished));
            expected.push_back(index);
            if (workers == 0) {
                EXPECT_EQ(finished, expected) << "no workers: each job finished as it comes";
            }
        }
        pool.FinishAll();
        EXPECT_EQ(finished, expected) << workers;
    }
}

TEST(FileCopyPoolTest, FailedJobThrowsOnTheSubmittingThreadInItsTurn) {
    std::vector<int> finished;
    {
        FileCopyPool pool(4);
        // It surfaces in whichever call finishes job 50.
        EXPECT_THROW(
            {
                for (int index = 0; index < 100; ++index)
                    pool.Submit(std::make_unique<RecordingJob>(index, finished, index == 50));
                pool.FinishAll();
            },
            std::runtime_error);
        std::vector<int> before(50);
        for (int index = 0; index < 50; ++index) before[static_cast<std::size_t>(index)] = index;
        EXPECT_EQ(finished, before);
    }  // the pool ends with jobs left: none is finished, no thread is left
    EXPECT_EQ(finished.size(), 50u);
}

TEST(FileCopyPoolTest, ThreadCountComesFromTheEnvironmentWithinLimits) {
    TempHome home;
    home.SetEnv("TARNWICK_COPY_THREADS", "1");
    EXPECT_EQ(FileCopyPool::WorkersToUse(), 0u) << "1: the walking thread alone";
    home.SetEnv("TARNWICK_COPY_THREADS", "16");
    EXPECT_EQ(FileCopyPool::WorkersToUse(), 16u);
    for (const char* refused : {"0", "17", "four", "4x", ""}) {
        home.SetEnv("TARNWICK_COPY_THREADS", refused);
        EXPECT_GE(FileCopyPool::WorkersToUse(), 2u) << refused;
        EXPECT_LE(FileCopyPool::WorkersToUse(), 8u) << refused;
    }
}
