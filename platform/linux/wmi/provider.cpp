#include "platform/linux/wmi/provider.h"

#include <exception>
#include <utility>
#include <vector>

#include "grid/error.h"
#include "platform/linux/wmi/empty_reasons.h"
#include "platform/linux/wmi/instance.h"
#include "platform/linux/wmi/registry.h"
#include "platform/linux/wmi/wql.h"
#include "support/text.h"

namespace tavo::linuxwmi {

namespace {

class InstanceObject : public wmi::Object {
  public:
    explicit InstanceObject(Instance instance) : instance_(std::move(instance)) {}

    wmi::Value get(const std::string& name) const override {
        // The system property a script reads to learn an object's own class
        // (a query of an abstract class yields its subclasses' objects).
        if (text::equalsIgnoreCase(name, "__CLASS"))
            return wmi::Value(std::string(instance_.classDef().name));
        const wmi::Value* v = instance_.find(name);
        if (!v) {
            throw Error(errc::kNotFound, "Not found: " + std::string(instance_.classDef().name) +
                                             " has no property \"" + name + "\"");
        }
        return *v;
    }

    std::vector<std::string> propertyNames() const override {
        std::vector<std::string> names;
        const auto& props = instance_.classDef().properties;
        names.reserve(props.size());
        for (const auto& p : props) names.emplace_back(p.name);
        return names;
    }

    wmi::Value getAt(const std::string& name, int index) const override {
        const wmi::Value* v = instance_.find(name);
        if (!v) {
            throw Error(errc::kNotFound, "Not found: " + std::string(instance_.classDef().name) +
                                             " has no property \"" + name + "\"");
        }
        return v->at(index);
    }

  private:
    Instance instance_;
};

// Runs the query when the walk starts, as a script sees WMI answer: a bad
// query or an unknown class fails on the first fetch, not at ExecQuery.
class InstanceResultSet : public wmi::ResultSet {
  public:
    InstanceResultSet(std::shared_ptr<ClassPass> passes, std::shared_ptr<const Registry> registry,
                      std::string query)
        : passes_(std::move(passes)), registry_(std::move(registry)), query_(std::move(query)) {}

    std::unique_ptr<wmi::Object> next() override {
        if (!started_) {
            started_ = true;
            run();
        }
        while (pos_ < instances_.size()) {
            Instance& inst = instances_[pos_++];
            if (condition_) {
                const wmi::Value* v = inst.find(condition_->property);
                if (!v || !wqlEquals(*v, condition_->literal)) continue;
            }
            return std::make_unique<InstanceObject>(std::move(inst));
        }
        instances_.clear();
        return nullptr;
    }

    std::string emptyReason() const override {
        return started_ && !produced_ && !className_.empty() ? notes_.whyEmpty : std::string();
    }
    std::string lostValues() const override { return started_ ? notes_.lost : std::string(); }

  private:
    void run() {
        WqlQuery q = parseWql(query_);
        const schema::ClassDef* cls = schema::findClass(q.className);
        const Producer* producer = registry_->find(q.className);
        if (!cls || !producer) {
            throw Error(errc::kInvalidClass,
                        "Invalid class: this computer's management provider "
                        "has no class \"" +
                            q.className + "\"");
        }
        if (q.where && cls->indexOf(q.where->property) < 0) {
            throw Error(errc::kInvalidQuery, "Invalid query \"" + query_ +
                                                 "\": " + std::string(cls->name) +
                                                 " has no property \"" + q.where->property + "\"");
        }
        condition_ = std::move(q.where);
        className_ = std::string(cls->name);
        try {
            instances_ = passes_->run(cls->name, *producer, notes_);
            produced_ = !instances_.empty();
        } catch (const Error&) {
            throw;
        } catch (const std::exception& e) {
            throw Error(errc::kFailed,
                        "Generic failure reading " + std::string(cls->name) + ": " + e.what());
        }
    }

    std::shared_ptr<ClassPass> passes_;
    std::shared_ptr<const Registry> registry_;
    std::string query_;
    PassNotes notes_;
    bool started_ = false;
    bool produced_ = false;  // the class had any instance, before the condition
    std::string className_;
    std::optional<WqlQuery::Condition> condition_;
    std::vector<Instance> instances_;
    std::size_t pos_ = 0;
};

class ProviderConnection : public wmi::Connection {
  public:
    ProviderConnection(std::shared_ptr<ClassPass> passes, std::shared_ptr<const Registry> registry)
        : passes_(std::move(passes)), registry_(std::move(registry)) {}

    std::unique_ptr<wmi::ResultSet> execQuery(const std::string& query) override {
        return std::make_unique<InstanceResultSet>(passes_, registry_, query);
    }

  private:
    std::shared_ptr<ClassPass> passes_;
    std::shared_ptr<const Registry> registry_;
};

class ProviderBackend : public wmi::Backend {
  public:
    ProviderBackend(std::shared_ptr<ClassPass> passes, std::shared_ptr<const Registry> registry)
        : passes_(std::move(passes)), registry_(std::move(registry)) {}

    std::unique_ptr<wmi::Connection> connect(const std::string&) override {
        return std::make_unique<ProviderConnection>(passes_, registry_);
    }

  private:
    std::shared_ptr<ClassPass> passes_;
    std::shared_ptr<const Registry> registry_;
};

// The classes read straight from one context.
class ContextPass : public ClassPass {
  public:
    explicit ContextPass(SystemContext context) : context_(std::move(context)) {}
    std::vector<Instance> run(std::string_view className, const Producer& producer,
                              PassNotes& notes) override {
        // A log of its own for each pass: passes of several reports may run at once.
        SystemContext ctx = context_;
        ctx.lost = std::make_shared<LostValues>();
        auto out = producer(ctx);
        if (out.empty()) notes.whyEmpty = whyNoInstances(className, ctx);
        notes.lost = ctx.lost->summary();
        return out;
    }

  private:
    const SystemContext context_;
};

}  // namespace

std::shared_ptr<wmi::Backend> makeProviderOver(std::shared_ptr<ClassPass> passes,
                                               std::shared_ptr<const Registry> registry) {
    return std::make_shared<ProviderBackend>(std::move(passes), std::move(registry));
}

std::shared_ptr<wmi::Backend> makeProvider(SystemContext context) {
    // The built-in registry lives for the whole program; no ownership to share.
    return makeProvider(std::move(context), std::shared_ptr<const Registry>(std::shared_ptr<void>(),
                                                                            &Registry::instance()));
}

std::shared_ptr<wmi::Backend> makeProvider(SystemContext context,
                                           std::shared_ptr<const Registry> registry) {
    return makeProviderOver(std::make_shared<ContextPass>(std::move(context)), std::move(registry));
}

}  // namespace tavo::linuxwmi
