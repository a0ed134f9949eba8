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

}  // namespace qdl

namespace cgp {

CLIException::~CLIException() = default;

}  // namespace cgp
