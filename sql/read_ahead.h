// Every live record of a file in file order, read ahead by a thread of its own in
// batches, for a virtual table's full scan: the file's scan runs beside SQLite's
// work on the rows instead of before it, and the rows come as views of a batch
// without a lookup per record. At most a few batches (about a megabyte) are held.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "btrieve/file.h"

namespace sqlscan {

class ReadAhead {
public:
    explicit ReadAhead(std::shared_ptr<const btrieve::File> file);
    ~ReadAhead();  // stops the thread
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The next record (valid until the next call); false at the end, with status
    // saying how the scan ended. newBatch: the record starts a batch, copied after
    // those before it (when to look whether the file changed under them).
    bool next(btrieve::RecordAddress& address, std::string_view& record, bool& newBatch, btrieve::Status& status);

private:
    struct Batch {
        std::string bytes;
        std::vector<btrieve::RecordAddress> addresses;
        std::vector<size_t> ends;  // of each record in bytes
    };
    void run();

    std::shared_ptr<const btrieve::File> file_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Batch> ready_;
    bool stop_ = false, done_ = false;
    btrieve::Status status_ = btrieve::Status::Success;
    Batch current_;
    size_t row_ = 0;
    std::thread thread_;  // last: started once the rest is made
};

}  // namespace sqlscan
