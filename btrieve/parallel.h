// Work split into parts that run at once, for scans, sorts and exports: every thread
// started here is joined before the call returns, so callers see one blocking call.
#pragma once

#include <system_error>
#include <thread>
#include <vector>

namespace btrieve {

// Calls work(0), ..., work(n - 1) at once and returns when all are done: work(0)
// in the calling thread, the others in threads of their own. A part no thread
// can be started for runs in the calling thread after work(0).
template <class Work>
void runParts(unsigned n, Work&& work) {
    std::vector<std::thread> threads;
    std::vector<unsigned> here;
    for (unsigned p = 1; p < n; ++p) {
        try {
            threads.emplace_back([&work, p] { work(p); });
        } catch (const std::system_error&) {
            here.push_back(p);
        }
    }
    work(0u);
    for (unsigned p : here) work(p);
    for (auto& t : threads) t.join();
}

}  // namespace btrieve
