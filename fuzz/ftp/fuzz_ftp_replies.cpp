// Feeds arbitrary bytes to the reply reader and the 227, 229 and 257 parsers, and checks what
// must hold whatever the server sends: no crash, no read past the input, results in range, and
// the same reply whether the bytes arrive at once or cut at any point.
//
//   fuzz-build/fuzz/ftp/fuzz_ftp_replies -max_total_time=300 fuzz/ftp/seeds

#include "IdException.h"
#include "IdReply.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

enum class Outcome
{
    Reply,
    Incomplete,
    TooLong,
    NotAReply
};

struct Result
{
    Outcome outcome;
    TIdReply reply;
    std::size_t used = 0;
};

Result read(std::string_view data)
{
    Result result{Outcome::Incomplete, {}, 0};
    try {
        if (auto reply = ReadReply(data, result.used)) {
            result.outcome = Outcome::Reply;
            result.reply = *reply;
        }
    } catch (const EIdReadLnMaxLineLengthExceeded&) {
        result.outcome = Outcome::TooLong;
    } catch (const EIdReplyRFCError&) {
        result.outcome = Outcome::NotAReply;
    }
    return result;
}

void require(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    std::string_view data(reinterpret_cast<const char*>(bytes), size);

    Result whole = read(data);
    if (whole.outcome == Outcome::Reply) {
        require(whole.used > 0 && whole.used <= size && data[whole.used - 1] == '\n');
        require(whole.reply.Code >= 100 && whole.reply.Code <= 599);
        require(!whole.reply.Text.empty());
        for (const std::string& line : whole.reply.Text)
            require(line.size() <= IdMaxLineLength && line.find('\n') == std::string::npos);
    }

    // The same bytes cut short: a prefix may only be incomplete, or end the same way.
    std::size_t cut = size ? (bytes[0] * 7919u + size) % (size + 1) : 0;
    Result part = read(data.substr(0, cut));
    switch (whole.outcome) {
    case Outcome::Reply:
        if (cut >= whole.used) {
            require(part.outcome == Outcome::Reply && part.used == whole.used);
            require(part.reply.Code == whole.reply.Code && part.reply.Text == whole.reply.Text);
        } else {
            require(part.outcome == Outcome::Incomplete);
        }
        break;
    case Outcome::Incomplete:
        require(part.outcome == Outcome::Incomplete);
        break;
    case Outcome::TooLong:
    case Outcome::NotAReply:
        require(part.outcome == Outcome::Incomplete || part.outcome == whole.outcome);
        break;
    }

    if (auto passive = Parse227(data))
        require(data.find(',') != std::string_view::npos);
    if (auto port = Parse229(data))
        require(*port >= 1 && data.find('(') != std::string_view::npos);
    if (auto name = Parse257(data))
        require(name->size() < size && data.find('"') != std::string_view::npos);
    return 0;
}
