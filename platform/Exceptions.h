// The toolkit's exception classes. Every exception carries one message text;
// the engine's own family (EZipEngineError and below) builds on Exception.
#pragma once

#include <stdexcept>
#include <string>

class Exception : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    std::string Message() const { return what(); }
};

// The silent abort: callers end a handler with it and show nothing.
class EAbort : public Exception {
public:
    EAbort() : Exception("Operation aborted") {}
    using Exception::Exception;
};

// An operating-system call failed; the text is the system's own message.
class EOSError : public Exception {
public:
    EOSError(int code, const std::string& message) : Exception(message), ErrorCode(code) {}
    int ErrorCode;
};

class EStreamError : public Exception { public: using Exception::Exception; };
class EReadError : public EStreamError { public: using EStreamError::EStreamError; };
class EWriteError : public EStreamError { public: using EStreamError::EStreamError; };
class EFileStreamError : public EStreamError { public: using EStreamError::EStreamError; };
class EFOpenError : public EFileStreamError { public: using EFileStreamError::EFileStreamError; };
class EFCreateError : public EFileStreamError { public: using EFileStreamError::EFileStreamError; };

class EListError : public Exception { public: using Exception::Exception; };

// Raised when an object is assigned from an object of a class it cannot copy.
class EConvertError : public Exception { public: using Exception::Exception; };

// The system's message for an error number (errno). Unlike strerror, which
// may share one buffer among threads, safe for runs on threads of their own.
std::string ErrorText(int code);

// Raises EOSError for the current errno.
[[noreturn]] void RaiseLastOSError();
