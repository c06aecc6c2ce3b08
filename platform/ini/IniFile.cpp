#include "IniFile.h"

#include "Cp932.h"
#include "IntConv.h"
#include "TextFile.h"

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <unistd.h>
#include <unordered_set>
#include <utility>

namespace {

enum class Encoding
{
    Cp932,
    Utf8
};

bool IsBlank(char c)
{
    // CR too: a stray CR before CR LF is not part of a value.
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view TrimBlanks(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// Length of the character that starts at `i`: 2 for a CP932 double-byte character, else 1.
// UTF-8 needs no such care: none of its multi-byte sequences holds an ASCII byte.
std::size_t CharLength(std::string_view s, std::size_t i, Encoding encoding)
{
    if (encoding == Encoding::Cp932 && i + 1 < s.size() &&
        IsCp932LeadByte(static_cast<unsigned char>(s[i])) &&
        IsCp932TrailByte(static_cast<unsigned char>(s[i + 1])))
        return 2;
    return 1;
}

char FoldAscii(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// The name with its single-byte ASCII letters in upper case; two names match when these agree.
std::string FoldedName(std::string_view name, Encoding encoding)
{
    std::string folded(name);
    for (std::size_t i = 0; i < folded.size();) {
        const std::size_t n = CharLength(name, i, encoding);
        if (n == 1)
            folded[i] = FoldAscii(folded[i]);
        i += n;
    }
    return folded;
}

bool NamesMatch(std::string_view a, std::string_view b, Encoding encoding)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size();) {
        const std::size_t n = CharLength(a, i, encoding);
        if (n == 2) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1])
                return false;
        } else if (FoldAscii(a[i]) != FoldAscii(b[i])) {
            return false;
        }
        i += n;
    }
    return true;
}

struct Line
{
    enum Kind
    {
        Other,
        Section,
        Key
    };
    std::size_t begin = 0;
    std::size_t contentEnd = 0; // before the CR LF or LF
    std::size_t next = 0;       // after it; equal to contentEnd on a last line without one
    Kind kind = Other;
    std::size_t nameBegin = 0, nameEnd = 0;   // section or key name, blanks trimmed
    std::size_t valueBegin = 0, valueEnd = 0; // key value, blanks trimmed, quotes kept

    bool HasBreak() const { return next != contentEnd; }
};

// The bytes of one INI file and the lines they make.
class IniText
{
public:
    explicit IniText(std::string bytes) : m_bytes(std::move(bytes))
    {
        if (std::string_view(m_bytes).starts_with(kUtf8Bom)) {
            m_encoding = Encoding::Utf8;
            m_bodyStart = kUtf8Bom.size();
        }
    }

    const std::string& Bytes() const { return m_bytes; }
    Encoding GetEncoding() const { return m_encoding; }
    std::string_view Name(const Line& line) const { return Range(line.nameBegin, line.nameEnd); }
    std::string_view RawValue(const Line& line) const
    {
        return Range(line.valueBegin, line.valueEnd);
    }

    // Calls visit(line) for each line in order until it returns false.
    template <typename Visit> void ForEachLine(Visit visit) const
    {
        for (std::size_t pos = m_bodyStart; pos < m_bytes.size();) {
            Line line = Parse(pos);
            pos = line.next;
            if (!visit(line))
                return;
        }
    }

    // The line break that new lines get: the file's first, or CR LF in a file without one.
    std::string_view LineBreak() const
    {
        const std::size_t lf = m_bytes.find('\n', m_bodyStart);
        if (lf != std::string::npos && (lf == m_bodyStart || m_bytes[lf - 1] != '\r'))
            return "\n";
        return "\r\n";
    }

    bool EndsWithoutBreak() const { return m_bytes.size() > m_bodyStart && m_bytes.back() != '\n'; }

    // The same lines in UTF-8 after a byte-order mark; a line that is not valid CP932 is kept
    // as its bytes, since there is nothing better to turn it into.
    IniText ToUtf8() const
    {
        if (m_encoding == Encoding::Utf8)
            return *this;
        std::string out(kUtf8Bom);
        out.reserve(m_bytes.size() + m_bytes.size() / 2);
        ForEachLine([&](const Line& line) {
            const std::string_view content = Range(line.begin, line.contentEnd);
            if (std::optional<std::string> text = Cp932ToUtf8(content))
                out += *text;
            else
                out += content;
            out += Range(line.contentEnd, line.next);
            return true;
        });
        return IniText(std::move(out));
    }

private:
    std::string_view Range(std::size_t begin, std::size_t end) const
    {
        return std::string_view(m_bytes).substr(begin, end - begin);
    }

    Line Parse(std::size_t begin) const
    {
        Line line;
        line.begin = begin;
        const std::size_t lf = m_bytes.find('\n', begin);
        if (lf == std::string::npos) {
            line.contentEnd = line.next = m_bytes.size();
        } else {
            line.next = lf + 1;
            line.contentEnd = lf > begin && m_bytes[lf - 1] == '\r' ? lf - 1 : lf;
        }

        const std::string_view content = Range(begin, line.contentEnd);
        std::size_t start = 0;
        while (start < content.size() && IsBlank(content[start]))
            ++start;
        if (start == content.size())
            return line;

        const char first = content[start];
        if (first == '[') {
            // The name runs to the last "]" on the line, so a name may hold "]" itself.
            std::size_t close = std::string_view::npos;
            for (std::size_t i = start + 1; i < content.size();) {
                if (content[i] == ']')
                    close = i;
                i += CharLength(content, i, m_encoding);
            }
            if (close != std::string_view::npos) {
                line.kind = Line::Section;
                SetTrimmed(line.nameBegin, line.nameEnd, begin + start + 1, begin + close);
            }
            return line;
        }
        if (first == ';' || first == '#')
            return line;
        // "=" (0x3D) is never the second byte of a CP932 character.
        const std::size_t eq = content.find('=', start);
        if (eq == std::string_view::npos)
            return line;
        line.kind = Line::Key;
        SetTrimmed(line.nameBegin, line.nameEnd, begin + start, begin + eq);
        SetTrimmed(line.valueBegin, line.valueEnd, begin + eq + 1, line.contentEnd);
        return line;
    }

    void SetTrimmed(std::size_t& outBegin, std::size_t& outEnd, std::size_t begin,
                    std::size_t end) const
    {
        while (begin < end && IsBlank(m_bytes[begin]))
            ++begin;
        while (end > begin && IsBlank(m_bytes[end - 1]))
            --end;
        outBegin = begin;
        outEnd = end;
    }

    std::string m_bytes;
    Encoding m_encoding = Encoding::Cp932;
    std::size_t m_bodyStart = 0;
};

std::string_view Unquote(std::string_view raw)
{
    if (raw.size() >= 2 && raw.front() == '"' && raw.back() == '"')
        return raw.substr(1, raw.size() - 2);
    return raw;
}

// The value as it goes into the file, quoted when reading it back would otherwise lose blanks
// or quotes.
std::string Quote(std::string_view value)
{
    const bool quote =
        !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()) ||
                           (value.size() >= 2 && value.front() == '"' && value.back() == '"'));
    return quote ? "\"" + std::string(value) + "\"" : std::string(value);
}

std::optional<std::string> Encode(std::string_view text, Encoding encoding)
{
    if (encoding == Encoding::Utf8)
        return std::string(text);
    return Utf8ToCp932(text);
}

std::optional<std::string> Decode(std::string_view bytes, Encoding encoding)
{
    if (encoding == Encoding::Utf8)
        return std::string(bytes);
    return Cp932ToUtf8(bytes);
}

bool HoldsLineBreakOrNul(std::string_view s)
{
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool IsStorableSection(std::string_view name)
{
    return !name.empty() && !HoldsLineBreakOrNul(name);
}

bool IsStorableKey(std::string_view name)
{
    return !name.empty() && !HoldsLineBreakOrNul(name) &&
           name.find('=') == std::string_view::npos && name.front() != '[' && name.front() != ';' &&
           name.front() != '#';
}

IniText LoadForReading(const std::string& fileName)
{
    FileBytes file = ReadFileBytes(fileName);
    return IniText(file.status == FileBytes::Read ? std::move(file.bytes) : std::string());
}

// The raw value of the key: the first key line of that name in any section of that name.
std::optional<std::string_view> FindRawValue(const IniText& text, std::string_view section,
                                             std::string_view ident)
{
    const Encoding encoding = text.GetEncoding();
    std::optional<std::string_view> found;
    bool inSection = false;
    text.ForEachLine([&](const Line& line) {
        if (line.kind == Line::Section) {
            inSection = NamesMatch(text.Name(line), section, encoding);
        } else if (inSection && line.kind == Line::Key &&
                   NamesMatch(text.Name(line), ident, encoding)) {
            found = text.RawValue(line);
            return false;
        }
        return true;
    });
    return found;
}

// The file's new bytes with the key set to the value (both names and value in the file's
// encoding, value already quoted).
std::string SetValue(const IniText& text, std::string_view section, std::string_view ident,
                     std::string_view value)
{
    const std::string& bytes = text.Bytes();
    const Encoding encoding = text.GetEncoding();
    std::optional<Line> replace;
    std::optional<Line>
        anchor; // the last key line of the first section of that name, or its header
    int sectionsSeen = 0;
    bool inSection = false;
    text.ForEachLine([&](const Line& line) {
        if (line.kind == Line::Section) {
            inSection = NamesMatch(text.Name(line), section, encoding);
            if (inSection && ++sectionsSeen == 1)
                anchor = line;
        } else if (inSection && line.kind == Line::Key) {
            if (NamesMatch(text.Name(line), ident, encoding)) {
                replace = line;
                return false;
            }
            if (sectionsSeen == 1)
                anchor = line;
        }
        return true;
    });

    const std::string_view eol = text.LineBreak();
    std::string out;
    out.reserve(bytes.size() + section.size() + ident.size() + value.size() + 8);
    if (replace) {
        out.append(bytes, 0, replace->valueBegin);
        out += value;
        out.append(bytes, replace->valueEnd);
        return out;
    }
    const std::string keyLine = std::string(ident) + "=" + std::string(value);
    if (anchor) {
        if (anchor->HasBreak()) {
            out.append(bytes, 0, anchor->next);
            out += keyLine;
            out += eol;
            out.append(bytes, anchor->next);
        } else {
            // The anchor is the file's last line; the file goes on without a final break.
            out = bytes;
            out += eol;
            out += keyLine;
        }
        return out;
    }
    const std::string sectionLines = "[" + std::string(section) + "]" + std::string(eol) + keyLine;
    out = bytes;
    if (text.EndsWithoutBreak()) {
        out += eol;
        out += sectionLines;
    } else {
        out += sectionLines;
        out += eol;
    }
    return out;
}

EIniFileException WriteError(const std::string& fileName)
{
    return EIniFileException(fileName + " に書き込めません");
}

// Holds an exclusive lock on the file's directory, so that the read, change and replace of one
// write are not interleaved with another window's.
class DirectoryLock
{
public:
    explicit DirectoryLock(const std::string& fileName)
    {
        const std::size_t slash = fileName.rfind('/');
        const std::string dir = slash == std::string::npos ? "."
                                : slash == 0               ? "/"
                                                           : fileName.substr(0, slash);
        m_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        // Best effort: some file systems do not lock directories, and a write goes on without.
        if (m_fd >= 0) {
            while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~DirectoryLock()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    DirectoryLock(const DirectoryLock&) = delete;
    DirectoryLock& operator=(const DirectoryLock&) = delete;

private:
    int m_fd = -1;
};

// Reads the file, lets `change` compute its new bytes (nullopt: nothing to change) and replaces
// the file with them.
template <typename Change> void Update(const std::string& fileName, Change change)
{
    DirectoryLock lock(fileName);
    FileBytes file = ReadFileBytes(fileName);
    if (file.status == FileBytes::Unreadable)
        throw WriteError(fileName);
    const IniText text(file.status == FileBytes::Read ? std::move(file.bytes) : std::string());
    const std::optional<std::string> bytes = change(text);
    if (bytes && !ReplaceFileBytes(fileName, *bytes, 0600))
        throw WriteError(fileName);
}

} // namespace

TIniFile::TIniFile(std::string fileName) : m_fileName(std::move(fileName)) {}

std::string TIniFile::ReadString(std::string_view section, std::string_view ident,
                                 std::string_view defaultValue) const
{
    section = TrimBlanks(section);
    ident = TrimBlanks(ident);
    const IniText text = LoadForReading(m_fileName);
    const std::optional<std::string> sectionBytes = Encode(section, text.GetEncoding());
    const std::optional<std::string> identBytes = Encode(ident, text.GetEncoding());
    if (!sectionBytes || !identBytes)
        return std::string(defaultValue);
    const std::optional<std::string_view> raw = FindRawValue(text, *sectionBytes, *identBytes);
    if (!raw)
        return std::string(defaultValue);
    return Decode(Unquote(*raw), text.GetEncoding()).value_or(std::string(defaultValue));
}

int TIniFile::ReadInteger(std::string_view section, std::string_view ident, int defaultValue) const
{
    return StrToIntDef(ReadString(section, ident, ""), defaultValue);
}

bool TIniFile::ReadBool(std::string_view section, std::string_view ident, bool defaultValue) const
{
    return ReadInteger(section, ident, defaultValue ? 1 : 0) != 0;
}

void TIniFile::WriteString(std::string_view section, std::string_view ident, std::string_view value)
{
    section = TrimBlanks(section);
    ident = TrimBlanks(ident);
    if (!IsStorableSection(section) || !IsStorableKey(ident) || HoldsLineBreakOrNul(value))
        throw WriteError(m_fileName);
    const std::string quoted = Quote(value);
    Update(m_fileName, [&](const IniText& text) -> std::optional<std::string> {
        std::optional<std::string> s = Encode(section, text.GetEncoding());
        std::optional<std::string> k = Encode(ident, text.GetEncoding());
        std::optional<std::string> v = Encode(quoted, text.GetEncoding());
        if (s && k && v)
            return SetValue(text, *s, *k, *v);
        // CP932 cannot hold it: the whole file becomes UTF-8.
        return SetValue(text.ToUtf8(), section, ident, quoted);
    });
}

void TIniFile::WriteInteger(std::string_view section, std::string_view ident, int value)
{
    WriteString(section, ident, std::to_string(value));
}

void TIniFile::WriteBool(std::string_view section, std::string_view ident, bool value)
{
    WriteString(section, ident, value ? "1" : "0");
}

std::vector<std::string> TIniFile::ReadSections() const
{
    const IniText text = LoadForReading(m_fileName);
    std::vector<std::string> names;
    std::unordered_set<std::string> seen;
    text.ForEachLine([&](const Line& line) {
        if (line.kind != Line::Section || line.nameBegin == line.nameEnd)
            return true;
        const std::string_view name = text.Name(line);
        if (std::optional<std::string> decoded = Decode(name, text.GetEncoding())) {
            if (seen.insert(FoldedName(name, text.GetEncoding())).second)
                names.push_back(std::move(*decoded));
        }
        return true;
    });
    return names;
}

void TIniFile::EraseSection(std::string_view section)
{
    section = TrimBlanks(section);
    if (!IsStorableSection(section))
        return;
    Update(m_fileName, [&](const IniText& text) -> std::optional<std::string> {
        const std::optional<std::string> name = Encode(section, text.GetEncoding());
        if (!name)
            return std::nullopt;
        const std::string& bytes = text.Bytes();
        std::string out;
        std::size_t keptFrom = 0; // start of the bytes not yet copied, or npos inside a match
        bool erased = false;
        text.ForEachLine([&](const Line& line) {
            if (line.kind != Line::Section)
                return true;
            const bool match = NamesMatch(text.Name(line), *name, text.GetEncoding());
            if (match && keptFrom != std::string::npos) {
                out.append(bytes, keptFrom, line.begin - keptFrom);
                keptFrom = std::string::npos;
                erased = true;
            } else if (!match && keptFrom == std::string::npos) {
                keptFrom = line.begin;
            }
            return true;
        });
        if (!erased)
            return std::nullopt;
        if (keptFrom != std::string::npos)
            out.append(bytes, keptFrom);
        return out;
    });
}
