#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "collectors/management.h"
#include "platform/linux/winrm/reply_parser.h"
#include "schema/schema.h"

// Instances from enumeration replies as the objects the collectors read.
// The XML cannot tell a one-element array from a scalar, an omitted array
// from an absent property, or a number from a string, so every value is
// typed from the class table the built-in provider carries.
namespace tavo::winrm {

class ObjectMaker {
  public:
    // `queriedClass`: the class after FROM, for projections (whose
    // fragments name no class) and for subclasses the table lacks.
    explicit ObjectMaker(std::string queriedClass);
    ~ObjectMaker();
    ObjectMaker(const ObjectMaker&) = delete;
    ObjectMaker& operator=(const ObjectMaker&) = delete;

    std::unique_ptr<wmi::Object> make(ReplyItem item);

    struct Layout;

  private:
    std::string queriedClass_;
    // One layout per class and set of properties the table lacks: instances
    // of one class share it, so a page of them costs no lookups per name.
    std::map<std::string, std::shared_ptr<const Layout>> layouts_;
};

// The value of one property's XML occurrence as its CIM type reads it;
// without a type (a property the table lacks) the text as it came.
wmi::Value typedValue(const ReplyProperty& p, std::optional<schema::CimType> type);

// The class after FROM in a WQL query, or "".
std::string classOfQuery(std::string_view wql);

}  // namespace tavo::winrm
