#include "platform/linux/wmi/registry.h"
#include "support/text.h"

namespace tavo::linuxwmi {

void Registry::add(std::string_view className, Producer producer) {
    producers_.emplace_back(className, std::move(producer));
}

const Producer* Registry::find(std::string_view className) const {
    for (const auto& [name, producer] : producers_) {
        if (text::equalsIgnoreCase(name, className)) return &producer;
    }
    return nullptr;
}

const Registry& Registry::instance() {
    static const Registry registry = [] {
        Registry r;
        registerClasses(r);
        return r;
    }();
    return registry;
}

}  // namespace tavo::linuxwmi
