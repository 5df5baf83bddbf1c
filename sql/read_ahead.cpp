#include "sql/read_ahead.h"

namespace sqlscan {

namespace {
constexpr size_t kBatchBytes = 256 * 1024;
constexpr size_t kBatchRows = 2048;
constexpr size_t kBatchesAhead = 3;
}  // namespace

ReadAhead::ReadAhead(std::shared_ptr<const btrieve::File> file)
    : file_(std::move(file)), thread_([this] { run(); }) {}

ReadAhead::~ReadAhead() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void ReadAhead::run() {
    Batch fill;
    // Hands a full batch over, waiting while enough are ahead; false once stopped.
    auto handOver = [&] {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stop_ || ready_.size() < kBatchesAhead; });
        if (stop_) return false;
        ready_.push_back(std::move(fill));
        changed_.notify_all();
        fill = Batch{};
        return true;
    };
    const btrieve::Status st = file_->forEachRecordView([&](btrieve::RecordAddress address, std::string_view rec) {
        fill.bytes.append(rec);
        fill.addresses.push_back(address);
        fill.ends.push_back(fill.bytes.size());
        return (fill.bytes.size() < kBatchBytes && fill.addresses.size() < kBatchRows) || handOver();
    });
    if (!fill.addresses.empty()) handOver();
    std::lock_guard lock(mutex_);
    status_ = st;
    done_ = true;
    changed_.notify_all();
}

bool ReadAhead::next(btrieve::RecordAddress& address, std::string_view& record, bool& newBatch,
                     btrieve::Status& status) {
    newBatch = false;
    if (row_ >= current_.addresses.size()) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return done_ || !ready_.empty(); });
        if (ready_.empty()) {
            status = status_;
            return false;
        }
        current_ = std::move(ready_.front());
        ready_.pop_front();
        changed_.notify_all();
        row_ = 0;
        newBatch = true;
    }
    const size_t begin = row_ ? current_.ends[row_ - 1] : 0;
    address = current_.addresses[row_];
    record = std::string_view(current_.bytes).substr(begin, current_.ends[row_] - begin);
    ++row_;
    status = btrieve::Status::Success;
    return true;
}

}  // namespace sqlscan
