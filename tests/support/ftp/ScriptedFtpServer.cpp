#include "ScriptedFtpServer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kWaitMs = 10000;

struct Address
{
    sockaddr_storage storage{};
    socklen_t length = 0;
};

Address makeAddress(const std::string& host, std::uint16_t port)
{
    Address a;
    if (host.find(':') != std::string::npos) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&a.storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        ::inet_pton(AF_INET6, host.c_str(), &in6->sin6_addr);
        a.length = sizeof(sockaddr_in6);
    } else {
        auto* in = reinterpret_cast<sockaddr_in*>(&a.storage);
        in->sin_family = AF_INET;
        in->sin_port = htons(port);
        ::inet_pton(AF_INET, host.c_str(), &in->sin_addr);
        a.length = sizeof(sockaddr_in);
    }
    return a;
}

int listenOn(const std::string& host, std::uint16_t& port)
{
    Address a = makeAddress(host, 0);
    int fd = ::socket(a.storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a.storage), a.length) != 0 ||
        ::listen(fd, 4) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    a.length = sizeof a.storage;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a.storage), &a.length);
    port = ntohs(a.storage.ss_family == AF_INET6
                     ? reinterpret_cast<sockaddr_in6*>(&a.storage)->sin6_port
                     : reinterpret_cast<sockaddr_in*>(&a.storage)->sin_port);
    return fd;
}

bool readable(int fd, int timeoutMs = kWaitMs)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0;
}

int acceptOne(int listener)
{
    if (listener < 0 || !readable(listener))
        return -1;
    return ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

std::string printable(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c < 32)
            out += "\\x" + std::to_string(c);
        else
            out += static_cast<char>(c);
    }
    return out;
}

} // namespace

ScriptedFtpServer::ScriptedFtpServer(std::string host) : m_host(std::move(host)) {}

ScriptedFtpServer::~ScriptedFtpServer()
{
    if (m_thread.joinable())
        m_thread.join();
    closeFd(m_listener);
    closeFd(m_control);
    closeFd(m_dataListener);
    closeFd(m_dataFd);
}

ScriptedFtpServer& ScriptedFtpServer::send(const std::string& bytes)
{
    m_steps.push_back({Kind::Send, bytes});
    return *this;
}

ScriptedFtpServer& ScriptedFtpServer::reply(const std::string& line)
{
    return send(line + "\r\n");
}

ScriptedFtpServer& ScriptedFtpServer::expect(const std::string& line)
{
    m_steps.push_back({Kind::Expect, line});
    return *this;
}

ScriptedFtpServer& ScriptedFtpServer::on(const std::string& command, const std::string& answer)
{
    return expect(command).reply(answer);
}

ScriptedFtpServer& ScriptedFtpServer::pasv(const std::string& advertised)
{
    m_steps.push_back({Kind::Pasv, advertised});
    return *this;
}

ScriptedFtpServer& ScriptedFtpServer::epsv()
{
    m_steps.push_back({Kind::Epsv, {}});
    return *this;
}

ScriptedFtpServer& ScriptedFtpServer::expectPort()
{
    m_steps.push_back({Kind::Port, {}});
    return *this;
}

ScriptedFtpServer& ScriptedFtpServer::openData()
{
    m_steps.push_back({Kind::OpenData, {}});
    return *this;
}

ScriptedFtpServer& ScriptedFtpServer::readData(std::size_t count)
{
    m_steps.push_back({Kind::ReadData, {}, count});
    return *this;
}

ScriptedFtpServer& ScriptedFtpServer::readDataToEnd(bool keep)
{
    m_steps.push_back({Kind::ReadToEnd, {}, keep ? 1u : 0u});
    return *this;
}

ScriptedFtpServer& ScriptedFtpServer::strangerConnects(const std::string& source)
{
    m_steps.push_back({Kind::Stranger, source});
    return *this;
}

ScriptedFtpServer& ScriptedFtpServer::closeData()
{
    m_steps.push_back({Kind::CloseData, {}});
    return *this;
}

ScriptedFtpServer& ScriptedFtpServer::drop()
{
    m_steps.push_back({Kind::Drop, {}});
    return *this;
}

ScriptedFtpServer& ScriptedFtpServer::holdUntilClosed()
{
    m_steps.push_back({Kind::Hold, {}});
    return *this;
}

ScriptedFtpServer& ScriptedFtpServer::acceptNext()
{
    m_steps.push_back({Kind::AcceptNext, {}});
    return *this;
}

void ScriptedFtpServer::start()
{
    m_listener = listenOn(m_host, m_port);
    if (m_listener < 0) {
        m_errors.push_back("cannot listen on " + m_host);
        return;
    }
    m_thread = std::thread([this] { run(); });
}

bool ScriptedFtpServer::finish()
{
    if (m_thread.joinable())
        m_thread.join();
    return m_errors.empty();
}

void ScriptedFtpServer::closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

bool ScriptedFtpServer::readLine(std::string& line)
{
    for (;;) {
        std::size_t nl = m_pending.find('\n');
        if (nl != std::string::npos) {
            line = m_pending.substr(0, nl + 1);
            m_pending.erase(0, nl + 1);
            m_lines.push_back(line);
            return true;
        }
        if (!readable(m_control))
            return false;
        char buffer[4096];
        ssize_t n = ::recv(m_control, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        m_pending.append(buffer, static_cast<std::size_t>(n));
    }
}

void ScriptedFtpServer::run()
{
    m_control = acceptOne(m_listener);
    if (m_control < 0) {
        m_errors.push_back("no client connected");
        return;
    }
    auto fail = [this](const std::string& what) { m_errors.push_back(what); };
    auto sendAll = [](int fd, const std::string& bytes) {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += static_cast<std::size_t>(n);
        }
        return true;
    };
    auto expectLine = [&](const std::string& wanted) {
        std::string line;
        if (!readLine(line)) {
            fail("connection ended while expecting \"" + wanted + "\"");
            return false;
        }
        if (line != wanted + "\r\n") {
            fail("expected \"" + wanted + "\", got \"" + printable(line) + "\"");
            return false;
        }
        return true;
    };
    auto readDataBytes = [&](std::size_t count, bool toEnd, bool keep) {
        std::vector<char> buffer(1 << 20);
        std::size_t got = 0;
        while (toEnd || got < count) {
            if (m_dataFd < 0 || !readable(m_dataFd)) {
                fail("data did not come");
                return false;
            }
            std::size_t want = toEnd ? buffer.size() : std::min(buffer.size(), count - got);
            // MSG_TRUNC makes TCP drop the bytes without copying them when they are only counted.
            ssize_t n = ::recv(m_dataFd, buffer.data(), want, keep ? 0 : MSG_TRUNC);
            if (n < 0 && errno == ECONNRESET) {
                m_dataReset = true;
                return toEnd || (fail("data connection reset"), false);
            }
            if (n <= 0)
                return toEnd || (fail("data connection ended early"), false);
            if (keep)
                m_data.append(buffer.data(), static_cast<std::size_t>(n));
            m_dataCount += static_cast<std::uint64_t>(n);
            got += static_cast<std::size_t>(n);
        }
        return true;
    };

    for (const Step& step : m_steps) {
        bool ok = true;
        switch (step.kind) {
        case Kind::Send:
            ok = sendAll(m_control, step.text);
            if (!ok)
                fail("cannot send \"" + printable(step.text) + "\"");
            break;
        case Kind::Expect:
            ok = expectLine(step.text);
            break;
        case Kind::Pasv: {
            if (!(ok = expectLine("PASV")))
                break;
            std::uint16_t dataPort = 0;
            m_dataListener = listenOn(m_host, dataPort);
            std::string host = step.text.empty() ? m_host : step.text;
            for (char& c : host)
                if (c == '.')
                    c = ',';
            ok = sendAll(m_control, "227 Entering Passive Mode (" + host + "," +
                                        std::to_string(dataPort >> 8) + "," +
                                        std::to_string(dataPort & 0xff) + ").\r\n");
            break;
        }
        case Kind::Epsv: {
            if (!(ok = expectLine("EPSV")))
                break;
            std::uint16_t dataPort = 0;
            m_dataListener = listenOn(m_host, dataPort);
            ok = sendAll(m_control, "229 Entering Extended Passive Mode (|||" +
                                        std::to_string(dataPort) + "|)\r\n");
            break;
        }
        case Kind::Port: {
            std::string line;
            if (!readLine(line)) {
                fail("connection ended while expecting PORT");
                ok = false;
                break;
            }
            unsigned h[6];
            char address[64];
            unsigned p = 0;
            if (std::sscanf(line.c_str(), "PORT %u,%u,%u,%u,%u,%u\r\n", &h[0], &h[1], &h[2], &h[3],
                            &h[4], &h[5]) == 6) {
                m_activeHost = std::to_string(h[0]) + "." + std::to_string(h[1]) + "." +
                               std::to_string(h[2]) + "." + std::to_string(h[3]);
                m_activePort = static_cast<std::uint16_t>(h[4] * 256 + h[5]);
            } else if (std::sscanf(line.c_str(), "EPRT |2|%63[^|]|%u|\r\n", address, &p) == 2) {
                m_activeHost = address;
                m_activePort = static_cast<std::uint16_t>(p);
            } else {
                fail("expected PORT or EPRT, got \"" + printable(line) + "\"");
                ok = false;
                break;
            }
            ok = sendAll(m_control, "200 PORT command successful.\r\n");
            break;
        }
        case Kind::OpenData:
            if (m_dataListener >= 0) {
                m_dataFd = acceptOne(m_dataListener);
                closeFd(m_dataListener);
            } else {
                Address a = makeAddress(m_activeHost, m_activePort);
                m_dataFd = ::socket(a.storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
                if (::connect(m_dataFd, reinterpret_cast<sockaddr*>(&a.storage), a.length) != 0)
                    closeFd(m_dataFd);
            }
            if (m_dataFd < 0) {
                fail("no data connection");
                ok = false;
            }
            break;
        case Kind::ReadData:
            ok = readDataBytes(step.count, false, true);
            break;
        case Kind::ReadToEnd:
            ok = readDataBytes(0, true, step.count != 0);
            break;
        case Kind::Stranger: {
            Address from = makeAddress(step.text, 0);
            Address to = makeAddress(m_activeHost, m_activePort);
            int fd = ::socket(to.storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (::bind(fd, reinterpret_cast<sockaddr*>(&from.storage), from.length) != 0 ||
                ::connect(fd, reinterpret_cast<sockaddr*>(&to.storage), to.length) != 0) {
                fail("the stranger cannot connect from " + step.text);
                ok = false;
            } else {
                char byte;
                if (!readable(fd) || ::recv(fd, &byte, 1, 0) > 0) {
                    fail("the client kept a data connection from " + step.text);
                    ok = false;
                }
            }
            ::close(fd);
            break;
        }
        case Kind::CloseData:
            closeFd(m_dataFd);
            break;
        case Kind::Drop:
            closeFd(m_dataFd);
            closeFd(m_dataListener);
            closeFd(m_control);
            break;
        case Kind::Hold: {
            std::string line;
            auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (readLine(line)) {
                if (std::chrono::steady_clock::now() > until) {
                    fail("the client never closed the connection");
                    break;
                }
            }
            break;
        }
        case Kind::AcceptNext:
            closeFd(m_control);
            m_pending.clear();
            m_control = acceptOne(m_listener);
            if (m_control < 0) {
                fail("no second connection");
                ok = false;
            }
            break;
        }
        if (!ok)
            break;
    }
    closeFd(m_dataFd);
    closeFd(m_dataListener);
    closeFd(m_control);
}
