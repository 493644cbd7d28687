// Host options: named settings with a default, declared by the module with
// MakeOption and set by the user (the tool's --option NAME=VALUE).
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "YString.h"

// The option's current value, or its default when it was never set; 0 / ""
// for an option nobody declared or set. Names compare case-insensitively.
int sp_GetIntOption(const char* name);
double sp_GetDoubleOption(const char* name);
YString sp_GetStringOption(const char* name);
// The same, telling whether anyone declared or set the option.
YString sp_GetStringOption(const char* name, bool& found);

// The store of options is the core's: it hands its look-up (the current
// value or the default, nullopt for an unknown name) down to these readers
// when it starts. Until then every option reads as unknown.
namespace cv {
using OptionLookup = std::optional<std::string> (*)(std::string_view name);
void setOptionLookup(OptionLookup lookup);
}  // namespace cv
