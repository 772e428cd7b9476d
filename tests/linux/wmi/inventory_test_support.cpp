#include "inventory_test_support.h"

#include <fstream>

#include "cim_type_check.h"

namespace tavo::linuxwmi::inventory_test {

std::filesystem::path TempTree::write(std::string_view absolute, std::string_view content) const {
    while (!absolute.empty() && absolute.front() == '/') absolute.remove_prefix(1);
    const auto p = root_ / absolute;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
    return p;
}

const wmi::Value& prop(const Instance& i, std::string_view name) {
    const wmi::Value* v = i.find(name);
    if (!v) {
        ADD_FAILURE() << i.classDef().name << " has no property " << name;
        static const wmi::Value kNull = wmi::Value::null();
        return kNull;
    }
    return *v;
}

const Instance& byKey(const std::vector<Instance>& all, std::string_view key,
                      std::string_view value) {
    for (const auto& i : all) {
        const wmi::Value& v = prop(i, key);
        if (v.isText() && v.text() == value) return i;
    }
    throw std::runtime_error("no instance with " + std::string(key) + " = " + std::string(value));
}

void expectCimTypes(const Instance& i) {
    const schema::ClassDef& cls = i.classDef();
    for (std::size_t k = 0; k < cls.properties.size(); ++k) {
        const schema::PropertyDef& p = cls.properties[k];
        EXPECT_EQ(testing::cimTypeMismatch(i.at(k), p.type, p.isArray), "")
            << cls.name << "." << p.name;
    }
}

}  // namespace tavo::linuxwmi::inventory_test
