#pragma once

#include <memory>

#include "collectors/management.h"
#include "platform/linux/wmi/registry.h"
#include "platform/linux/wmi/system_context.h"

namespace tavo::linuxwmi {

// The built-in management provider: answers WQL about this computer (or the
// fixture tree in `context`) through the management query interface.
// Objects also answer the system property "__CLASS" with their own class.
std::shared_ptr<wmi::Backend> makeProvider(SystemContext context = SystemContext::forThisMachine());
// The same over another set of classes (tests of the engine itself).
std::shared_ptr<wmi::Backend> makeProvider(SystemContext context,
                                           std::shared_ptr<const Registry> registry);

// How one query's class gets its instances: straight from a context, or
// through rounds of fetching from another computer.
// What a pass says beside its instances.
struct PassNotes {
    std::string whyEmpty;  // when there is no instance, why, where known
    std::string lost;      // the values it could not read, counted; "" when none
};

class ClassPass {
  public:
    virtual ~ClassPass() = default;
    // Every instance of `className`, with what could not be read.
    virtual std::vector<Instance> run(std::string_view className, const Producer& producer,
                                      PassNotes& notes) = 0;
};
std::shared_ptr<wmi::Backend> makeProviderOver(std::shared_ptr<ClassPass> passes,
                                               std::shared_ptr<const Registry> registry);

}  // namespace tavo::linuxwmi
