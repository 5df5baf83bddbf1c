// libFuzzer target: open arbitrary bytes as a Btrieve file and walk it through every
// key, forwards and backwards, with a seek on each. The file lives in memory
// (memfd), so the reader sees a real path and a real descriptor.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "btrieve/file.h"
#include "btrieve/table.h"

namespace {
constexpr int kMaxSteps = 4096;  // bounds a walk over a file that claims many records
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int fd = memfd_create("fuzz", 0);
    if (fd < 0) return 0;
    size_t off = 0;
    while (off < size) {
        ssize_t n = write(fd, data + off, size - off);
        if (n <= 0) break;
        off += static_cast<size_t>(n);
    }
    std::string path = "/proc/self/fd/" + std::to_string(fd);
    std::unique_ptr<btrieve::File> file;
    if (btrieve::File::open(path, file) == btrieve::Status::Success) {
        std::shared_ptr<const btrieve::File> shared(std::move(file));
        const auto& info = shared->info();
        btrieve::Table table(shared);
        for (size_t k = 0; k < info.keys.size() && k < 8; ++k) {
            if (table.setActiveKey(info.keys[k].number) != btrieve::Status::Success) continue;
            int steps = 0;
            std::string firstKey;
            for (auto s = table.moveFirst(); s == btrieve::Status::Success && steps < kMaxSteps;
                 s = table.moveNext(), ++steps) {
                if (firstKey.empty()) firstKey = table.currentRecord().substr(0, 8);
            }
            steps = 0;
            for (auto s = table.moveLast(); s == btrieve::Status::Success && steps < kMaxSteps;
                 s = table.movePrevious(), ++steps) {
            }
            table.seek(btrieve::SeekOp::Le, firstKey);
            table.seek(btrieve::SeekOp::Ge, std::string(size % 64, '\x7f'));
        }
    }
    close(fd);
    return 0;
}
