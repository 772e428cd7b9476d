#include "platform/linux/winrm/winrm_backend.h"

#include <deque>
#include <map>
#include <mutex>

#include "grid/error.h"
#include "platform/linux/winrm/wsman_object.h"
#include "support/text.h"

namespace tavo::winrm {

namespace {

class WinRmResultSet : public wmi::ResultSet {
  public:
    WinRmResultSet(std::shared_ptr<SoapTransport> transport, const std::string& query,
                   const WalkOptions& options, std::function<void(const Error&)> transportFailed)
        : walk_(std::move(transport), query, options, std::move(transportFailed)),
          maker_(classOfQuery(query)) {}

    std::unique_ptr<wmi::Object> next() override {
        // The walk starts with the first call, as a semi-synchronous query
        // over COM does: a class the service does not know fails here.
        if (at_ >= page_.size()) {
            at_ = 0;
            if (!walk_.nextPage(page_)) {
                page_.clear();
                return nullptr;
            }
        }
        return maker_.make(std::move(page_[at_++]));
    }

  private:
    EnumerationWalk walk_;
    ObjectMaker maker_;
    std::vector<ReplyItem> page_;
    std::size_t at_ = 0;
};

// The transports made so far, by computer. Shared with the connections, so
// one whose transport fails can drop it: the next pass then asks the
// factory again, which may ask for other credentials or reconnect.
struct TransportCache {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<SoapTransport>> byComputer;

    void drop(const std::string& key, const SoapTransport* which) {
        std::lock_guard lock(mutex);
        const auto it = byComputer.find(key);
        if (it != byComputer.end() && it->second.get() == which) byComputer.erase(it);
    }
};

class WinRmConnection : public wmi::Connection {
  public:
    WinRmConnection(std::shared_ptr<SoapTransport> transport, WalkOptions options,
                    std::shared_ptr<TransportCache> cache, std::string key)
        : transport_(std::move(transport)),
          options_(std::move(options)),
          cache_(std::move(cache)),
          key_(std::move(key)) {}

    std::unique_ptr<wmi::ResultSet> execQuery(const std::string& query) override {
        auto failed = [cache = cache_, key = key_, which = transport_.get()](const Error& e) {
            // Only what a new transport could mend: refused credentials. A
            // host not reached is reached again by the same transport, which
            // reconnects by itself and keeps the credentials the user gave;
            // a new one would ask for the password at every pass while the
            // host is away.
            if (e.number() == errc::kAccessDenied) cache->drop(key, which);
        };
        return std::make_unique<WinRmResultSet>(transport_, query, options_, failed);
    }

  private:
    std::shared_ptr<SoapTransport> transport_;
    WalkOptions options_;
    std::shared_ptr<TransportCache> cache_;
    std::string key_;
};

class WinRmBackend : public wmi::Backend {
  public:
    WinRmBackend(TransportFor transportFor, WalkOptions options)
        : transportFor_(std::move(transportFor)), options_(std::move(options)) {}

    std::unique_ptr<wmi::Connection> connect(const std::string& computer) override {
        // Names differ in case only as the user typed them.
        std::string key = text::toLower(computer);
        return std::make_unique<WinRmConnection>(transportOf(computer, key), options_, cache_, key);
    }

    // The cycle stopped: its connections go. A pass still walking keeps its
    // own transport until it ends.
    void closeSessions() override {
        std::map<std::string, std::shared_ptr<SoapTransport>> old;
        {
            std::lock_guard lock(cache_->mutex);
            old.swap(cache_->byComputer);
        }
    }

  private:
    std::shared_ptr<SoapTransport> transportOf(const std::string& computer,
                                               const std::string& key) {
        {
            std::lock_guard lock(cache_->mutex);
            if (auto it = cache_->byComputer.find(key); it != cache_->byComputer.end())
                return it->second;
        }
        // Made outside the lock: a factory may prompt for credentials or
        // wait on the network, and other computers must not wait behind it.
        std::shared_ptr<SoapTransport> made;
        try {
            made = transportFor_ ? transportFor_(computer) : nullptr;
        } catch (const Error&) {
            throw;
        } catch (const std::exception& e) {
            throw Error(errc::kServerUnavailable,
                        "Cannot reach the WinRM service of " + computer + ": " + e.what());
        }
        if (!made) {
            throw Error(errc::kServerUnavailable, "Cannot reach the WinRM service of " + computer +
                                                      ": no connection could be made to it");
        }
        std::lock_guard lock(cache_->mutex);
        // Two passes that raced here share the first transport made.
        return cache_->byComputer.emplace(key, std::move(made)).first->second;
    }

    TransportFor transportFor_;
    WalkOptions options_;
    std::shared_ptr<TransportCache> cache_ = std::make_shared<TransportCache>();
};

}  // namespace

std::shared_ptr<wmi::Backend> makeWinRmBackend(TransportFor transportFor, WalkOptions options) {
    return std::make_shared<WinRmBackend>(std::move(transportFor), std::move(options));
}

}  // namespace tavo::winrm
