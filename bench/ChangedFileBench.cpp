// The changed-file check of an incremental backup over 20,000 unchanged files
// (walk the source, compare each file with its copy) against
// "find <dir> -type f -newer x".
#include "CopyBenchSupport.h"
#include "engine/CopyOperation.h"

int main() {
    bench::ScratchFolder scratch;
    const std::string tree = scratch.path() + "/tree";
    const std::string backup = scratch.path() + "/backup";
    bench::MakeTree(tree, 200, 100);
    bench::Run("mkdir -p " + backup + " && cp -a " + tree + " " + backup + "/tree && touch " +
               scratch.path() + "/x");
    bench::Run("sync");

    BackupSetup setup;
    setup.optionFlags = "010000000000000";
    RunState run;
    bench::QuietWindow window;
    CTranslation texts(scratch.path());
    bench::QuietReporter reporter;
    BackupContext context{setup, run, window, texts, reporter, scratch.path(), scratch.path(), ""};

    const std::size_t relativeStart = tree.size();
    bench::CompareInTurns(
        "changed-file check of 20,000 unchanged files",
        [&] {
            run.foundFiles.clear();
            WalkFolder(context, tree + "/...");
            RecentFolders folders;
            for (const std::string& file : run.foundFiles)
                CopyIfChanged(context, file, backup + "/tree" + file.substr(relativeStart), folders);
            if (run.copiedCount != 0) std::exit(1);
        },
        [&] { bench::Run("find " + tree + " -type f -newer " + scratch.path() + "/x > /dev/null"); },
        "find -type f -newer x");
}
