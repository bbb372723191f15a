#include "MemorySettingsStore.h"

#include "ScrollConfig.h"

namespace quillmere {

SettingsValue MemorySettingsStore::object(std::string_view key) const {
    auto it = values_.find(key);
    return it == values_.end() ? SettingsValue{} : it->second;
}

// The two readers below avoid copying the value.
double MemorySettingsStore::doubleValue(std::string_view key) const {
    auto it = values_.find(key);
    return it == values_.end() ? 0.0 : SettingsValues::toDouble(it->second);
}

std::optional<bool> MemorySettingsStore::boolValue(std::string_view key) const {
    auto it = values_.find(key);
    if (it == values_.end())
        return std::nullopt;
    if (const bool* flag = std::get_if<bool>(&it->second))
        return *flag;
    return std::nullopt;
}

void MemorySettingsStore::setBool(std::string_view key, bool value) {
    setObject(key, value);
}

void MemorySettingsStore::setObject(std::string_view key, SettingsValue value) {
    if (std::holds_alternative<std::monostate>(value)) {
        if (auto it = values_.find(key); it != values_.end())
            values_.erase(it);
    } else if (auto it = values_.find(key); it == values_.end()) {
        values_.emplace(std::string(key), std::move(value));
    } else {
        it->second = std::move(value);
    }
    ScrollConfig::storeChanged(*this);
}

void MemorySettingsStore::clear() {
    values_.clear();
    ScrollConfig::storeChanged(*this);
}

} // namespace quillmere
