// Without the capabilities that let the superuser read and write any file, in this
// thread (the one that runs the window and opens the company files); put back when it
// ends. A test that needs a file or folder closed to the user skips when holds() is
// false: the user still reads a file of mode 000.
#pragma once

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace apptest {

class WithoutReadOverride {
public:
    WithoutReadOverride() {
        header_.version = _LINUX_CAPABILITY_VERSION_3;
        if (syscall(SYS_capget, &header_, saved_) != 0) return;
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        dropped_ = syscall(SYS_capset, &header_, reduced) == 0;
    }
    ~WithoutReadOverride() {
        if (dropped_) syscall(SYS_capset, &header_, saved_);
    }
    WithoutReadOverride(const WithoutReadOverride&) = delete;
    WithoutReadOverride& operator=(const WithoutReadOverride&) = delete;

    bool holds() const {
        char path[] = "/tmp/closed-XXXXXX";
        const int made = ::mkstemp(path);
        if (made < 0) return false;
        ::close(made);
        ::chmod(path, 0);
        const int fd = ::open(path, O_RDONLY);
        if (fd >= 0) ::close(fd);
        ::unlink(path);
        return fd < 0;
    }

private:
    __user_cap_header_struct header_{};
    __user_cap_data_struct saved_[2]{};
    bool dropped_ = false;
};

}  // namespace apptest
