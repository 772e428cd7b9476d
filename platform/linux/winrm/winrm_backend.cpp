#include "platform/linux/winrm/winrm_backend.h"

#include <deque>
#include <map>
#include <mutex>

#include "grid/error.h"
#include "platform/linux/winrm/wsman_object.h"

namespace tavo::winrm {

namespace {

class WinRmResultSet : public wmi::ResultSet {
  public:
    WinRmResultSet(std::shared_ptr<SoapTransport> transport, const std::string& query,
                   const WalkOptions& options)
        : walk_(std::move(transport), query, options), maker_(classOfQuery(query)) {}

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

class WinRmConnection : public wmi::Connection {
  public:
    WinRmConnection(std::shared_ptr<SoapTransport> transport, WalkOptions options)
        : transport_(std::move(transport)), options_(std::move(options)) {}

    std::unique_ptr<wmi::ResultSet> execQuery(const std::string& query) override {
        return std::make_unique<WinRmResultSet>(transport_, query, options_);
    }

  private:
    std::shared_ptr<SoapTransport> transport_;
    WalkOptions options_;
};

class WinRmBackend : public wmi::Backend {
  public:
    WinRmBackend(TransportFor transportFor, WalkOptions options)
        : transportFor_(std::move(transportFor)), options_(std::move(options)) {}

    std::unique_ptr<wmi::Connection> connect(const std::string& computer) override {
        return std::make_unique<WinRmConnection>(transportOf(computer), options_);
    }

  private:
    std::shared_ptr<SoapTransport> transportOf(const std::string& computer) {
        // Names differ in case only as the user typed them.
        std::string key = computer;
        for (char& c : key)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
        {
            std::lock_guard lock(mutex_);
            if (auto it = transports_.find(key); it != transports_.end()) return it->second;
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
        std::lock_guard lock(mutex_);
        // Two passes that raced here share the first transport made.
        return transports_.emplace(key, std::move(made)).first->second;
    }

    TransportFor transportFor_;
    WalkOptions options_;
    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<SoapTransport>> transports_;
};

}  // namespace

std::shared_ptr<wmi::Backend> makeWinRmBackend(TransportFor transportFor, WalkOptions options) {
    return std::make_shared<WinRmBackend>(std::move(transportFor), std::move(options));
}

}  // namespace tavo::winrm
