#include "TextFile.h"

#include "Cp932.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A file descriptor closed with its owner.
class UniqueFd
{
public:
    explicit UniqueFd(int fd = -1) : m_fd(fd) {}
    ~UniqueFd() { Close(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return m_fd; }
    void Reset(int fd)
    {
        Close();
        m_fd = fd;
    }
    explicit operator bool() const { return m_fd >= 0; }
    // Closes now and reports whether close() succeeded, since that is where some file systems
    // report a failed write.
    bool Close()
    {
        if (m_fd < 0)
            return true;
        const int rc = ::close(m_fd);
        m_fd = -1;
        return rc == 0;
    }

private:
    int m_fd;
};

bool WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Turns every CR LF, CR and LF into `eol`.
std::string NormalizeLineBreaks(std::string_view text, std::string_view eol)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            out += eol;
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            out += c;
        }
    }
    return out;
}

std::string TempName(const std::string& dir, const std::string& base)
{
    thread_local std::mt19937_64 random{std::random_device{}()};
    static constexpr char hex[] = "0123456789abcdef";
    std::string name = dir + "/." + base + ".";
    std::uint64_t bits = random();
    for (int i = 0; i < 12; ++i, bits >>= 4)
        name += hex[bits & 0xF];
    return name;
}

} // namespace

FileBytes ReadFileBytes(const std::string& path)
{
    FileBytes result;
    // O_NONBLOCK so that a FIFO by that name cannot hang the open.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd) {
        result.status =
            (errno == ENOENT || errno == ENOTDIR) ? FileBytes::Absent : FileBytes::Unreadable;
        return result;
    }
    result.status = FileBytes::Unreadable;
    struct stat st
    {
    };
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<std::uint64_t>(st.st_size) > kMaxFileBytes)
        return result;

    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(st.st_size));
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return result;
        }
        if (n == 0)
            break;
        if (bytes.size() + static_cast<std::size_t>(n) > kMaxFileBytes)
            return result;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    result.status = FileBytes::Read;
    result.bytes = std::move(bytes);
    return result;
}

bool ReplaceFileBytes(const std::string& path, std::string_view bytes, mode_t newFileMode)
{
    std::string target = path;
    struct stat st
    {
    };
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr),
                                                         &std::free);
        if (real)
            target = real.get();
    }

    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (!exists && errno != ENOENT)
        return false;
    if (exists) {
        if (!S_ISREG(st.st_mode)) {
            errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
            return false;
        }
        // The rename below would replace a write-protected file as long as its directory is
        // writable; a file the user has protected stays as it is.
        UniqueFd probe(::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        if (!probe)
            return false;
    }

    const std::size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? "."
                            : slash == 0               ? "/"
                                                       : target.substr(0, slash);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);

    std::string temp;
    UniqueFd fd;
    for (int attempt = 0; attempt < 100 && !fd; ++attempt) {
        temp = TempName(dir, base);
        fd.Reset(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY,
                        exists ? 0600 : newFileMode));
        if (!fd && errno != EEXIST)
            return false;
    }
    if (!fd)
        return false;

    bool ok = WriteAll(fd.Get(), bytes);
    if (ok && exists) {
        // Only a privileged process can keep another owner; failing to is no reason to stop.
        if ((st.st_uid != ::geteuid() || st.st_gid != ::getegid()) &&
            ::fchown(fd.Get(), st.st_uid, st.st_gid) != 0) {
        }
        ok = ::fchmod(fd.Get(), st.st_mode & 07777) == 0;
    }
    ok = ok && ::fsync(fd.Get()) == 0;
    ok = fd.Close() && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        const int error = errno;
        ::unlink(temp.c_str());
        errno = error;
        return false;
    }

    // Make the rename itself durable; the new contents are already on disk either way.
    UniqueFd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd)
        ::fsync(dirFd.Get());
    return true;
}

std::string LoadTextFile(const std::string& path)
{
    FileBytes file = ReadFileBytes(path);
    if (file.status != FileBytes::Read)
        throw EFOpenError("ファイル " + path + " は開けません");
    std::string_view bytes = file.bytes;
    std::string text;
    if (bytes.starts_with(kUtf8Bom)) {
        text = bytes.substr(kUtf8Bom.size());
    } else if (std::optional<std::string> decoded = Cp932ToUtf8(bytes)) {
        text = std::move(*decoded);
    } else {
        text = Cp932ToUtf8Lossy(bytes);
    }
    return NormalizeLineBreaks(text, "\n");
}

void SaveTextFile(const std::string& path, std::string_view text)
{
    const std::string normalized = NormalizeLineBreaks(text, "\r\n");
    std::string bytes;
    if (std::optional<std::string> encoded = Utf8ToCp932(normalized))
        bytes = std::move(*encoded);
    else
        bytes = std::string(kUtf8Bom) + normalized;
    if (!ReplaceFileBytes(path, bytes, 0666))
        throw EFCreateError("ファイル " + path + " を作成できません");
}
