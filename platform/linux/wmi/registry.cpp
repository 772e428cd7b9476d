#include "platform/linux/wmi/registry.h"

namespace tavo::linuxwmi {

void Registry::add(std::string_view className, Producer producer) {
    producers_.emplace_back(className, std::move(producer));
}

const Producer* Registry::find(std::string_view className) const {
    for (const auto& [name, producer] : producers_) {
        if (equalsIgnoreCase(name, className)) return &producer;
    }
    return nullptr;
}

const Registry& Registry::instance() {
    static const Registry registry = [] {
        Registry r;
        registerCoreClasses(r);
        registerSystemClasses(r);
        registerInventoryClasses(r);
        registerServiceClasses(r);
        return r;
    }();
    return registry;
}

}  // namespace tavo::linuxwmi
