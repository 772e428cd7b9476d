#pragma once

// A filesystem probe for the benchmarks that time a report while a mount
// hangs: the window's cycle and the provider's own pass.

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/linux/wmi/fs_probe.h"

namespace tavo::bench {

// The real statvfs, except that the root filesystem hangs until released,
// as a dead network mount does.
class HangingRoot : public linuxwmi::FsProbe {
  public:
    std::optional<linuxwmi::FsStats> stat(const std::string& mp) override {
        if (mp == "/") {
            std::unique_lock lock(m_);
            cv_.wait(lock, [&] { return released_; });
        }
        return real_->stat(mp);
    }
    void release() {
        std::lock_guard lock(m_);
        released_ = true;
        cv_.notify_all();
    }

  private:
    std::shared_ptr<FsProbe> real_ = linuxwmi::makeStatvfsProbe();
    std::mutex m_;
    std::condition_variable cv_;
    bool released_ = false;
};

}  // namespace tavo::bench
