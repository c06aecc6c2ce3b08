#pragma once

#include "Exception.h"

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
    {
    }
    // The errno value behind the failure, 0 when there is none.
    int LastError() const { return m_lastError; }

private:
    int m_lastError;
};
