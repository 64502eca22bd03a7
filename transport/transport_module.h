#pragma once

/// Start-up step of the transport: the sockets-library binding reset to its
/// stubs and the socket stack class chosen. The library itself is loaded
/// only when the first transport component is created.
void StartTransportModule();

/// Shutdown step: the library's clean-up call if it was started, then the
/// library released; any later sockets call raises EIdWS2StubError.
void StopTransportModule();
