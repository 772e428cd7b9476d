#include "platform/linux/winrm/wsman_object.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "grid/error.h"
#include "platform/linux/winrm/dmtf.h"
#include "support/text.h"

namespace tavo::winrm {

using schema::CimType;

struct ObjectMaker::Layout {
    std::vector<std::string> names;  // in the order Properties_ lists them
    std::vector<std::optional<schema::CimType>> types;
    std::vector<bool> arrays;
    std::unordered_map<std::string, int> byLower;

    void add(std::string name, std::optional<schema::CimType> type, bool isArray) {
        byLower.emplace(text::toLower(name), static_cast<int>(names.size()));
        names.push_back(std::move(name));
        types.push_back(type);
        arrays.push_back(isArray);
    }
};

namespace {

wmi::Value integer(const std::string& raw) {
    // Text that is not a number stays text: shown as it came, not lost.
    if (auto n = text::wholeNumber<std::int64_t>(text::trim(raw))) return wmi::Value(*n);
    return wmi::Value(raw);
}

wmi::Value real(const std::string& raw, bool single) {
    // XML Schema spells the specials INF, -INF and NaN; from_chars reads them.
    const auto parsed = text::wholeNumber<double>(text::trim(raw));
    if (!parsed) return wmi::Value(raw);
    double d = *parsed;
    if (single) {
        // A real32 as the shortest decimal of the float, as over COM.
        char buf[64];
        const float f = static_cast<float>(d);
        const auto [fend, fec] = std::to_chars(buf, buf + sizeof buf, f);
        if (fec == std::errc()) std::from_chars(buf, fend, d);
    }
    return wmi::Value(d);
}

wmi::Value datetime(const ReplyProperty& p) {
    std::optional<std::string> dmtf;
    const std::string_view t = text::trim(p.text);
    switch (p.form) {
        case ValueForm::Interval:
            dmtf = dmtfFromXsDuration(t);
            break;
        case ValueForm::Date:
            dmtf = dmtfFromXsDate(t);
            break;
        case ValueForm::Time:
            dmtf = dmtfFromXsTime(t);
            break;
        default:
            // cim:Datetime, or bare text from a server that left the wrapper out.
            dmtf = dmtfFromXsDateTime(t);
            if (!dmtf) dmtf = dmtfFromXsDuration(t);
    }
    // Already DMTF, or something else: kept as it came.
    return dmtf ? wmi::Value(std::move(*dmtf)) : wmi::Value(p.text);
}

}  // namespace

wmi::Value typedValue(const ReplyProperty& p, std::optional<schema::CimType> type) {
    if (p.form == ValueForm::Nil || p.form == ValueForm::Complex) return wmi::Value::null();
    if (p.form != ValueForm::Text) return datetime(p);
    if (!type) return wmi::Value(p.text);
    switch (*type) {
        case schema::CimType::String:
            return wmi::Value(p.text);
        case schema::CimType::Boolean: {
            const std::string_view t = text::trim(p.text);
            if (t == "true" || t == "1") return wmi::Value(true);
            if (t == "false" || t == "0") return wmi::Value(false);
            return wmi::Value(p.text);
        }
        case schema::CimType::UInt8:
        case schema::CimType::UInt16:
        case schema::CimType::UInt32:
        case schema::CimType::SInt8:
        case schema::CimType::SInt16:
        case schema::CimType::SInt32:
            return integer(p.text);
        case schema::CimType::UInt64:
        case schema::CimType::SInt64:
            // As over COM: decimal text, so no value wraps.
            return wmi::Value(std::string(text::trim(p.text)));
        case schema::CimType::Real32:
            return real(p.text, true);
        case schema::CimType::Real64:
            return real(p.text, false);
        case schema::CimType::DateTime:
            return datetime(p);
    }
    return wmi::Value(p.text);
}

std::string classOfQuery(std::string_view wql) {
    const std::string lower = text::toLower(wql);
    auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    for (std::size_t at = lower.find("from"); at != std::string::npos;
         at = lower.find("from", at + 4)) {
        if (at > 0 && !space(lower[at - 1])) continue;
        if (at + 4 >= lower.size() || !space(lower[at + 4])) continue;
        std::size_t start = at + 4;
        while (start < wql.size() && space(wql[start])) ++start;
        std::size_t end = start;
        while (end < wql.size() &&
               (std::isalnum(static_cast<unsigned char>(wql[end])) || wql[end] == '_'))
            ++end;
        return std::string(wql.substr(start, end - start));
    }
    return {};
}

namespace {

class WsmanObject : public wmi::Object {
  public:
    WsmanObject(std::string className, std::shared_ptr<const ObjectMaker::Layout> layout,
                std::vector<wmi::Value> values)
        : className_(std::move(className)),
          layout_(std::move(layout)),
          values_(std::move(values)) {}

    wmi::Value get(const std::string& name) const override {
        // The system property a script reads for an object's own class.
        if (text::equalsIgnoreCase(name, "__CLASS")) return wmi::Value(className_);
        const auto it = layout_->byLower.find(text::toLower(name));
        if (it == layout_->byLower.end()) {
            throw Error(errc::kNotFound,
                        "Not found: " + className_ + " has no property \"" + name + "\"");
        }
        return values_[static_cast<std::size_t>(it->second)];
    }

    std::vector<std::string> propertyNames() const override { return layout_->names; }

  private:
    std::string className_;
    std::shared_ptr<const ObjectMaker::Layout> layout_;
    std::vector<wmi::Value> values_;
};

}  // namespace

ObjectMaker::ObjectMaker(std::string queriedClass) : queriedClass_(std::move(queriedClass)) {}
ObjectMaker::~ObjectMaker() = default;

std::unique_ptr<wmi::Object> ObjectMaker::make(ReplyItem item) {
    const bool projection = item.className.empty();
    std::string className = projection ? queriedClass_ : std::move(item.className);
    // A subclass the table lacks is typed as the class queried, its own
    // properties as text.
    const schema::ClassDef* cls = schema::findClass(className);
    if (!cls) cls = schema::findClass(queriedClass_);

    // The names this instance brings that the class lacks (or, for a
    // projection or an unknown class, all of them) make the layout's key.
    std::string key = className;
    key += projection ? "|projection|" : "|";
    std::vector<const ReplyProperty*> own;
    for (const ReplyProperty& p : item.properties) {
        const bool known = cls && !projection && cls->indexOf(p.name) >= 0;
        if (known) continue;
        const bool seen = std::any_of(own.begin(), own.end(), [&](const ReplyProperty* q) {
            return text::equalsIgnoreCase(q->name, p.name);
        });
        if (seen) continue;
        own.push_back(&p);
        key += p.name;
        key += ',';
    }

    auto& slot = layouts_[key];
    if (!slot) {
        auto layout = std::make_shared<Layout>();
        auto typeOf =
            [&](std::string_view name) -> std::pair<std::optional<schema::CimType>, bool> {
            if (!cls) return {std::nullopt, false};
            const int i = cls->indexOf(name);
            if (i < 0) return {std::nullopt, false};
            const auto& def = cls->properties[static_cast<std::size_t>(i)];
            return {def.type, def.isArray};
        };
        if (projection || !cls) {
            // Only what came, in the order it came, as a projection lists it.
            for (const ReplyProperty* p : own) {
                const auto [type, isArray] = typeOf(p->name);
                layout->add(p->name, type, isArray);
            }
        } else {
            std::vector<std::pair<std::string, std::pair<std::optional<schema::CimType>, bool>>>
                all;
            for (const auto& def : cls->properties)
                all.push_back({std::string(def.name), {def.type, def.isArray}});
            for (const ReplyProperty* p : own) all.push_back({p->name, {std::nullopt, false}});
            if (!own.empty()) {
                // Properties_ lists names alphabetically, a subclass's with the rest.
                std::stable_sort(all.begin(), all.end(), [](const auto& a, const auto& b) {
                    return text::toLower(a.first) < text::toLower(b.first);
                });
            }
            for (auto& [name, t] : all) layout->add(std::move(name), t.first, t.second);
        }
        slot = std::move(layout);
    }
    const Layout& layout = *slot;

    // Occurrences by property: an array repeats its element.
    const std::size_t n = layout.names.size();
    std::vector<int> first(n, -1);
    std::vector<int> count(n, 0);
    std::vector<int> index(item.properties.size(), -1);
    for (std::size_t k = 0; k < item.properties.size(); ++k) {
        const auto it = layout.byLower.find(text::toLower(item.properties[k].name));
        if (it == layout.byLower.end()) continue;
        index[k] = it->second;
        if (first[static_cast<std::size_t>(it->second)] < 0)
            first[static_cast<std::size_t>(it->second)] = static_cast<int>(k);
        ++count[static_cast<std::size_t>(it->second)];
    }

    // Absent is null, for scalars and for arrays (a null or empty array is
    // omitted): what WMI over COM gives for both.
    std::vector<wmi::Value> values(n, wmi::Value::null());
    for (std::size_t i = 0; i < n; ++i) {
        if (count[i] == 0) continue;
        const ReplyProperty& p0 = item.properties[static_cast<std::size_t>(first[i])];
        if (!layout.arrays[i] && count[i] == 1) {
            values[i] = typedValue(p0, layout.types[i]);
            continue;
        }
        if (count[i] == 1 && p0.form == ValueForm::Nil) continue;  // a null array
        // An array, or a scalar the server repeated: every value is kept.
        wmi::Value::Array entries;
        entries.reserve(static_cast<std::size_t>(count[i]));
        for (std::size_t k = static_cast<std::size_t>(first[i]); k < item.properties.size(); ++k) {
            if (index[k] == static_cast<int>(i))
                entries.push_back(typedValue(item.properties[k], layout.types[i]));
        }
        values[i] = wmi::Value(std::move(entries));
    }
    return std::make_unique<WsmanObject>(std::move(className), slot, std::move(values));
}

}  // namespace tavo::winrm
