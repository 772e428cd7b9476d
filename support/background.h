#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <stop_token>
#include <type_traits>
#include <utility>

// The one owner of the program's background threads. Every thread the
// program starts goes through here: it is counted while it runs and joined
// once it has ended, and none is ever detached. At exit the program asks
// them all to stop and waits for them once, with one limit, so that no
// thread is still inside libssh, OpenSSL, GSSAPI or CUPS while exit() tears
// those libraries down.
namespace tavo::background {

void startErased(std::function<void(std::stop_token)> work);

// Runs `work(token)` on a thread of its own; the token stops when the
// program ends (finish). What `work` captures is released on that thread,
// before the thread counts as ended. `work` may be move-only.
template <class F>
void start(F&& work) {
    using W = std::decay_t<F>;
    if constexpr (std::is_copy_constructible_v<W>) {
        startErased(std::forward<F>(work));
    } else {
        startErased([held = std::make_shared<W>(std::forward<F>(work))](std::stop_token t) {
            (*held)(std::move(t));
        });
    }
}

// How many threads started here have not ended yet.
int outstanding();

// Asks all background work to stop and waits no longer than `limit` for it
// to end, joining every thread that did. True when nothing is left; false
// means a thread is still inside a call, and the caller must end the
// process without running exit handlers (std::_Exit).
bool finish(std::chrono::milliseconds limit);

}  // namespace tavo::background
