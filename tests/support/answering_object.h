#pragma once

// An object that answers every property, for checks over the report
// definitions: every read gives the number 3 (an array of three 3s when read
// by entry), and every name asked for is remembered. A definition that reads
// a property under a wrong name still gets a value here, so the names are
// checked against the schema separately.

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "collectors/management.h"

namespace tavo::testing {

class AnsweringObject : public wmi::Object {
  public:
    explicit AnsweringObject(std::shared_ptr<std::set<std::string>> asked = nullptr)
        : asked_(std::move(asked)) {}
    wmi::Value get(const std::string& name) const override {
        if (asked_) asked_->insert(name);
        return wmi::Value(3);
    }
    wmi::Value getAt(const std::string& name, int index) const override {
        if (asked_) asked_->insert(name);
        return wmi::Value(wmi::Value::Array{3, 3, 3}).at(index);
    }
    std::vector<std::string> propertyNames() const override { return {}; }

  private:
    std::shared_ptr<std::set<std::string>> asked_;
};

// A service whose every query yields one answering object.
class AnsweringBackend : public wmi::ConnectionFactory {
  public:
    std::shared_ptr<std::set<std::string>> asked = std::make_shared<std::set<std::string>>();
    std::vector<std::string> queries;

    std::unique_ptr<wmi::Connection> connect(const std::string&) override {
        return std::make_unique<Connection>(*this);
    }

  private:
    struct Results : wmi::ResultSet {
        std::shared_ptr<std::set<std::string>> asked;
        bool given = false;
        std::unique_ptr<wmi::Object> next() override {
            if (given) return nullptr;
            given = true;
            return std::make_unique<AnsweringObject>(asked);
        }
    };
    struct Connection : wmi::Connection {
        AnsweringBackend& owner;
        explicit Connection(AnsweringBackend& o) : owner(o) {}
        std::unique_ptr<wmi::ResultSet> execQuery(const std::string& query) override {
            owner.queries.push_back(query);
            auto r = std::make_unique<Results>();
            r->asked = owner.asked;
            return r;
        }
    };
};

}  // namespace tavo::testing
