// The folder walk of 20,000 files in 200 folders, pumping per entry, against
// "find <dir> -type f".
#include "CopyBenchSupport.h"
#include "engine/CopyOperation.h"

int main() {
    bench::ScratchFolder scratch;
    const std::string tree = scratch.path() + "/tree";
    bench::MakeTree(tree, 200, 100);
    bench::Run("sync");

    BackupSetup setup;
    RunState run;
    bench::QuietWindow window;
    CTranslation texts(scratch.path());
    bench::QuietReporter reporter;
    BackupContext context{setup, run, window, texts, reporter, scratch.path(), scratch.path(), ""};

    bench::CompareInTurns(
        "folder walk of 20,000 files in 200 folders",
        [&] {
            run.foundFiles.clear();
            WalkFolder(context, tree + "/...");
            if (run.foundFiles.size() != 20000) std::exit(1);
        },
        [&] { bench::Run("find " + tree + " -type f > /dev/null"); }, "find -type f");
    std::printf("  pumps per walk: %ld\n", window.pumps / 8);
}
