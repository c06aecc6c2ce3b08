#pragma once

#include "Exception.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <sys/types.h>

/// Reads a whole text file, such as the extension list, and returns its text as UTF-8 with CR LF,
/// CR and LF all turned into "\n". The file is CP932, or UTF-8 when it starts with a byte-order
/// mark; bytes that are not valid CP932 become U+FFFD. Raises EFOpenError
/// "ファイル %s は開けません" with the path in place of %s when the file is missing, is not a
/// regular file, cannot be read, or is larger than kMaxFileBytes.
std::string LoadTextFile(const std::string& path);

/// Writes the text as a whole file, each "\n" (or CR LF, or CR) as CR LF, in CP932 or, when CP932
/// cannot hold the text, in UTF-8 after a byte-order mark. The file is replaced atomically; a new
/// file gets mode 0666 less the umask, an existing file keeps its mode. Raises EFCreateError
/// "ファイル %s を作成できません" with the path in place of %s when it cannot be written; the old
/// file is then left as it was.
void SaveTextFile(const std::string& path, std::string_view text);

// Whole-file access shared by the program's files.

/// The byte-order mark that marks a file of the program as UTF-8 rather than CP932.
inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

/// Files larger than this are refused, so that a stray huge file cannot exhaust memory.
inline constexpr std::size_t kMaxFileBytes = 64 * 1024 * 1024;

struct FileBytes
{
    enum Status
    {
        Read,      // `bytes` holds the whole file
        Absent,    // there is no file by that path
        Unreadable // something is there but it is not a regular file that can be read whole
    };
    Status status = Absent;
    std::string bytes;
};

/// Reads a regular file whole. Never blocks on a FIFO or device and never raises.
FileBytes ReadFileBytes(const std::string& path);

/// Replaces the file's contents atomically: the bytes go to a temporary file in the same
/// directory, which is flushed to disk and renamed over the file, so a reader sees either the old
/// or the new contents. A symbolic link is followed and its target replaced. An existing file keeps
/// its mode (and its owner where allowed); a new file is created with `newFileMode` less the
/// umask. An existing file without write permission is not replaced. Returns false with errno set
/// when the file could not be replaced; the old file is then untouched and no temporary is left.
bool ReplaceFileBytes(const std::string& path, std::string_view bytes, mode_t newFileMode);
