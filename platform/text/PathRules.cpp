#include "PathRules.h"

namespace {

char FoldAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Index of the last separator in path, or npos.
std::size_t LastSeparator(PathStyle style, std::string_view path)
{
    for (std::size_t i = path.size(); i > 0; --i) {
        if (IsPathSeparator(style, path[i - 1]))
            return i - 1;
    }
    return std::string_view::npos;
}

} // namespace

PathStyle NativePathStyle()
{
#ifdef _WIN32
    return PathStyle::Windows;
#else
    return PathStyle::Posix;
#endif
}

bool IsPathSeparator(PathStyle style, char c)
{
    if (style == PathStyle::Windows)
        return c == '\\' || c == ':';
    return c == '/';
}

char PathDelimiter(PathStyle style)
{
    return style == PathStyle::Windows ? '\\' : '/';
}

std::string ExtractFileDir(PathStyle style, std::string_view path)
{
    const std::size_t sep = LastSeparator(style, path);
    if (sep == std::string_view::npos)
        return {};
    std::size_t end = sep + 1;
    // "C:\site\" -> "C:\site", but "C:\", "\\" and a leading "\" keep their separator.
    if (path[sep] == PathDelimiter(style) && sep > 0 && !IsPathSeparator(style, path[sep - 1]))
        end = sep;
    return std::string(path.substr(0, end));
}

std::string ExtractFileName(PathStyle style, std::string_view path)
{
    const std::size_t sep = LastSeparator(style, path);
    return std::string(sep == std::string_view::npos ? path : path.substr(sep + 1));
}

std::string ExtractFileExt(PathStyle style, std::string_view path)
{
    const std::string_view name = [&] {
        const std::size_t sep = LastSeparator(style, path);
        return sep == std::string_view::npos ? path : path.substr(sep + 1);
    }();
    const std::size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string() : std::string(name.substr(dot));
}

bool HasTrailingDelimiter(PathStyle style, std::string_view path)
{
    return !path.empty() && path.back() == PathDelimiter(style);
}

std::string FoldPathKey(PathStyle style, std::string_view path)
{
    std::string key(path);
    if (style == PathStyle::Windows) {
        for (char& c : key)
            c = FoldAscii(c);
    }
    return key;
}

bool SamePathText(PathStyle style, std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    if (style == PathStyle::Posix)
        return a == b;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i]))
            return false;
    }
    return true;
}

bool PathStartsWith(PathStyle style, std::string_view path, std::string_view prefix)
{
    return path.size() >= prefix.size() &&
           SamePathText(style, path.substr(0, prefix.size()), prefix);
}
