#pragma once

// Local path text rules. Paths are UTF-8: the separators are ASCII bytes, which never occur
// inside a multi-byte character, so the rules work on bytes without splitting characters.

#include <string>
#include <string_view>

enum class PathStyle
{
    Posix,   // "/" only; names compare exactly
    Windows, // "\" and ":" (drive); ASCII letters compare without regard to case
};

/// The style of the local file system this program runs on (Posix on Linux).
PathStyle NativePathStyle();

/// True when c separates path components in style: "/" (Posix), "\" or ":" (Windows).
bool IsPathSeparator(PathStyle style, char c);

/// The directory separator that path text is joined with: "/" (Posix), "\" (Windows).
char PathDelimiter(PathStyle style);

/// The directory part of path: the text up to and including its last separator, without that
/// separator when it is a "\" or "/" that follows an ordinary character. So "C:\site\a.html"
/// gives "C:\site", "C:\a.html" gives "C:\", "C:a.html" gives "C:", "\\server\share\a.html"
/// gives "\\server\share", "/a.html" gives "/". Empty when path holds no separator.
std::string ExtractFileDir(PathStyle style, std::string_view path);

/// The file name: the text after the last separator (all of path when it holds none).
std::string ExtractFileName(PathStyle style, std::string_view path);

/// The extension: from the last "." after the last separator, dot included; empty otherwise.
std::string ExtractFileExt(PathStyle style, std::string_view path);

/// True when path ends with a directory separator ("/" Posix, "\" Windows).
bool HasTrailingDelimiter(PathStyle style, std::string_view path);

/// The key under which path is filed for duplicate tests: path itself (Posix), or path with
/// ASCII letters made lower-case (Windows). Same length in bytes as path.
std::string FoldPathKey(PathStyle style, std::string_view path);

/// Whether a and b name the same queued path: exact (Posix), ASCII case-insensitive (Windows).
bool SamePathText(PathStyle style, std::string_view a, std::string_view b);

/// Whether path begins with prefix under the style's comparison.
bool PathStartsWith(PathStyle style, std::string_view path, std::string_view prefix);
