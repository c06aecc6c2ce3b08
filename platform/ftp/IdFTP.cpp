#include "IdFTP.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {

class UniqueFd
{
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    void reset()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    // Closes with a reset instead of an orderly end, so that the peer cannot take a cut-off
    // transfer for a complete one.
    void resetHard()
    {
        if (m_fd >= 0) {
            linger hard{1, 0};
            ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        }
        reset();
    }

private:
    int m_fd = -1;
};

struct SockAddr
{
    sockaddr_storage storage{};
    socklen_t length = 0;

    int family() const { return storage.ss_family; }
    sockaddr* get() { return reinterpret_cast<sockaddr*>(&storage); }
    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
    std::uint16_t port() const
    {
        if (family() == AF_INET6)
            return ntohs(reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_port);
        return ntohs(reinterpret_cast<const sockaddr_in*>(&storage)->sin_port);
    }
    void setPort(std::uint16_t port)
    {
        if (family() == AF_INET6)
            reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port = htons(port);
        else
            reinterpret_cast<sockaddr_in*>(&storage)->sin_port = htons(port);
    }
    bool sameHost(const SockAddr& other) const
    {
        if (family() != other.family())
            return false;
        if (family() == AF_INET6)
            return std::memcmp(&reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_addr,
                               &reinterpret_cast<const sockaddr_in6*>(&other.storage)->sin6_addr,
                               sizeof(in6_addr)) == 0;
        return reinterpret_cast<const sockaddr_in*>(&storage)->sin_addr.s_addr ==
               reinterpret_cast<const sockaddr_in*>(&other.storage)->sin_addr.s_addr;
    }
    std::string host() const
    {
        char text[NI_MAXHOST] = "";
        ::getnameinfo(get(), length, text, sizeof text, nullptr, 0, NI_NUMERICHOST);
        return text;
    }
};

std::string errorText(int err)
{
    char buffer[256];
    return strerror_r(err, buffer, sizeof buffer);
}

[[noreturn]] void throwSocketError(int err)
{
    throw EIdSocketError("Socket Error # " + std::to_string(err) + ": " + errorText(err) + ".",
                         err);
}

bool hasLineBreakOrNul(std::string_view text)
{
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

void checkArgument(std::string_view text)
{
    if (hasLineBreakOrNul(text))
        throw EIdFTPIllegalArgument();
}

// A reply text may hold NUL bytes; a message is read as a C string, so they show as U+FFFD.
std::string messageText(const TIdReply& reply)
{
    std::string text;
    for (char c : reply.FormattedText()) {
        if (c == '\0')
            text += "\xEF\xBF\xBD";
        else
            text += c;
    }
    return text;
}

[[noreturn]] void throwReplyError(const TIdReply& reply)
{
    throw EIdProtocolReplyError(reply.Code, messageText(reply));
}

bool isOneOf(int code, std::initializer_list<int> codes)
{
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

bool isNumericHost(const std::string& host)
{
    in6_addr any;
    return ::inet_pton(AF_INET, host.c_str(), &any) == 1 ||
           ::inet_pton(AF_INET6, host.c_str(), &any) == 1;
}

std::vector<SockAddr> toAddresses(const addrinfo* list)
{
    std::vector<SockAddr> addresses;
    for (const addrinfo* info = list; info; info = info->ai_next) {
        if (info->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        SockAddr address;
        std::memcpy(&address.storage, info->ai_addr, info->ai_addrlen);
        address.length = info->ai_addrlen;
        addresses.push_back(address);
    }
    return addresses;
}

// Name resolution on a worker thread; the thread owns a share of the job, so a waiter that
// gives up (time-out, Disconnect) can simply leave it behind.
struct ResolveJob
{
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    int result = 0;
    std::vector<SockAddr> addresses;
};

void resolve(const std::shared_ptr<ResolveJob>& job, const std::string& host, int port)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* list = nullptr;
    int result = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
    std::vector<SockAddr> addresses;
    if (result == 0) {
        addresses = toAddresses(list);
        ::freeaddrinfo(list);
    }
    std::lock_guard lock(job->mutex);
    job->result = result;
    job->addresses = std::move(addresses);
    job->finished = true;
    job->done.notify_all();
}

template <class S> class BusyGuard
{
public:
    explicit BusyGuard(S& session) : m_session(session)
    {
        if (session.busy)
            throw EIdException("The FTP client is busy with another command.");
        session.busy = true;
    }
    ~BusyGuard() { m_session.busy = false; }
    BusyGuard(const BusyGuard&) = delete;
    BusyGuard& operator=(const BusyGuard&) = delete;

private:
    S& m_session;
};

template <class F, class... Args> void fire(const F& event, Args... args)
{
    if (event) {
        // A copy: the handler may replace the event it runs from.
        F handler = event;
        handler(args...);
    }
}

constexpr int kReady = 1;
constexpr std::int64_t kPush = 64 * 1024;
// How many blocks one read of the local file fills.
constexpr std::size_t kBlocksPerRead = 16;
constexpr int kControlReady = 2;

} // namespace

// One control connection and what belongs to it. Operations hold a share of it across every
// pump, so that a Disconnect from a handler, or even a new Connect, never pulls it from under
// them; they find it dead and end.
struct TIdFTP::Session
{
    UniqueFd control;
    UniqueFd data;     // the data connection of a running Put
    UniqueFd listener; // active mode: where the server's data connection comes in
    SockAddr peer, local;
    bool open = false; // the TCP connection was made
    bool dead = false; // closed or cancelled: nothing more goes over it
    bool busy = false; // an operation that sends commands is running
    bool flushing = false;
    bool abortRequested = false; // Abort during the running operation
    int aborPending = 0;         // ABOR lines sent whose reply is still to be read
    std::string in;              // received bytes not yet taken as replies
    std::deque<std::string> out; // lines to send; the front one may be partly sent
    std::size_t outSent = 0;

    void closeAll()
    {
        // A data connection still open here was cut off, so the server must not see a clean end.
        data.resetHard();
        listener.reset();
        control.reset();
    }
};

TIdFTP::TIdFTP() : m_lastPump(Clock::now()) {}

TIdFTP::~TIdFTP()
{
    if (m_session) {
        m_session->dead = true;
        m_session->closeAll();
    }
}

bool TIdFTP::Connected() const
{
    return m_session && m_session->open && !m_session->dead;
}

TIdFTP::SessionPtr TIdFTP::openSession() const
{
    if (!Connected())
        throw EIdNotConnected();
    return m_session;
}

void TIdFTP::status(TIdStatus code, const std::string& text)
{
    fire(OnStatus, code, text);
}

void TIdFTP::check(const SessionPtr& s)
{
    if (s->dead)
        throw EIdNotConnected();
}

int TIdFTP::sliceMs() const
{
    return AntiFreeze ? std::max(1, AntiFreeze->IdleTimeOut) : 50;
}

void TIdFTP::pump(const SessionPtr& s)
{
    if (AntiFreeze)
        AntiFreeze->DoProcess();
    m_lastPump = Clock::now();
    check(s);
}

void TIdFTP::pumpIfDue(const SessionPtr& s)
{
    if (Clock::now() - m_lastPump >= std::chrono::milliseconds(sliceMs()))
        pump(s);
}

// Waits until fd is ready for events or controlFd has input, but no longer than until the next
// pump is due (or the deadline). Returns kReady and kControlReady bits; a pump happened when
// neither is set, and the caller then re-reads the session's state before going on.
int TIdFTP::waitFor(const SessionPtr& s, int fd, short events, int controlFd,
                    const Clock::time_point* deadline)
{
    using namespace std::chrono;
    auto now = Clock::now();
    auto due = m_lastPump + milliseconds(sliceMs());
    if (now >= due) {
        pump(s);
        return 0;
    }
    auto until = deadline ? std::min(due, *deadline) : due;
    int timeout = static_cast<int>(ceil<milliseconds>(until - now).count());
    pollfd fds[2] = {{fd, events, 0}, {controlFd, POLLIN, 0}};
    int count = ::poll(fds, controlFd >= 0 ? 2 : 1, std::max(0, timeout));
    if (count < 0 && errno != EINTR)
        throwSocketError(errno);
    if (count <= 0) {
        pumpIfDue(s);
        return 0;
    }
    int ready = 0;
    if (fds[0].revents)
        ready |= kReady;
    if (controlFd >= 0 && fds[1].revents)
        ready |= kControlReady;
    return ready;
}

void TIdFTP::shutDown(const SessionPtr& s, bool byUs)
{
    if (s->dead)
        return;
    s->dead = true;
    if (m_session == s)
        m_session.reset();
    if (!s->open) {
        s->closeAll();
        return;
    }
    if (byUs)
        status(hsDisconnecting, "Disconnecting.");
    s->closeAll();
    if (byUs) {
        fire(OnDisconnected);
        status(hsDisconnected, "Disconnected.");
    } else {
        status(hsDisconnected, "Disconnected.");
        fire(OnDisconnected);
    }
}

void TIdFTP::controlLost(const SessionPtr& s, int err)
{
    shutDown(s, false);
    if (err == 0)
        throw EIdConnClosedGracefully();
    throwSocketError(err);
}

void TIdFTP::sendLine(const SessionPtr& s, const std::string& line)
{
    s->out.push_back(line + "\r\n");
    flush(s);
}

// Sends the queued lines. A line queued from a handler while a send is under way (an ABOR from
// the pump) is sent by the outer call, after the line before it is complete.
void TIdFTP::flush(const SessionPtr& s)
{
    if (s->flushing)
        return;
    s->flushing = true;
    struct Done
    {
        bool& flag;
        ~Done() { flag = false; }
    } done{s->flushing};
    while (!s->out.empty()) {
        check(s);
        const std::string& line = s->out.front();
        ssize_t n = ::send(s->control.get(), line.data() + s->outSent, line.size() - s->outSent,
                           MSG_NOSIGNAL);
        if (n > 0) {
            s->outSent += static_cast<std::size_t>(n);
            if (s->outSent == line.size()) {
                std::string sent = std::move(s->out.front());
                s->out.pop_front();
                s->outSent = 0;
                if (Intercept)
                    Intercept->Sent(sent);
            }
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            waitFor(s, s->control.get(), POLLOUT);
            continue;
        }
        controlLost(s, n < 0 ? errno : EPIPE);
    }
}

// Reads what the control connection has; false when nothing was there.
bool TIdFTP::receiveSome(const SessionPtr& s)
{
    check(s);
    std::string chunk(static_cast<std::size_t>(std::max(1, RecvBufferSize)), '\0');
    ssize_t n = ::recv(s->control.get(), chunk.data(), chunk.size(), 0);
    if (n > 0) {
        chunk.resize(static_cast<std::size_t>(n));
        s->in += chunk;
        if (Intercept)
            Intercept->Received(chunk);
        return true;
    }
    if (n == 0)
        controlLost(s, 0);
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
        return false;
    controlLost(s, errno);
}

std::optional<TIdReply> TIdFTP::takeReply(const SessionPtr& s)
{
    std::size_t used = 0;
    std::optional<TIdReply> reply;
    try {
        reply = ReadReply(s->in, used);
    } catch (const EIdException&) {
        // Where this reply ends is unknown, so every later one would be misread.
        shutDown(s, true);
        throw;
    }
    if (!reply)
        return std::nullopt;
    s->in.erase(0, used);
    if (reply->Code == 421) {
        // The server is closing the connection (RFC 959 allows 421 in answer to anything).
        shutDown(s, false);
        throwReplyError(*reply);
    }
    return reply;
}

TIdReply TIdFTP::readReply(const SessionPtr& s)
{
    for (;;) {
        check(s);
        if (auto reply = takeReply(s))
            return *reply;
        if (receiveSome(s))
            pumpIfDue(s);
        else
            waitFor(s, s->control.get(), POLLIN);
    }
}

void TIdFTP::drainAborReplies(const SessionPtr& s)
{
    while (s->aborPending > 0) {
        readReply(s);
        --s->aborPending;
    }
}

TIdReply TIdFTP::sendCmd(const SessionPtr& s, const std::string& command,
                         std::initializer_list<int> expected)
{
    checkArgument(command);
    drainAborReplies(s);
    sendLine(s, command);
    TIdReply reply = readReply(s);
    if (expected.size() > 0 && !isOneOf(reply.Code, expected))
        throwReplyError(reply);
    return reply;
}

void TIdFTP::connectControl(const SessionPtr& s, int timeoutMs)
{
    bool viaProxy =
        ProxySettings.ProxyType != TIdFtpProxyType::fpcmNone && !ProxySettings.Host.empty();
    const std::string& host = viaProxy ? ProxySettings.Host : Host;
    int port = viaProxy ? ProxySettings.Port : Port;
    if (port < 1 || port > 65535)
        throw EIdSocketError("Invalid port " + std::to_string(port) + ".", EINVAL);
    if (timeoutMs <= 0)
        timeoutMs = 120000;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);

    std::vector<SockAddr> addresses;
    if (isNumericHost(host)) {
        addrinfo hints{};
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
        addrinfo* list = nullptr;
        if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list) != 0)
            throw EIdResolveError("Host not found: " + host + ".");
        addresses = toAddresses(list);
        ::freeaddrinfo(list);
    } else {
        status(hsResolving, "Resolving hostname " + host + ".");
        check(s);
        auto job = std::make_shared<ResolveJob>();
        try {
            std::thread(resolve, job, host, port).detach();
        } catch (const std::system_error& e) {
            throw EIdResolveError("Host not found: " + host + " (" + e.what() + ").");
        }
        for (;;) {
            {
                std::unique_lock lock(job->mutex);
                auto until = std::min(m_lastPump + std::chrono::milliseconds(sliceMs()), deadline);
                if (job->done.wait_until(lock, until, [&] { return job->finished; }))
                    break;
            }
            if (Clock::now() >= deadline)
                throw EIdConnectTimeout();
            pumpIfDue(s);
        }
        if (job->result != 0)
            throw EIdResolveError("Host not found: " + host + " (" + ::gai_strerror(job->result) +
                                  ").");
        addresses = std::move(job->addresses);
    }

    int lastError = EHOSTUNREACH;
    for (const SockAddr& address : addresses) {
        status(hsConnecting, "Connecting to " + address.host() + ".");
        check(s);
        UniqueFd fd(::socket(address.family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (!fd) {
            lastError = errno;
            continue;
        }
        if (::connect(fd.get(), address.get(), address.length) != 0) {
            if (errno != EINPROGRESS) {
                lastError = errno;
                continue;
            }
            while (!(waitFor(s, fd.get(), POLLOUT, -1, &deadline) & kReady)) {
                if (Clock::now() >= deadline)
                    throw EIdConnectTimeout();
            }
            int err = 0;
            socklen_t length = sizeof err;
            ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &err, &length);
            if (err != 0) {
                lastError = err;
                continue;
            }
        }
        s->peer = address;
        s->local.length = sizeof s->local.storage;
        ::getsockname(fd.get(), s->local.get(), &s->local.length);
        s->control = std::move(fd);
        s->open = true;
        status(hsConnected, "Connected.");
        check(s);
        return;
    }
    throwSocketError(lastError);
}

void TIdFTP::Connect(bool autoLogin, int timeoutMs)
{
    if (m_session && !m_session->dead)
        throw EIdAlreadyConnected();
    // Everything the log-in will send is checked before the connection is opened.
    for (const std::string* text : {&Host, &Username, &Password, &ProxySettings.Host,
                                    &ProxySettings.UserName, &ProxySettings.Password})
        checkArgument(*text);
    auto s = std::make_shared<Session>();
    m_session = s;
    m_loginMsg.clear();
    try {
        BusyGuard busy(*s);
        connectControl(s, timeoutMs);
        TIdReply greeting = readReply(s);
        if (greeting.Code != 220)
            throwReplyError(greeting);
        if (autoLogin)
            login(s);
    } catch (...) {
        shutDown(s, true);
        throw;
    }
}

void TIdFTP::Login()
{
    auto s = openSession();
    try {
        BusyGuard busy(*s);
        login(s);
    } catch (...) {
        shutDown(s, true);
        throw;
    }
}

void TIdFTP::login(const SessionPtr& s)
{
    const TIdFtpProxySettings& proxy = ProxySettings;
    auto user = [&](const std::string& name, const std::string& password) {
        TIdReply reply = sendCmd(s, "USER " + name, {230, 331});
        if (reply.Code == 331)
            reply = sendCmd(s, "PASS " + password, {230});
        return reply;
    };
    auto proxyLogin = [&] {
        if (!proxy.UserName.empty())
            user(proxy.UserName, proxy.Password);
    };

    TIdReply reply;
    switch (proxy.ProxyType) {
    case TIdFtpProxyType::fpcmNone:
        reply = user(Username, Password);
        break;
    case TIdFtpProxyType::fpcmUserSite:
        proxyLogin();
        reply = user(Username + "@" + Host, Password);
        break;
    case TIdFtpProxyType::fpcmSite:
        proxyLogin();
        sendCmd(s, "SITE " + Host, {});
        reply = user(Username, Password);
        break;
    case TIdFtpProxyType::fpcmOpen:
        proxyLogin();
        sendCmd(s, "OPEN " + Host, {});
        reply = user(Username, Password);
        break;
    case TIdFtpProxyType::fpcmUserPass:
        reply = user(Username + "@" + proxy.UserName + "@" + Host,
                     proxy.Password.empty() ? Password : Password + "@" + proxy.Password);
        break;
    case TIdFtpProxyType::fpcmTransparent:
        proxyLogin();
        reply = user(Username, Password);
        break;
    }
    m_loginMsg = reply.Text;

    sendCmd(s, m_transferType == TIdFTPTransferType::ftASCII ? "TYPE A" : "TYPE I", {200});
    fire(OnAfterClientLogin);
    check(s);
    sendCmd(s, "SYST", {200, 215, 500});
    status(ftpReady, "Connection established");
}

void TIdFTP::ChangeDir(const std::string& dir)
{
    auto s = openSession();
    BusyGuard busy(*s);
    sendCmd(s, "CWD " + dir, {200, 250});
}

std::string TIdFTP::RetrieveCurrentDir()
{
    auto s = openSession();
    BusyGuard busy(*s);
    TIdReply reply = sendCmd(s, "PWD", {257});
    return Parse257(reply.Text.empty() ? std::string() : reply.Text.front()).value_or("");
}

void TIdFTP::MakeDir(const std::string& dir)
{
    auto s = openSession();
    BusyGuard busy(*s);
    sendCmd(s, "MKD " + dir, {257});
}

void TIdFTP::SetTransferType(TIdFTPTransferType type)
{
    if (type == m_transferType)
        return;
    if (Connected()) {
        auto s = openSession();
        BusyGuard busy(*s);
        sendCmd(s, type == TIdFTPTransferType::ftASCII ? "TYPE A" : "TYPE I", {200});
    }
    m_transferType = type;
}

void TIdFTP::Abort()
{
    SessionPtr s = m_session;
    if (!s || !s->open || s->dead)
        return;
    s->abortRequested = true;
    // One ABOR at a time: a second one before the first is answered adds nothing.
    if (s->aborPending == 0) {
        ++s->aborPending;
        sendLine(s, "ABOR");
    }
    s->data.resetHard();
    s->listener.reset();
}

void TIdFTP::Quit()
{
    SessionPtr s = m_session;
    if (s && s->open && !s->dead)
        sendLine(s, "QUIT");
    Disconnect();
}

void TIdFTP::Disconnect()
{
    if (SessionPtr s = m_session)
        shutDown(s, true);
}

void TIdFTP::openDataConnection(const SessionPtr& s)
{
    // A v4-mapped peer (a host given as ::ffff:a.b.c.d) is IPv4 on the wire: the server expects
    // PASV and PORT, and would refuse an EPRT for IPv6.
    bool v6 =
        s->peer.family() == AF_INET6 &&
        !IN6_IS_ADDR_V4MAPPED(&reinterpret_cast<const sockaddr_in6*>(&s->peer.storage)->sin6_addr);
    if (Passive) {
        std::uint16_t port = 0;
        if (v6) {
            TIdReply reply = sendCmd(s, "EPSV", {229});
            auto parsed = Parse229(reply.FormattedText());
            if (!parsed)
                throw EIdReplyRFCError("The server sent an EPSV reply without a port.");
            port = *parsed;
        } else {
            TIdReply reply = sendCmd(s, "PASV", {227});
            auto parsed = Parse227(reply.FormattedText());
            if (!parsed || parsed->Port == 0)
                throw EIdReplyRFCError("The server sent a PASV reply without an address.");
            // The address in the reply is ignored: data goes only to the host we talk to.
            port = parsed->Port;
        }
        if (s->abortRequested)
            return;
        SockAddr target = s->peer;
        target.setPort(port);
        UniqueFd fd(::socket(target.family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (!fd)
            throwSocketError(errno);
        if (::connect(fd.get(), target.get(), target.length) == 0) {
            s->data = std::move(fd);
            return;
        }
        if (errno != EINPROGRESS)
            throwSocketError(errno);
        s->data = std::move(fd); // from here Abort can close it
        for (;;) {
            if (s->abortRequested || !s->data)
                return;
            if (waitFor(s, s->data.get(), POLLOUT) & kReady)
                break;
        }
        int err = 0;
        socklen_t length = sizeof err;
        ::getsockopt(s->data.get(), SOL_SOCKET, SO_ERROR, &err, &length);
        if (err != 0)
            throwSocketError(err);
        return;
    }

    SockAddr local = s->local;
    local.setPort(0);
    UniqueFd fd(::socket(local.family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd || ::bind(fd.get(), local.get(), local.length) != 0 || ::listen(fd.get(), 1) != 0)
        throwSocketError(errno);
    local.length = sizeof local.storage;
    ::getsockname(fd.get(), local.get(), &local.length);
    s->listener = std::move(fd);
    std::string command;
    if (v6) {
        command = "EPRT " + FormatEprt6(local.host(), local.port());
    } else {
        const unsigned char* b =
            local.family() == AF_INET6
                ? reinterpret_cast<const sockaddr_in6*>(&local.storage)->sin6_addr.s6_addr + 12
                : reinterpret_cast<const unsigned char*>(
                      &reinterpret_cast<const sockaddr_in*>(&local.storage)->sin_addr.s_addr);
        command = "PORT " + std::to_string(b[0]) + "," + std::to_string(b[1]) + "," +
                  std::to_string(b[2]) + "," + std::to_string(b[3]) + "," +
                  std::to_string(local.port() >> 8) + "," + std::to_string(local.port() & 0xff);
    }
    sendCmd(s, command, {200});
}

// Active mode: waits for the server's data connection, taken only from the host of the control
// connection. A reply that comes instead is the store's final one and is handed back in early.
// Returns an errno value when the listener failed, 0 otherwise.
int TIdFTP::acceptDataConnection(const SessionPtr& s, std::optional<TIdReply>& early)
{
    for (;;) {
        check(s);
        if (s->abortRequested || !s->listener)
            return 0;
        if ((early = takeReply(s)))
            return 0;
        SockAddr from;
        from.length = sizeof from.storage;
        int fd =
            ::accept4(s->listener.get(), from.get(), &from.length, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            UniqueFd incoming(fd);
            if (!from.sameHost(s->peer))
                continue;
            s->data = std::move(incoming);
            s->listener.reset();
            return 0;
        }
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return errno;
        if (waitFor(s, s->listener.get(), POLLIN, s->control.get()) & kControlReady)
            receiveSome(s);
    }
}

// Sends the file over the data connection between OnWorkBegin and OnWorkEnd. Returns how it
// ended: 0 when complete or aborted, else the errno value of the failure; readError tells a
// failure to read the file from one of the connection.
int TIdFTP::sendData(const SessionPtr& s, int file, std::int64_t size,
                     std::optional<TIdReply>& early, bool& readError)
{
    fire(OnWorkBegin, TWorkMode::wmWrite, size);
    int err = 0;
    try {
        check(s);
        // The file is read many blocks at a time; the blocks still go out, and are reported,
        // one by one.
        const auto blockSize = static_cast<std::size_t>(std::max(1, SendBufferSize));
        std::vector<char> buffer(blockSize * kBlocksPerRead);
        std::size_t bufferPos = 0, bufferLen = 0;
        std::int64_t count = 0;
        bool stop = false;
        while (!stop && !s->abortRequested && s->data) {
            if (bufferPos == bufferLen) {
                ssize_t got = ::read(file, buffer.data(), buffer.size());
                if (got < 0 && errno == EINTR)
                    continue;
                if (got < 0) {
                    err = errno;
                    readError = true;
                    s->data.resetHard();
                    break;
                }
                if (got == 0)
                    break;
                bufferPos = 0;
                bufferLen = static_cast<std::size_t>(got);
            }
            const char* blockData = buffer.data() + bufferPos;
            const auto n = static_cast<ssize_t>(std::min(blockSize, bufferLen - bufferPos));
            bufferPos += static_cast<std::size_t>(n);
            // Small blocks would reach the server as small segments and cost it a wake-up each;
            // MSG_MORE lets the kernel join them. The first block, every 64 KiB and the last
            // block are pushed at once, so nothing waits in the kernel for long.
            int more = 0;
            if (count > 0 && count + n < size && (count + n) / kPush == count / kPush)
                more = MSG_MORE;
            std::size_t sent = 0;
            while (sent < static_cast<std::size_t>(n)) {
                if (s->abortRequested || !s->data) {
                    stop = true;
                    break;
                }
                ssize_t w = ::send(s->data.get(), blockData + sent,
                                   static_cast<std::size_t>(n) - sent, MSG_NOSIGNAL | more);
                if (w > 0) {
                    sent += static_cast<std::size_t>(w);
                    continue;
                }
                if (w < 0 && errno == EINTR)
                    continue;
                if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                    if (waitFor(s, s->data.get(), POLLOUT, s->control.get()) & kControlReady) {
                        receiveSome(s);
                        if ((early = takeReply(s))) {
                            stop = true;
                            break;
                        }
                    }
                    continue;
                }
                err = w < 0 ? errno : EPIPE;
                stop = true;
                break;
            }
            if (stop)
                break;
            count += n;
            pump(s);
            fire(OnWork, TWorkMode::wmWrite, count);
            check(s);
        }
    } catch (...) {
        fire(OnWorkEnd, TWorkMode::wmWrite);
        throw;
    }
    // An orderly end tells the server the file is complete; anything else resets the connection.
    if (err == 0 && !early && !s->abortRequested)
        s->data.reset();
    else
        s->data.resetHard();
    fire(OnWorkEnd, TWorkMode::wmWrite);
    return err;
}

void TIdFTP::Put(const std::string& localPath, const std::string& remoteName)
{
    auto s = openSession();
    checkArgument(remoteName);
    BusyGuard busy(*s);
    s->abortRequested = false;

    UniqueFd file;
    struct stat info
    {
    };
    int openError = ENOENT;
    if (localPath.find('\0') == std::string::npos) {
        file = UniqueFd(::open(localPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        openError = errno;
        if (file && ::fstat(file.get(), &info) != 0)
            openError = errno, file.reset();
        else if (file && !S_ISREG(info.st_mode))
            openError = S_ISDIR(info.st_mode) ? EISDIR : EINVAL, file.reset();
    }
    if (!file)
        throw EFOpenError("Cannot open file \"" + localPath + "\". " + errorText(openError));

    status(ftpTransfer, "Starting FTP transfer");
    check(s);
    struct DataClose
    {
        Session& s;
        ~DataClose()
        {
            s.data.resetHard();
            s.listener.reset();
        }
    } dataClose{*s};

    openDataConnection(s);
    if (s->abortRequested) {
        s->data.resetHard();
        s->listener.reset();
        drainAborReplies(s);
        throw EIdTransferAborted();
    }
    sendLine(s, "STOR " + remoteName);
    TIdReply first = readReply(s);
    if (!isOneOf(first.Code, {110, 125, 150})) {
        s->data.resetHard();
        s->listener.reset();
        drainAborReplies(s);
        throwReplyError(first);
    }

    std::optional<TIdReply> final;
    int dataError = 0;
    bool readError = false;
    if (!s->abortRequested && !Passive)
        dataError = acceptDataConnection(s, final);
    if (!final && !dataError && !s->abortRequested && s->data)
        dataError = sendData(s, file.get(), info.st_size, final, readError);
    s->data.resetHard();
    s->listener.reset();

    check(s);
    if (!final)
        final = readReply(s);
    std::optional<TIdReply> aborReply;
    if (s->aborPending > 0) {
        // An ABOR went out during this store. Servers answer "426 then 226" when it cut the
        // transfer, "226 then 225" when it came too late; some answer a single 225 when no
        // data had moved yet.
        if (final->Code != 225)
            aborReply = readReply(s);
        s->aborPending = 0;
    }
    if (!isOneOf(final->Code, {225, 226, 250, 426, 450}))
        throwReplyError(*final);
    if (final->Code == 426 || final->Code == 450) {
        if (aborReply && !isOneOf(aborReply->Code, {225, 226}))
            throwReplyError(*aborReply);
        status(ftpAborted, "Transfer aborted");
    }
    if (readError)
        throw EReadError("Cannot read file \"" + localPath + "\". " + errorText(dataError));
    if (dataError)
        throwSocketError(dataError);
}
