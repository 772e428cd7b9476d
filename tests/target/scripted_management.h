#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "collectors/management.h"
#include "grid/error.h"

namespace tavo::testing::scripted {

using tavo::wmi::Value;

// Just enough of the management interface to script adapters and failures.
struct Script {
    std::vector<std::map<std::string, Value>> adapters;
    bool failConnect = false;
    std::vector<std::string> monikers;
    std::vector<std::string> queries;
    std::vector<std::string> releases;  // "results", "connection" as they go
};

class ScriptedObject : public tavo::wmi::Object {
public:
    explicit ScriptedObject(std::map<std::string, Value> props) : props_(std::move(props)) {}
    Value get(const std::string& name) const override {
        auto it = props_.find(name);
        if (it == props_.end()) throw tavo::Error(tavo::errc::kNotFound, "no " + name);
        return it->second;
    }
    std::vector<std::string> propertyNames() const override {
        std::vector<std::string> names;
        for (const auto& [name, value] : props_) names.push_back(name);
        return names;
    }

private:
    std::map<std::string, Value> props_;
};

class ScriptedResults : public tavo::wmi::ResultSet {
public:
    explicit ScriptedResults(Script& s) : s_(s) {}
    ~ScriptedResults() override { s_.releases.push_back("results"); }
    std::unique_ptr<tavo::wmi::Object> next() override {
        if (next_ >= s_.adapters.size()) return nullptr;
        return std::make_unique<ScriptedObject>(s_.adapters[next_++]);
    }

private:
    Script& s_;
    std::size_t next_ = 0;
};

class ScriptedConnection : public tavo::wmi::Connection {
public:
    explicit ScriptedConnection(Script& s) : s_(s) {}
    ~ScriptedConnection() override { s_.releases.push_back("connection"); }
    std::unique_ptr<tavo::wmi::ResultSet> execQuery(const std::string& query) override {
        s_.queries.push_back(query);
        return std::make_unique<ScriptedResults>(s_);
    }

private:
    Script& s_;
};

class ScriptedFactory : public tavo::wmi::ConnectionFactory {
public:
    explicit ScriptedFactory(Script& s) : s_(s) {}
    std::unique_ptr<tavo::wmi::Connection> connect(const std::string& moniker) override {
        s_.monikers.push_back(moniker);
        if (s_.failConnect)
            throw tavo::Error(tavo::errc::kServerUnavailable, "The computer is unavailable");
        return std::make_unique<ScriptedConnection>(s_);
    }

private:
    Script& s_;
};

}  // namespace tavo::testing::scripted
