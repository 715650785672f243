// 20,000 appends to a history log that starts at 10 MB: the time per append
// must not grow with the file.
#include "CopyBenchSupport.h"
#include "storage/HistoryLog.h"

#include <cstdio>

int main() {
    bench::ScratchFolder scratch;
    const std::string log = scratch.path() + "/history.txt";
    WriteHistoryHeader(log);
    {
        std::ofstream file(log, std::ios::binary | std::ios::app);
        const std::string line = "2024-03-07 09:05 Copied: /home/ann/Documents/some folder/some file.txt\r\n";
        for (std::size_t written = 0; written < (10u << 20); written += line.size()) file << line;
    }
    std::printf("log starts at %.1f MB\n", static_cast<double>(std::filesystem::file_size(log)) / (1 << 20));

    constexpr int kAppends = 20000;
    constexpr int kBatch = 1000;
    std::vector<double> batchSeconds;
    for (int batch = 0; batch < kAppends / kBatch; ++batch) {
        batchSeconds.push_back(bench::SecondsOf([&] {
            for (int i = 0; i < kBatch; ++i)
                AppendToHistory(
                    log, "Copied: /home/ann/Documents/file" + std::to_string(batch * kBatch + i) + ".txt");
        }));
    }
    const double first = batchSeconds.front() / kBatch * 1e6;
    const double last = batchSeconds.back() / kBatch * 1e6;
    std::printf("per append: first 1,000 %.2f us, last 1,000 %.2f us, ratio last/first %.2f\n", first, last,
                last / first);
    std::printf("log ends at %.1f MB\n", static_cast<double>(std::filesystem::file_size(log)) / (1 << 20));
}
