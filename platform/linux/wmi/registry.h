#pragma once

#include <functional>
#include <string_view>
#include <vector>

#include "platform/linux/wmi/instance.h"
#include "platform/linux/wmi/system_context.h"

namespace tavo::linuxwmi {

// Produces every instance of one class from the system's sources. Must not
// throw for an absent source: an absent source means no instances or nulls.
using Producer = std::function<std::vector<Instance>(const SystemContext&)>;

class Registry {
  public:
    void add(std::string_view className, Producer producer);
    // The producer of a class by case-insensitive name, or nullptr.
    const Producer* find(std::string_view className) const;

    // Every class this provider answers: those whose producer the class
    // catalogue (schema/classes.json) names.
    static const Registry& instance();

  private:
    std::vector<std::pair<std::string_view, Producer>> producers_;
};

// Adds every producer the class catalogue names; generated from
// schema/classes.json by generate_registry.cmake.
void registerClasses(Registry& r);

}  // namespace tavo::linuxwmi
