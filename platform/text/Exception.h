#pragma once

#include <stdexcept>
#include <string>

// The root of every error the program raises and reports; its message is UTF-8 text meant for
// the log pane.
class Exception : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// A text that is not a number where one is needed.
class EConvertError : public Exception
{
public:
    using Exception::Exception;
};

// A file exists but cannot be opened for reading.
class EFOpenError : public Exception
{
public:
    using Exception::Exception;
};

// A file cannot be created or replaced.
class EFCreateError : public Exception
{
public:
    using Exception::Exception;
};

// A file failed while it was being read.
class EReadError : public Exception
{
public:
    using Exception::Exception;
};
