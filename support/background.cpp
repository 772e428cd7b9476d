#include "support/background.h"

#include <condition_variable>
#include <list>
#include <mutex>
#include <thread>
#include <utility>

namespace tavo::background {

namespace {

struct Worker {
    std::thread thread;
    bool ended = false;
};

struct Owner {
    std::mutex mutex;
    std::condition_variable changed;
    std::list<Worker> workers;
    int running = 0;
    std::stop_source stop;

    // Joins the threads that have said they ended; each has only its return
    // left to do. Called with the mutex held, so the list is taken out first.
    void reap(std::unique_lock<std::mutex>& lock) {
        std::list<Worker> done;
        for (auto it = workers.begin(); it != workers.end();) {
            auto next = std::next(it);
            if (it->ended) done.splice(done.end(), workers, it);
            it = next;
        }
        if (done.empty()) return;
        lock.unlock();
        for (Worker& w : done)
            if (w.thread.joinable()) w.thread.join();
        lock.lock();
    }
};

// Never destroyed: a thread still stuck when the process ends must find it.
Owner& owner() {
    static auto* o = new Owner;
    return *o;
}

}  // namespace

void startErased(std::function<void(std::stop_token)> work) {
    Owner& o = owner();
    std::unique_lock lock(o.mutex);
    o.reap(lock);
    o.workers.emplace_back();
    auto self = std::prev(o.workers.end());
    ++o.running;
    // The thread marks its entry under the mutex, which is held here until
    // the entry has its thread: it cannot end before it is recorded.
    self->thread =
        std::thread([&o, self, token = o.stop.get_token(), work = std::move(work)]() mutable {
            try {
                work(token);
            } catch (...) {
                // Work reports its own failures; nothing may escape a thread.
            }
            work = nullptr;  // what it captured goes while it is still counted
            std::lock_guard l(o.mutex);
            self->ended = true;
            --o.running;
            o.changed.notify_all();
        });
}

int outstanding() {
    Owner& o = owner();
    std::lock_guard lock(o.mutex);
    return o.running;
}

bool finish(std::chrono::milliseconds limit) {
    Owner& o = owner();
    std::unique_lock lock(o.mutex);
    o.stop.request_stop();
    o.changed.wait_for(lock, limit, [&] { return o.running == 0; });
    o.reap(lock);
    return o.running == 0;
}

}  // namespace tavo::background
