#include "IdReply.h"

#include "IdException.h"

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The reply code at the start of line, or 0 when the line does not start with one.
int codeOf(std::string_view line)
{
    if (line.size() < 3 || !isDigit(line[0]) || !isDigit(line[1]) || !isDigit(line[2]))
        return 0;
    if (line.size() > 3 && line[3] != ' ' && line[3] != '-')
        return 0;
    int code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
    return code >= 100 && code <= 599 ? code : 0;
}

std::string textOf(std::string_view line)
{
    return std::string(line.size() > 4 ? line.substr(4) : std::string_view());
}

} // namespace

std::string TIdReply::FormattedText() const
{
    std::string out;
    for (const std::string& line : Text) {
        out += line;
        out += "\r\n";
    }
    return out;
}

std::optional<TIdReply> ReadReply(std::string_view data, std::size_t& used)
{
    TIdReply reply;
    bool multiLine = false;
    std::size_t pos = 0;
    for (;;) {
        std::size_t nl = data.find('\n', pos);
        if (nl == std::string_view::npos) {
            // A CR may still be waiting for its LF, hence the one byte of slack.
            if (data.size() - pos > IdMaxLineLength + 1)
                throw EIdReadLnMaxLineLengthExceeded();
            return std::nullopt;
        }
        std::string_view line = data.substr(pos, nl - pos);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.size() > IdMaxLineLength || nl + 1 > IdMaxReplyLength)
            throw EIdReadLnMaxLineLengthExceeded();
        pos = nl + 1;

        if (reply.Code == 0) {
            reply.Code = codeOf(line);
            if (reply.Code == 0)
                throw EIdReplyRFCError("The server sent a reply without a reply code.");
            reply.Text.push_back(textOf(line));
            multiLine = line.size() > 3 && line[3] == '-';
            if (!multiLine)
                break;
            continue;
        }
        int code = codeOf(line);
        if (code == reply.Code) {
            reply.Text.push_back(textOf(line));
            if (line.size() == 3 || line[3] == ' ')
                break;
        } else {
            reply.Text.emplace_back(line);
        }
    }
    used = pos;
    return reply;
}

std::optional<TIdPassiveAddress> Parse227(std::string_view text)
{
    for (std::size_t start = 0; start < text.size(); ++start) {
        if (!isDigit(text[start]) || (start > 0 && isDigit(text[start - 1])))
            continue;
        int numbers[6];
        std::size_t pos = start;
        int count = 0;
        for (; count < 6; ++count) {
            if (count > 0) {
                while (pos < text.size() && text[pos] == ' ')
                    ++pos;
                if (pos >= text.size() || text[pos] != ',')
                    break;
                ++pos;
                while (pos < text.size() && text[pos] == ' ')
                    ++pos;
            }
            std::size_t digits = 0;
            int value = 0;
            while (pos < text.size() && isDigit(text[pos]) && digits < 4) {
                value = value * 10 + (text[pos] - '0');
                ++pos;
                ++digits;
            }
            if (digits == 0 || digits > 3 || value > 255)
                break;
            numbers[count] = value;
        }
        if (count == 6 && (pos >= text.size() || !isDigit(text[pos]))) {
            TIdPassiveAddress result;
            for (int i = 0; i < 4; ++i)
                result.Address[i] = static_cast<std::uint8_t>(numbers[i]);
            result.Port = static_cast<std::uint16_t>(numbers[4] * 256 + numbers[5]);
            return result;
        }
    }
    return std::nullopt;
}

std::optional<std::uint16_t> Parse229(std::string_view text)
{
    for (std::size_t open = text.find('('); open != std::string_view::npos;
         open = text.find('(', open + 1)) {
        std::size_t pos = open + 1;
        if (pos + 3 > text.size())
            return std::nullopt;
        char delim = text[pos];
        if (delim < 33 || delim > 126 || isDigit(delim) || text[pos + 1] != delim ||
            text[pos + 2] != delim)
            continue;
        pos += 3;
        std::size_t digits = 0;
        long value = 0;
        while (pos < text.size() && isDigit(text[pos]) && digits < 6) {
            value = value * 10 + (text[pos] - '0');
            ++pos;
            ++digits;
        }
        if (digits == 0 || digits > 5 || value < 1 || value > 65535)
            continue;
        if (pos + 1 < text.size() && text[pos] == delim && text[pos + 1] == ')')
            return static_cast<std::uint16_t>(value);
    }
    return std::nullopt;
}

std::optional<std::string> Parse257(std::string_view text)
{
    std::size_t open = text.find('"');
    if (open == std::string_view::npos)
        return std::nullopt;
    std::string name;
    for (std::size_t pos = open + 1; pos < text.size(); ++pos) {
        if (text[pos] != '"') {
            name += text[pos];
            continue;
        }
        if (pos + 1 < text.size() && text[pos + 1] == '"') {
            name += '"';
            ++pos;
            continue;
        }
        return name;
    }
    return std::nullopt;
}

std::string FormatEprt6(std::string_view address, std::uint16_t port)
{
    address = address.substr(0, address.find('%'));
    return "|2|" + std::string(address) + "|" + std::to_string(port) + "|";
}
