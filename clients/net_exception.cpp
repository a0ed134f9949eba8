#include "clients/net_exception.h"

namespace qdl {

SocketException::~SocketException() = default;
ProtocolException::~ProtocolException() = default;
InvalidLoginException::~InvalidLoginException() = default;
InvalidServerPromptException::~InvalidServerPromptException() = default;
InvalidServerResponseException::~InvalidServerResponseException() = default;
UnableToConnectException::~UnableToConnectException() = default;
ConnectionResetException::~ConnectionResetException() = default;
UnableToResolveAddressException::~UnableToResolveAddressException() = default;
InvalidSSLCertificateOrKeyException::~InvalidSSLCertificateOrKeyException() = default;
PortAlreadyUsedException::~PortAlreadyUsedException() = default;

bool holdsLineBreak(const std::string& text) {
    return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

void refuseArgument() { throw ProtocolException("invalid or missing argument", 0); }

}  // namespace qdl

namespace cgp {

CLIException::~CLIException() = default;

}  // namespace cgp
