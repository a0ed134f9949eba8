#pragma once
// The one base of every exception the system throws: a text and a code.
#include <exception>
#include <string>

namespace qdl {

class Exception : public std::exception {
public:
    Exception() : code_(0) {}
    explicit Exception(int code) : code_(code) {}
    Exception(const std::string& message, int code) : message_(message), code_(code) {}
    Exception(const Exception&) = default;
    Exception& operator=(const Exception&) = default;
    ~Exception() override;

    const char* what() const noexcept override { return message_.c_str(); }
    virtual const std::string& message() const noexcept { return message_; }
    virtual int code() const noexcept { return code_; }

private:
    std::string message_;
    int code_;
};

// The child-process family: each carries its class name as message, code 0.
#define QDL_NAMED_EXCEPTION(Name)                          \
    class Name : public Exception {                        \
    public:                                                \
        Name() : Exception(#Name, 0) {}                    \
        ~Name() override;                                  \
    }

QDL_NAMED_EXCEPTION(FileNotFoundException);
QDL_NAMED_EXCEPTION(ArgumentListTooLongException);
QDL_NAMED_EXCEPTION(FileNotExecutableException);

}  // namespace qdl
