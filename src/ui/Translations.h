#pragma once
// The interface text tables: for every language its 23 texts as UTF-8. Only
// Localization.cpp and the tests look here; everyone else goes through L10n.

#include "ui/Localization.h"

#include <array>
#include <span>

namespace quillmere::Translations {

// One language's texts, one field per text key.
struct Texts {
    const char* enabled;
    const char* preferences;
    const char* checkForUpdates;
    const char* quit;
    const char* subtitle;
    const char* scrollDirection;
    const char* verticalScroll;
    const char* momentumScroll;
    const char* diagonalScroll;
    const char* horizontalScroll;
    const char* behavior;
    const char* reverseScroll;
    const char* smoothScroll;
    const char* scrollSpeed;
    const char* languageLabel;
    const char* launchAtLogin;
    const char* updateAvailable;
    const char* updateMessage; // holds "%@" where the version goes
    const char* noUpdateTitle;
    const char* noUpdateMessage;
    const char* download;
    const char* later;
    const char* visitWebsite;
};

// A text key is the field that holds it.
using Key = const char* Texts::*;

struct KeyInfo {
    const char* name; // the L10n function's name
    Key key;
};
inline constexpr std::size_t keyCount = 23;
// Every key in the order of the fields above.
const std::array<KeyInfo, keyCount>& allKeys();

struct Entry {
    Language language;
    Texts texts;
};

// The built-in table: one entry per language, in Languages::allCases() order.
std::span<const Entry> table();

// The key's text for the language in the given table. A language without an
// entry, or an entry whose text is missing or empty, answers with the English
// entry's text; "" only if English lacks it too.
const char* lookup(std::span<const Entry> entries, Language language, Key key);

} // namespace quillmere::Translations
