// The class library's exception classes with their exact texts.
//
// Exception is the general exception: it carries only a message (UTF-8).
// The others add nothing but their place in the hierarchy and the text
// their helpers build.
#pragma once
#include <cerrno>
#include <cstdint>
#include <exception>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& Message() const { return message_; }

private:
    std::string message_;
};

// "'%s' は整数ではありません"
class EConvertError : public Exception {
public:
    using Exception::Exception;
    static EConvertError NotInteger(const std::string& text);
};

// "リストのインデックスが範囲を超えています (%d)"
class EStringListError : public Exception {
public:
    using Exception::Exception;
    static EStringListError IndexOutOfBounds(std::int64_t index);
};

// A file that could not be read or written; ErrorCode() is the system's
// reason (errno) when one is known, else 0.
class EStreamError : public Exception {
public:
    explicit EStreamError(std::string message, int errorCode = 0)
        : Exception(std::move(message)), errorCode_(errorCode)
    {
    }
    int ErrorCode() const { return errorCode_; }

private:
    int errorCode_;
};

// "ファイル %s は開けません"
class EFOpenError : public EStreamError {
public:
    using EStreamError::EStreamError;
    // error: the reason, errno by default (call right after the failure).
    static EFOpenError CannotOpen(const std::string& path, int error = errno);
};

// "ファイル %s を作成できません"
class EFCreateError : public EStreamError {
public:
    using EStreamError::EStreamError;
    static EFCreateError CannotCreate(const std::string& path, int error = errno);
};

class EInvalidOperation : public Exception {
public:
    using Exception::Exception;
};

// The text of any exception as the standard error box shows it: the
// message of an Exception, what() of anything else.
std::string ExceptionMessage(std::exception_ptr error);
