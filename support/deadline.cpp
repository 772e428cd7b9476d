#include "support/deadline.h"

#include <set>

namespace tavo::deadline {

namespace {
// Never destroyed: a call stuck at exit still clears its name after the
// static destructors would have run.
std::mutex& gMutex = *new std::mutex;
std::set<std::string>& gOut = *new std::set<std::string>;
}  // namespace

bool tryBegin(const std::string& resource) {
    std::lock_guard lock(gMutex);
    return gOut.insert(resource).second;
}

void end(const std::string& resource) {
    std::lock_guard lock(gMutex);
    gOut.erase(resource);
}

bool busy(const std::string& resource) {
    std::lock_guard lock(gMutex);
    return gOut.count(resource) != 0;
}

}  // namespace tavo::deadline
