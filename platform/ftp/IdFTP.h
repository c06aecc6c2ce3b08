#pragma once

#include "IdAntiFreeze.h"
#include "IdException.h"
#include "IdLogEvent.h"
#include "IdReply.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

enum class TIdFTPTransferType
{
    ftASCII,
    ftBinary
};

enum class TIdFtpProxyType
{
    fpcmNone,
    fpcmUserSite,
    fpcmSite,
    fpcmOpen,
    fpcmUserPass,
    fpcmTransparent
};

// Status codes of OnStatus; the numbers are part of the contract.
enum TIdStatus
{
    hsResolving = 0,
    hsConnecting,
    hsConnected,
    hsDisconnecting,
    hsDisconnected,
    hsStatusText,
    ftpTransfer,
    ftpReady,
    ftpAborted
};

enum class TWorkMode
{
    wmRead = 0,
    wmWrite = 1
};

struct TIdFtpProxySettings
{
    TIdFtpProxyType ProxyType = TIdFtpProxyType::fpcmNone;
    std::string Host;
    int Port = 0;
    std::string UserName, Password;
};

// A blocking FTP client for storing files. Every operation blocks until the server has answered
// and fails by raising an EIdException (or EFOpenError for a local file). While it waits it runs
// AntiFreeze's pump; a handler run from the pump or from any event may call Abort, Disconnect
// or Quit on this client, and after the running operation has ended the client is ready for
// the next Connect. The client must outlive the handlers' calls into it. A reply line longer
// than IdMaxLineLength always fails the operation. Replies are awaited without a time limit.
class TIdFTP
{
public:
    std::string Host;
    int Port = 21;
    std::string Username, Password;
    // Passive (PASV, EPSV over IPv6) or active (PORT, EPRT over IPv6) data connections.
    bool Passive = false;
    // Chunk size of control reads, and block size of the data sent by Put.
    int RecvBufferSize = 8196, SendBufferSize = 8196;
    TIdLogEvent* Intercept = nullptr;
    TIdAntiFreeze* AntiFreeze = nullptr;
    TIdFtpProxySettings ProxySettings;

    std::function<void(TIdStatus status, const std::string& text)> OnStatus;
    // Put's data transfer: OnWorkBegin with the file's size, OnWork with the bytes sent so far
    // after every block, OnWorkEnd at its end (also on failure) before the final reply.
    std::function<void(TWorkMode mode, std::int64_t countMax)> OnWorkBegin;
    std::function<void(TWorkMode mode, std::int64_t count)> OnWork;
    std::function<void(TWorkMode mode)> OnWorkEnd;
    // Fired by Login after the log-in and its TYPE command, before SYST.
    std::function<void()> OnAfterClientLogin;
    // Fired once each time an open control connection ends, whoever ended it.
    std::function<void()> OnDisconnected;

    TIdFTP();
    ~TIdFTP();
    TIdFTP(const TIdFTP&) = delete;
    TIdFTP& operator=(const TIdFTP&) = delete;

    // Opens the control connection to Host:Port, or to the proxy when a proxy mode is set and
    // ProxySettings.Host is not empty, within timeoutMs (0 or negative: 120 s) for resolving
    // and connecting, reads the 220 greeting and, with autoLogin, runs Login. On a failure after
    // the TCP connection was made it disconnects (with its notification) and then raises.
    void Connect(bool autoLogin = true, int timeoutMs = 0);
    // The log-in dialogue of the proxy mode, "TYPE" with the current type, OnAfterClientLogin,
    // "SYST" (200, 215 or 500 accepted), then the status "Connection established". Disconnects
    // and raises on any failure.
    void Login();
    // "CWD dir", accepting 200 or 250.
    void ChangeDir(const std::string& dir);
    // "PWD", accepting 257; returns the quoted name of the reply's first line ("" when none).
    std::string RetrieveCurrentDir();
    // "MKD dir", accepting 257.
    void MakeDir(const std::string& dir);
    // The type announced for the next transfers; starts as ftBinary and outlives sessions.
    TIdFTPTransferType TransferType() const { return m_transferType; }
    // Sends "TYPE A" or "TYPE I" (200) only when type differs from the current one and a session
    // is open; the current type changes only when the server accepted it.
    void SetTransferType(TIdFTPTransferType type);
    // Stores the local file under remoteName with "STOR" (never appending) over a passive or
    // active data connection, in blocks of at most SendBufferSize bytes. The final reply is
    // always read when the control connection lives; 225, 226, 250, 426 and 450 are accepted,
    // the last two with the status "Transfer aborted". Raises EFOpenError when the file cannot
    // be opened, EIdTransferAborted when Abort stopped it before the STOR went out.
    void Put(const std::string& localPath, const std::string& remoteName);
    // Sends "ABOR" when connected without awaiting its reply, and closes the data connection so
    // that a running Put ends; Put then reads the replies to STOR and ABOR.
    void Abort();
    // Sends "QUIT" when connected without awaiting its reply, then Disconnect.
    void Quit();
    // Closes an open connection without a command: "Disconnecting.", OnDisconnected,
    // "Disconnected.". Does nothing when no connection is open; cancels a Connect under way.
    void Disconnect();
    // Whether a control connection is open.
    bool Connected() const;
    // The text lines of the reply that ended the last log-in, codes stripped.
    const std::vector<std::string>& LoginMsgLines() const { return m_loginMsg; }

private:
    struct Session;
    using SessionPtr = std::shared_ptr<Session>;
    using Clock = std::chrono::steady_clock;

    SessionPtr m_session;
    TIdFTPTransferType m_transferType = TIdFTPTransferType::ftBinary;
    std::vector<std::string> m_loginMsg;
    Clock::time_point m_lastPump;

    SessionPtr openSession() const;
    void status(TIdStatus code, const std::string& text);
    void check(const SessionPtr& s);
    void pump(const SessionPtr& s);
    void pumpIfDue(const SessionPtr& s);
    int sliceMs() const;
    int waitFor(const SessionPtr& s, int fd, short events, int controlFd = -1,
                const Clock::time_point* deadline = nullptr);

    void connectControl(const SessionPtr& s, int timeoutMs);
    void login(const SessionPtr& s);
    void shutDown(const SessionPtr& s, bool byUs);
    [[noreturn]] void controlLost(const SessionPtr& s, int err);

    void sendLine(const SessionPtr& s, const std::string& line);
    void flush(const SessionPtr& s);
    bool receiveSome(const SessionPtr& s);
    std::optional<TIdReply> takeReply(const SessionPtr& s);
    TIdReply readReply(const SessionPtr& s);
    void drainAborReplies(const SessionPtr& s);
    TIdReply sendCmd(const SessionPtr& s, const std::string& command,
                     std::initializer_list<int> expected);

    void openDataConnection(const SessionPtr& s);
    int acceptDataConnection(const SessionPtr& s, std::optional<TIdReply>& early);
    int sendData(const SessionPtr& s, int file, std::int64_t size, std::optional<TIdReply>& early,
                 bool& readError);
};
