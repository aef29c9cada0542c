// The class library's exception classes with their exact texts.
//
// Exception is the general exception: it carries only a message (UTF-8).
// The others add nothing but their place in the hierarchy and the text
// their helpers build.
#pragma once
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

class EStreamError : public Exception {
public:
    using Exception::Exception;
};

// "ファイル %s は開けません"
class EFOpenError : public EStreamError {
public:
    using EStreamError::EStreamError;
    static EFOpenError CannotOpen(const std::string& path);
};

// "ファイル %s を作成できません"
class EFCreateError : public EStreamError {
public:
    using EStreamError::EStreamError;
    static EFCreateError CannotCreate(const std::string& path);
};

class EInvalidOperation : public Exception {
public:
    using Exception::Exception;
};

// The text of any exception as the standard error box shows it: the
// message of an Exception, what() of anything else.
std::string ExceptionMessage(std::exception_ptr error);
