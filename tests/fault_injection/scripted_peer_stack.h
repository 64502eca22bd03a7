#pragma once

// Test support: a socket stack without sockets that plays one status server
// through a scripted sequence of connections, and fails any call on the
// fault plan's demand (`CallFaults`, kind "socket") with that call's
// realistic Windows Sockets error. Install it through the stack class seam
// before the first transport component is created:
//   ScopedStackClass stack_class(&StackClassOf<ScriptedPeerStack>);
// What it does not serve goes to the stack over the sockets library (its
// forwarding target), which is therefore loaded as usual.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "transport/forwarding_stack.h"

/// Raised (through the transport and every handler of the monitor, since it
/// is not an `Exception`) by a select after `kMostSocketCalls` calls in one
/// script: the run loops without end.
struct SocketCallLimitReached {};
inline constexpr std::size_t kMostSocketCalls = 20000;

/// One connect attempt of the monitor and what the server does with it.
struct PeerConnection {
  bool accepted = true;  // false: refused (10061)
  /// The bytes the server sends over the connection, then it closes it in
  /// order. Not owned.
  std::string_view stream;
  /// The most bytes one receive hands out.
  std::size_t chunk = 7;
};

class ScriptedPeerStack final : public ForwardingStack {
 public:
  /// Replaces the script and starts it from its first connection.
  static void SetScript(std::vector<PeerConnection> connections);

  /// True once every connection of the script has been used and closed: a
  /// later connect attempt finds nothing scripted and is refused.
  static bool ScriptDone();

  /// Sockets made and not yet closed.
  static int OpenSockets();

  /// The most sockets that were open at once since SetScript.
  static int MostOpenSockets();

  /// Called, in a `HarnessScope`, after each send that the server took:
  /// the moment a request has gone out. Cleared by SetScript.
  static void SetSendObserver(std::function<void()> observer);

  /// The call the plan failed first since SetScript ("select", "receive",
  /// ...), or "" when none failed.
  static std::string FirstFailedCall();

  int SockBind(ws::Socket s, int family, const std::string& ip, int port) override;
  int SockClose(ws::Socket s) override;
  int SockConnect(ws::Socket s, int family, const std::string& ip, int port) override;
  int SockReceive(ws::Socket s, void* buffer, int length, int flags) override;
  int SockSelect(TIdSocketList* read, TIdSocketList* write, TIdSocketList* error,
                 int timeout_ms) override;
  int SockSend(ws::Socket s, const void* buffer, int length, int flags) override;
  int SockSetOption(ws::Socket s, int level, int option, const void* value, int length) override;
  ws::Socket SockCreate(int family, int type, int protocol) override;
  int SockShutdown(ws::Socket s, int how) override;
  int SockLastError() override;
  void SockPeerName(ws::Socket s, int* family, int* port, std::string* ip) override;
  void SockLocalName(ws::Socket s, int* family, int* port, std::string* ip) override;
  std::string SockLookupHost(const std::string& host) override;

 private:
  /// -1 with `code` as the calling thread's last error.
  static int Fail(int code);
};
