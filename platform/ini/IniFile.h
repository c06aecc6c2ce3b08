#pragma once

#include "Exception.h"

#include <string>
#include <string_view>
#include <vector>

// A write to an INI file failed. The message is "%s に書き込めません" with the file's path, and
// the file keeps what it held before the write.
class EIniFileException : public Exception
{
public:
    using Exception::Exception;
};

// A Windows INI file: "[section]" header lines and "key=value" lines below them, in CP932 on disk.
//
// Every call opens the file, does its work and releases it; nothing is cached, so any number of
// objects, windows and processes may share one file. A write replaces the file atomically and
// changes only the bytes it has to: the value of the key where that key stands, or one new line
// after the last key of its section, or a new section at the end of the file. All other bytes stay
// as they are: line endings (CR LF or LF), a missing final line break, comments (";" or "#"),
// blank lines, unknown sections and keys, lines that are neither, keys before the first section,
// and bytes that are not valid CP932.
//
// Section and key names match without regard to the case of ASCII letters; the second byte of a
// CP932 double-byte character is never folded or taken for "[", "]" or "=". Blanks around names,
// around "=" and around values are not part of them. A value with leading or trailing blanks, or
// that starts and ends with a double quote, is written inside double quotes and so reads back as
// written. When a name or value cannot be held in CP932 the whole file is rewritten as UTF-8 after
// a byte-order mark; a file that starts with that mark is read and written as UTF-8.
//
// A new file gets mode 0600 (it may hold passwords); an existing file keeps its mode. Reading a
// file that is missing, unreadable, not a regular file or larger than kMaxFileBytes gives the
// defaults; writing to it raises EIniFileException and leaves it as it is.
class TIniFile
{
public:
    explicit TIniFile(std::string fileName);

    /// The path given at construction.
    const std::string& FileName() const { return m_fileName; }

    /// The value of the key; `defaultValue` when the file, the section or the key is absent, or
    /// when the value in a CP932 file is not valid CP932. A key with an empty value gives "".
    std::string ReadString(std::string_view section, std::string_view ident,
                           std::string_view defaultValue) const;

    /// The value read as an integer (decimal, or hexadecimal after "0x", "0X" or "$", as
    /// TryStrToInt converts); `defaultValue` when absent or not an integer.
    int ReadInteger(std::string_view section, std::string_view ident, int defaultValue) const;

    /// The value read as an integer, true when it is not 0; `defaultValue` when absent or not an
    /// integer.
    bool ReadBool(std::string_view section, std::string_view ident, bool defaultValue) const;

    /// Writes the value, creating the file and the section when needed. Raises EIniFileException
    /// when the file cannot be written, and also when the names or the value cannot be stored in
    /// a line (an empty name, a line break or NUL, "=" in a key, a key starting with "[", ";" or
    /// "#"); the file is then unchanged.
    void WriteString(std::string_view section, std::string_view ident, std::string_view value);

    /// Writes the integer in decimal, with "-" when negative; as WriteString otherwise.
    void WriteInteger(std::string_view section, std::string_view ident, int value);

    /// Writes "1" for true and "0" for false; as WriteString otherwise.
    void WriteBool(std::string_view section, std::string_view ident, bool value);

    /// The names of the sections in the order of the file, each name once (its first spelling),
    /// leaving out empty names and, in a CP932 file, names that are not valid CP932.
    std::vector<std::string> ReadSections() const;

    /// Removes every section of that name with all its lines, up to the next section header. Does
    /// nothing, and creates no file, when there is no such section. Raises EIniFileException when
    /// the file cannot be written.
    void EraseSection(std::string_view section);

private:
    std::string m_fileName;
};
