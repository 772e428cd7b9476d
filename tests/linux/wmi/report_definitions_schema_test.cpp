// Every class a report asks for is one the provider knows, and every
// property a report reads (by column or by lamp rule) is a property of it.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>

#include "collectors/report_definition.h"
#include "schema/schema.h"
#include "support/answering_object.h"

namespace tavo::linuxwmi {
namespace {

TEST(ReportDefinitionsSchema, EveryClassAndEveryPropertyReadIsInTheSchema) {
    for (const auto& r : reportDefinitions()) {
        if (r.managementClass.empty()) continue;
        SCOPED_TRACE(std::string(r.category));
        const schema::ClassDef* cls = schema::findClass(r.managementClass);
        ASSERT_NE(cls, nullptr) << r.managementClass;

        auto asked = std::make_shared<std::set<std::string>>();
        testing::AnsweringObject object(asked);
        if (r.lamp) r.lamp(object);
        if (r.layout != ColumnLayout::PerProperty) {
            for (const auto& c : r.columns) {
                try {
                    cellText(c, object);
                } catch (const std::exception&) {
                }
            }
        }
        for (const auto& name : *asked) {
            // The generic lamp asks every class for its Status; a class
            // without one shows the warning lamp by design.
            if (r.layout == ColumnLayout::PerProperty && name == "Status") continue;
            EXPECT_GE(cls->indexOf(name), 0) << name;
        }
    }
}

}  // namespace
}  // namespace tavo::linuxwmi
