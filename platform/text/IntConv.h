#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// The integer conversion the program applies to text typed by the user or read from the settings
// file: leading blanks (space, tab) are skipped, then an optional sign, then decimal digits, or
// hexadecimal digits after a leading "$", "x", "X", "0x" or "0X". Nothing may follow the number.
// Empty text, a sign or prefix without digits, and a number outside the 32-bit signed range are
// not integers.

/// Converts the text to an integer; nullopt when it is not one.
std::optional<std::int32_t> TryStrToInt(std::string_view text);

/// Converts the text to an integer; `defaultValue` when it is not one.
int StrToIntDef(std::string_view text, int defaultValue);

/// Converts the text to an integer; raises EConvertError "'%s' は整数ではありません" with the text
/// in place of %s when it is not one.
int StrToInt(std::string_view text);
