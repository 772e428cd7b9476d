#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace tavo::linuxwmi::testing {

// Sets the process's time zone (a POSIX TZ rule, which needs no zone files)
// for one test and puts the old one back after it.
class ZoneGuard {
  public:
    explicit ZoneGuard(const char* tz) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~ZoneGuard() {
        if (old_) {
            ::setenv("TZ", old_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }
    ZoneGuard(const ZoneGuard&) = delete;
    ZoneGuard& operator=(const ZoneGuard&) = delete;

  private:
    std::optional<std::string> old_;
};

}  // namespace tavo::linuxwmi::testing
