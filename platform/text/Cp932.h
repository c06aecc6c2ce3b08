#pragma once

#include <optional>
#include <string>
#include <string_view>

// Conversions between UTF-8, the program's inner text, and CP932, the text of the files it keeps.
// They go through glibc's iconv under the name "CP932", which keeps 0x5C as the backslash and
// 0x7E as the tilde. A few characters have two forms that CP932 holds as one code; they are
// written and come back in their Microsoft form: U+301C, U+2212, U+2016, U+2014, U+00A2, U+00A3
// and U+00AC come back as U+FF5E, U+FF0D, U+2225, U+2015, U+FFE0, U+FFE1 and U+FFE2.

/// Converts CP932 bytes to UTF-8. Returns nullopt when the bytes are not valid CP932, including a
/// double-byte character cut off at the end.
std::optional<std::string> Cp932ToUtf8(std::string_view cp932);

/// Converts CP932 bytes to UTF-8, putting U+FFFD in place of each byte that does not start a
/// valid character. Never fails.
std::string Cp932ToUtf8Lossy(std::string_view cp932);

/// Converts UTF-8 text to CP932. Returns nullopt when the text is not valid UTF-8 or holds a
/// character that CP932 has no code for (é, 𠮷) or would not give back (¥, which glibc would
/// write as the backslash 0x5C).
std::optional<std::string> Utf8ToCp932(std::string_view utf8);

/// Whether the byte starts a double-byte character of CP932 (0x81 to 0x9F, 0xE0 to 0xFC).
constexpr bool IsCp932LeadByte(unsigned char b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

/// Whether the byte can be the second byte of a double-byte character of CP932 (0x40 to 0x7E,
/// 0x80 to 0xFC). ASCII letters, "[", "\" and "]" are among them.
constexpr bool IsCp932TrailByte(unsigned char b)
{
    return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}
