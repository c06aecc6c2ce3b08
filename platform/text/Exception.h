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
