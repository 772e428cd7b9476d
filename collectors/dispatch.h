#pragma once

#include <span>
#include <string_view>

namespace tavo {

enum class CollectorKind { DriveMon, NetMon, PrintMon, GetResults, ListComputers };

// One row of the category dispatch table.
struct DispatchEntry {
    std::string_view category;  // exact text of cmbFunction
    CollectorKind collector;
    std::string_view managementClass;  // for GetResults; empty otherwise
    bool onePass;
};

// The table in the order the tick tests it.
std::span<const DispatchEntry> dispatchTable();

// The entry whose category equals `category` exactly (case-sensitive), or nullptr.
const DispatchEntry* findDispatch(std::string_view category);

// The 23 categories in the order cmbFunction lists them.
std::span<const std::string_view> reportCategories();

}  // namespace tavo
