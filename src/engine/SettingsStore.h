#pragma once
// The per-user settings store: a flat map from key to a Boolean, a number or
// a string. Readers apply their own defaults; nothing is registered.

#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace quillmere {

// Absent (monostate), Boolean, number or string.
using SettingsValue = std::variant<std::monostate, bool, double, std::string>;

class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    // The value stored under the key; monostate when absent.
    virtual SettingsValue object(std::string_view key) const = 0;
    // The key read as a number: a number as is, a Boolean as 1 or 0, a string
    // that is wholly a decimal number as that number, anything else 0.
    virtual double doubleValue(std::string_view key) const;
    // The string stored under the key; nothing when absent or not a string.
    virtual std::optional<std::string> string(std::string_view key) const;
    // A Boolean stored under the key, if one is.
    virtual std::optional<bool> boolValue(std::string_view key) const;

    virtual void setBool(std::string_view key, bool value) = 0;
    // Stores a value; monostate removes the key.
    virtual void setObject(std::string_view key, SettingsValue value) = 0;
};

namespace SettingsValues {
// The double-reading rule applied to one value.
double toDouble(const SettingsValue& value);
// Parses a string that is wholly a decimal number (optional sign, digits,
// optional fraction and exponent; surrounding blanks allowed).
std::optional<double> parseDecimal(std::string_view text);
} // namespace SettingsValues

} // namespace quillmere
