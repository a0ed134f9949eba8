#pragma once
// The network and protocol error family. Each class carries its own name as
// message and code 0 unless it is thrown with a text of its own; all copy.
#include <string>

#include "runtime/exception.h"

#define QDL_NET_EXCEPTION(Name, Base)                                             \
    class Name : public Base {                                                   \
    public:                                                                      \
        Name() : Base(#Name, 0) {}                                               \
        explicit Name(const std::string& message, int code = 0) : Base(message, code) {} \
        ~Name() override;                                                        \
    }

namespace qdl {

QDL_NET_EXCEPTION(SocketException, Exception);
QDL_NET_EXCEPTION(ProtocolException, SocketException);
QDL_NET_EXCEPTION(InvalidLoginException, ProtocolException);
QDL_NET_EXCEPTION(InvalidServerPromptException, ProtocolException);
QDL_NET_EXCEPTION(InvalidServerResponseException, ProtocolException);
QDL_NET_EXCEPTION(UnableToConnectException, SocketException);
QDL_NET_EXCEPTION(ConnectionResetException, SocketException);
QDL_NET_EXCEPTION(UnableToResolveAddressException, SocketException);
QDL_NET_EXCEPTION(InvalidSSLCertificateOrKeyException, SocketException);
QDL_NET_EXCEPTION(PortAlreadyUsedException, SocketException);

// True when the text holds a CR, LF or NUL: in a command it would end the
// line early and let the rest run as a command of its own.
bool holdsLineBreak(const std::string& text);

// Throws ProtocolException "invalid or missing argument", before anything
// is sent.
[[noreturn]] void refuseArgument();

}  // namespace qdl

namespace cgp {

// An error answer of the CLI server: its text and its response code.
QDL_NET_EXCEPTION(CLIException, qdl::ProtocolException);

}  // namespace cgp

#undef QDL_NET_EXCEPTION
