#pragma once

#include "Exception.h"

#include <string>

// Failures of the FTP client. Every operation of TIdFTP fails by raising one of these.
class EIdException : public Exception
{
public:
    using Exception::Exception;
};

// The socket layer failed: the connection could not be made, was reset, or broke.
class EIdSocketError : public EIdException
{
public:
    EIdSocketError(const std::string& message, int lastError = 0)
        : EIdException(message), m_lastError(lastError)
    {}
    // The errno value behind the failure, 0 when there is none.
    int LastError() const { return m_lastError; }

private:
    int m_lastError;
};

// The host name could not be resolved to an address.
class EIdResolveError : public EIdSocketError
{
public:
    using EIdSocketError::EIdSocketError;
};

// The TCP connection was not made within the connect time-out.
class EIdConnectTimeout : public EIdException
{
public:
    EIdConnectTimeout() : EIdException("Connect timed out.") {}
};

// The server closed the control connection.
class EIdConnClosedGracefully : public EIdException
{
public:
    EIdConnClosedGracefully() : EIdException("Connection Closed Gracefully.") {}
};

// An operation needs an open session and there is none, or the session was closed while the
// operation waited.
class EIdNotConnected : public EIdException
{
public:
    EIdNotConnected() : EIdException("Not connected.") {}
};

// Connect was called while a session is open or being opened.
class EIdAlreadyConnected : public EIdException
{
public:
    EIdAlreadyConnected() : EIdException("Already connected.") {}
};

// A reply line was longer than the client accepts; the session is closed, as the rest of the
// dialogue can no longer be trusted.
class EIdReadLnMaxLineLengthExceeded : public EIdException
{
public:
    EIdReadLnMaxLineLengthExceeded() : EIdException("Max line length exceeded.") {}
};

// The server sent something that is not a well-formed reply: no reply code, or a 227/229 reply
// without a usable address.
class EIdReplyRFCError : public EIdException
{
public:
    using EIdException::EIdException;
};

// The server answered with a reply code the operation does not accept. The message is the
// reply's text lines without their codes, each ended by CR LF.
class EIdProtocolReplyError : public EIdException
{
public:
    EIdProtocolReplyError(int code, const std::string& message)
        : EIdException(message), m_code(code)
    {}
    int ReplyErrorCode() const { return m_code; }

private:
    int m_code;
};

// A command argument holds CR, LF or NUL; refused before anything is sent, so that a file or
// directory name can never smuggle in a second command.
class EIdFTPIllegalArgument : public EIdException
{
public:
    EIdFTPIllegalArgument()
        : EIdException("A command argument may not hold a line break or a NUL byte.")
    {}
};

// A store ended by Abort before its data connection carried anything.
class EIdTransferAborted : public EIdException
{
public:
    EIdTransferAborted() : EIdException("Transfer aborted") {}
};
