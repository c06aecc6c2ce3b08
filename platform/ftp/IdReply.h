#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The longest reply line accepted, its line end not counted.
inline constexpr std::size_t IdMaxLineLength = 16 * 1024;
// The longest whole reply accepted, so that an endless multi-line reply cannot eat the memory.
inline constexpr std::size_t IdMaxReplyLength = 1024 * 1024;

// One FTP reply: its code and its text lines with the code and the separator after it removed.
struct TIdReply
{
    int Code = 0;
    std::vector<std::string> Text;

    // The text lines, each ended by CR LF: the message of a refused reply and the login text.
    std::string FormattedText() const;
};

// Reads one reply (RFC 959 section 4.2) from the front of data. Lines end with CR LF or a bare
// LF. Returns the reply and sets used to the number of bytes it took, or returns nothing when
// data does not yet hold a complete reply. Raises EIdReadLnMaxLineLengthExceeded for a line
// longer than IdMaxLineLength (or a reply longer than IdMaxReplyLength) and EIdReplyRFCError
// when the first line does not start with a reply code from 100 to 599.
std::optional<TIdReply> ReadReply(std::string_view data, std::size_t& used);

// Address and port of a 227 reply.
struct TIdPassiveAddress
{
    std::array<std::uint8_t, 4> Address{};
    std::uint16_t Port = 0;
};

// Parses the text of a 227 reply: the first run of six comma-separated numbers from 0 to 255,
// as in "Entering Passive Mode (127,0,0,1,4,1)". Nothing when there is none.
std::optional<TIdPassiveAddress> Parse227(std::string_view text);

// Parses the text of a 229 reply, "Entering Extended Passive Mode (|||6446|)" (RFC 2428), for
// its port from 1 to 65535. Nothing when the text holds no such part.
std::optional<std::uint16_t> Parse229(std::string_view text);

// The argument of "EPRT" (RFC 2428) for a numeric IPv6 address and a port: "|2|address|port|".
// A zone suffix ("%eth0") of a link-local address is not part of the address on the wire and is
// left out.
std::string FormatEprt6(std::string_view address, std::uint16_t port);

// Parses the text of a 257 reply for the quoted directory name; a doubled quote inside stands
// for one quote (RFC 959). Nothing when the text holds no quoted name.
std::optional<std::string> Parse257(std::string_view text);
