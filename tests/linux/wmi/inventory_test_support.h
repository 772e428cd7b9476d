#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/wmi/instance.h"
#include "platform/linux/wmi/system_context.h"

namespace tavo::linuxwmi::inventory_test {

inline SystemContext fixture(std::string_view name) {
    SystemContext ctx;
    ctx.root = std::filesystem::path(TAVO_TEST_DATA) / "inventory" / name;
    return ctx;
}

// A fresh empty folder for trees a test builds itself; removed with the object.
class TempTree {
  public:
    TempTree() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tavo-inv-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        root_ = pattern;
    }
    ~TempTree() {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    const std::filesystem::path& root() const { return root_; }
    SystemContext context() const {
        SystemContext ctx;
        ctx.root = root_;
        return ctx;
    }
    // Writes `content` at `absolute` under the root, making its folders.
    std::filesystem::path write(std::string_view absolute, std::string_view content) const;

  private:
    std::filesystem::path root_;
};

// The value of a property, failing the test when the class lacks it.
const wmi::Value& prop(const Instance& i, std::string_view name);
// The instance whose `key` property is the text `value`; fails when none is.
const Instance& byKey(const std::vector<Instance>& all, std::string_view key,
                      std::string_view value);

// Every value of the instance checked against its property's CIM type:
// null, or the form a script receives for that type.
void expectCimTypes(const Instance& i);

}  // namespace tavo::linuxwmi::inventory_test
