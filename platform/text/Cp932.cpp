#include "Cp932.h"

#include <cerrno>
#include <iconv.h>
#include <utility>

namespace {

// One iconv conversion descriptor, closed with its owner.
class IconvHandle
{
public:
    IconvHandle(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~IconvHandle()
    {
        if (Valid())
            iconv_close(m_cd);
    }
    IconvHandle(const IconvHandle&) = delete;
    IconvHandle& operator=(const IconvHandle&) = delete;

    bool Valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    // Converts the input as far as it can. Returns true when all of it was converted; otherwise
    // `consumed` tells where the offending sequence starts and the output holds what came before.
    bool Convert(std::string_view in, std::string& out, std::size_t& consumed)
    {
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        char* inPtr = const_cast<char*>(in.data());
        std::size_t inLeft = in.size();
        std::size_t used = out.size();
        out.resize(used + in.size() * 3 + 16);
        bool ok = true;
        while (inLeft > 0) {
            char* outPtr = out.data() + used;
            std::size_t outLeft = out.size() - used;
            std::size_t rc = iconv(m_cd, &inPtr, &inLeft, &outPtr, &outLeft);
            used = out.size() - outLeft;
            if (rc != static_cast<std::size_t>(-1))
                break;
            if (errno == E2BIG) {
                out.resize(out.size() * 2);
                continue;
            }
            ok = false; // EILSEQ or EINVAL: an invalid or cut-off sequence
            break;
        }
        out.resize(used);
        consumed = in.size() - inLeft;
        return ok;
    }

private:
    iconv_t m_cd;
};

IconvHandle& Decoder()
{
    thread_local IconvHandle handle("UTF-8", "CP932");
    return handle;
}

IconvHandle& Encoder()
{
    thread_local IconvHandle handle("CP932", "UTF-8");
    return handle;
}

std::optional<std::string> ConvertAll(IconvHandle& handle, std::string_view in)
{
    if (!handle.Valid())
        return std::nullopt;
    std::string out;
    std::size_t consumed = 0;
    if (!handle.Convert(in, out, consumed))
        return std::nullopt;
    return out;
}

} // namespace

std::optional<std::string> Cp932ToUtf8(std::string_view cp932)
{
    return ConvertAll(Decoder(), cp932);
}

std::optional<std::string> Utf8ToCp932(std::string_view utf8)
{
    std::optional<std::string> encoded = ConvertAll(Encoder(), utf8);
    if (!encoded)
        return std::nullopt;
    // glibc also encodes some characters it cannot give back: it turns U+00A5 into 0x5C (a
    // backslash on return, a different path) and drops tag characters. Only the variants that
    // come back as the same character in its Microsoft form are accepted.
    const std::optional<std::string> back = Cp932ToUtf8(*encoded);
    if (back && *back == utf8)
        return encoded;
    static constexpr std::pair<std::string_view, std::string_view> variants[] = {
        {"\u301C", "\uFF5E"}, {"\u2212", "\uFF0D"}, {"\u2016", "\u2225"}, {"\u2014", "\u2015"},
        {"\u00A2", "\uFFE0"}, {"\u00A3", "\uFFE1"}, {"\u00AC", "\uFFE2"},
    };
    std::string expected(utf8);
    for (const auto& [from, to] : variants) {
        for (std::size_t i = 0; (i = expected.find(from, i)) != std::string::npos; i += to.size())
            expected.replace(i, from.size(), to);
    }
    if (back && *back == expected)
        return encoded;
    return std::nullopt;
}

std::string Cp932ToUtf8Lossy(std::string_view cp932)
{
    static constexpr std::string_view replacement = "\xEF\xBF\xBD";
    std::string out;
    IconvHandle& handle = Decoder();
    while (!cp932.empty()) {
        std::size_t consumed = 0;
        if (handle.Valid() && handle.Convert(cp932, out, consumed))
            break;
        out += replacement;
        cp932.remove_prefix(consumed + 1);
    }
    return out;
}
