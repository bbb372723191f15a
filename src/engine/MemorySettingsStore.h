#pragma once
// A settings store held in memory: used by tests, benchmarks and as the
// fall-back before the app installs its file store.

#include "SettingsStore.h"

#include <functional>
#include <map>

namespace quillmere {

class MemorySettingsStore : public SettingsStore {
public:
    SettingsValue object(std::string_view key) const override;
    double doubleValue(std::string_view key) const override;
    std::optional<bool> boolValue(std::string_view key) const override;
    void setBool(std::string_view key, bool value) override;
    void setObject(std::string_view key, SettingsValue value) override;

    void clear();
    std::size_t size() const { return values_.size(); }

private:
    std::map<std::string, SettingsValue, std::less<>> values_;
};

} // namespace quillmere
