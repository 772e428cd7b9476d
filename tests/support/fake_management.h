#pragma once

// A scriptable stand-in for the management query service, for tests.
//
//   auto backend = std::make_shared<FakeBackend>();
//   backend->script("SELECT * FROM Win32_BIOS")
//       .add(FakeObject().with("Name", "BIOS 1").with("Status", "OK"));
//   FakeFactory factory(backend);            // checks and records monikers
//   auto conn = factory.connect(wmi::monikerFor("."));
//
// Objects keep their properties in the order given (that is the order of
// Properties_). A property can be made to fail when read; a script can fail
// the query or the walk after N objects; the backend can refuse to connect.
// The shared FakeLog records what was asked, in order.

#include <algorithm>
#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "collectors/management.h"
#include "grid/error.h"
#include "support/text.h"

namespace tavo::testing {

struct FakeLog {
    std::vector<std::string> monikers;   // as handed to FakeFactory
    std::vector<std::string> computers;  // as handed to FakeBackend::connect
    std::vector<std::string> queries;    // as handed to execQuery
    // "connect", "query", "release results", "release connection", in order.
    std::vector<std::string> events;
    int openConnections = 0;
    int openResultSets = 0;
    // Property reads ("Name" or "Name(2)"), to check what a collector asked.
    std::vector<std::string> reads;
};

class FakeObject : public wmi::Object {
  public:
    FakeObject() = default;

    // Adds (or replaces) a property, keeping first-added order.
    FakeObject& with(const std::string& name, wmi::Value value) {
        for (auto& p : props_) {
            if (text::equalsIgnoreCase(p.first, name)) {
                p.second = std::move(value);
                return *this;
            }
        }
        props_.emplace_back(name, std::move(value));
        return *this;
    }
    FakeObject& withNull(const std::string& name) { return with(name, wmi::Value::null()); }
    FakeObject& withArray(const std::string& name, std::vector<std::string> entries) {
        wmi::Value::Array a;
        for (auto& e : entries) a.emplace_back(std::move(e));
        return with(name, wmi::Value(std::move(a)));
    }
    // Reading this property (by name or by index) fails. The property is
    // still listed in Properties_ if it was added with with().
    FakeObject& failing(const std::string& name, std::uint32_t number = errc::kFailed) {
        failing_[text::toLower(name)] = number;
        return *this;
    }
    // Listing Properties_ fails.
    FakeObject& failingPropertyList() {
        failList_ = true;
        return *this;
    }

    wmi::Value get(const std::string& name) const override {
        record(name);
        return lookup(name);
    }
    wmi::Value getAt(const std::string& name, int index) const override {
        record(name + "(" + std::to_string(index) + ")");
        return lookup(name).at(index);
    }
    std::vector<std::string> propertyNames() const override {
        if (failList_) throw Error(errc::kFailed, "Generic failure listing Properties_");
        std::vector<std::string> names;
        for (const auto& p : props_) names.push_back(p.first);
        return names;
    }

    void attach(std::shared_ptr<FakeLog> log) { log_ = std::move(log); }

  private:
    void record(const std::string& what) const {
        if (log_) log_->reads.push_back(what);
    }
    wmi::Value lookup(const std::string& name) const {
        if (auto f = failing_.find(text::toLower(name)); f != failing_.end())
            throw Error(f->second, "Scripted failure reading " + name);
        for (const auto& p : props_)
            if (text::equalsIgnoreCase(p.first, name)) return p.second;
        throw Error(errc::kNotFound, "Not found: the object has no property " + name);
    }

    std::vector<std::pair<std::string, wmi::Value>> props_;
    std::map<std::string, std::uint32_t> failing_;
    bool failList_ = false;
    std::shared_ptr<FakeLog> log_;
};

// What one query answers.
struct FakeScript {
    std::vector<FakeObject> objects;
    std::optional<Error> queryError;  // execQuery throws this
    // next() throws after handing out this many objects (0: the first fetch fails).
    std::optional<std::size_t> failWalkAfter;
    // What the result set says when asked why it held nothing.
    std::string emptyReason;

    FakeScript& add(FakeObject o) {
        objects.push_back(std::move(o));
        return *this;
    }
    FakeScript& failQuery(std::uint32_t number = errc::kInvalidQuery,
                          std::string description = "Invalid query") {
        queryError = Error(number, std::move(description));
        return *this;
    }
    FakeScript& failWalk(std::size_t after) {
        failWalkAfter = after;
        return *this;
    }
};

class FakeResultSet : public wmi::ResultSet {
  public:
    FakeResultSet(FakeScript script, std::shared_ptr<FakeLog> log)
        : script_(std::move(script)), log_(std::move(log)) {
        ++log_->openResultSets;
    }
    ~FakeResultSet() override {
        --log_->openResultSets;
        log_->events.push_back("release results");
    }
    std::string emptyReason() const override { return script_.emptyReason; }
    std::unique_ptr<wmi::Object> next() override {
        if (script_.failWalkAfter && pos_ >= *script_.failWalkAfter)
            throw Error(errc::kFailed,
                        "Scripted failure fetching object " + std::to_string(pos_ + 1));
        if (pos_ >= script_.objects.size()) return nullptr;
        auto o = std::make_unique<FakeObject>(script_.objects[pos_++]);
        o->attach(log_);
        return o;
    }

  private:
    FakeScript script_;
    std::shared_ptr<FakeLog> log_;
    std::size_t pos_ = 0;
};

class FakeBackend;

class FakeConnection : public wmi::Connection {
  public:
    FakeConnection(std::map<std::string, FakeScript> scripts, std::shared_ptr<FakeLog> log)
        : scripts_(std::move(scripts)), log_(std::move(log)) {
        ++log_->openConnections;
    }
    ~FakeConnection() override {
        --log_->openConnections;
        log_->events.push_back("release connection");
    }
    std::unique_ptr<wmi::ResultSet> execQuery(const std::string& query) override {
        log_->queries.push_back(query);
        log_->events.push_back("query");
        auto s = scripts_.find(query);
        // A query nobody scripted behaves like a class the service lacks.
        if (s == scripts_.end()) throw Error(errc::kInvalidClass, "Invalid class: " + query);
        if (s->second.queryError) throw *s->second.queryError;
        return std::make_unique<FakeResultSet>(s->second, log_);
    }

  private:
    std::map<std::string, FakeScript> scripts_;
    std::shared_ptr<FakeLog> log_;
};

// Scripts are copied at connect time, so a test may change them between passes.
class FakeBackend : public wmi::Backend {
  public:
    std::shared_ptr<FakeLog> log = std::make_shared<FakeLog>();
    std::optional<Error> connectError;

    // The script for an exact query text (created empty on first use).
    FakeScript& script(const std::string& query) { return scripts_[query]; }
    void clearScripts() { scripts_.clear(); }
    void failConnect(std::uint32_t number = errc::kServerUnavailable,
                     std::string description = "The RPC server is unavailable.") {
        connectError = Error(number, std::move(description));
    }

    std::unique_ptr<wmi::Connection> connect(const std::string& computer) override {
        log->computers.push_back(computer);
        log->events.push_back("connect");
        if (connectError) throw *connectError;
        return std::make_unique<FakeConnection>(scripts_, log);
    }

  private:
    std::map<std::string, FakeScript> scripts_;
};

// A factory over one backend for every computer: it records each moniker and
// checks it is well formed, so a collector that builds a wrong moniker fails.
class FakeFactory : public wmi::ConnectionFactory {
  public:
    explicit FakeFactory(std::shared_ptr<FakeBackend> backend) : backend_(std::move(backend)) {}
    std::unique_ptr<wmi::Connection> connect(const std::string& moniker) override {
        backend_->log->monikers.push_back(moniker);
        return backend_->connect(wmi::parseMoniker(moniker));
    }

  private:
    std::shared_ptr<FakeBackend> backend_;
};

}  // namespace tavo::testing
