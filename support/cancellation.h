#pragma once

#include <stop_token>

// The stop token of the pass running on this thread. A pass sets it for its
// whole length, so every call that can wait deep inside a back end (a
// deadline helper, an enumeration walk) honours STOP without the token
// being threaded through every interface in between.
namespace tavo::cycle {

// The token of this thread's pass; a token that never stops elsewhere.
std::stop_token currentStopToken();

// Makes `token` this thread's pass token until the scope ends.
class StopScope {
  public:
    explicit StopScope(std::stop_token token);
    ~StopScope();
    StopScope(const StopScope&) = delete;
    StopScope& operator=(const StopScope&) = delete;

  private:
    std::stop_token token_;
    const std::stop_token* previous_;
};

}  // namespace tavo::cycle
