#include "SettingsStore.h"

#include <cctype>
#include <charconv>
#include <cstdlib>

namespace quillmere {

namespace SettingsValues {

std::optional<double> parseDecimal(std::string_view text) {
    auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    if (text.empty())
        return std::nullopt;
    // Only plain decimal notation: no "nan", "inf", hexadecimal or other forms.
    std::size_t i = 0;
    if (text[i] == '+' || text[i] == '-')
        ++i;
    std::size_t digits = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
        ++i;
        ++digits;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return std::nullopt;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            ++i;
        std::size_t expDigits = 0;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
            ++i;
            ++expDigits;
        }
        if (expDigits == 0)
            return std::nullopt;
    }
    if (i != text.size())
        return std::nullopt;
    std::string copy(text);
    return std::strtod(copy.c_str(), nullptr);
}

double toDouble(const SettingsValue& value) {
    if (const double* number = std::get_if<double>(&value))
        return *number;
    if (const bool* flag = std::get_if<bool>(&value))
        return *flag ? 1.0 : 0.0;
    if (const std::string* text = std::get_if<std::string>(&value))
        return parseDecimal(*text).value_or(0.0);
    return 0.0;
}

} // namespace SettingsValues

double SettingsStore::doubleValue(std::string_view key) const {
    return SettingsValues::toDouble(object(key));
}

std::optional<std::string> SettingsStore::string(std::string_view key) const {
    SettingsValue value = object(key);
    if (std::string* text = std::get_if<std::string>(&value))
        return std::move(*text);
    return std::nullopt;
}

std::optional<bool> SettingsStore::boolValue(std::string_view key) const {
    SettingsValue value = object(key);
    if (const bool* flag = std::get_if<bool>(&value))
        return *flag;
    return std::nullopt;
}

} // namespace quillmere
