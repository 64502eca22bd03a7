#pragma once

// Test support: a socket stack without sockets that plays one status server
// through a scripted list of connect attempts, each accepted or refused, an
// accepted one handing out its byte stream from memory in chosen chunk sizes
// and then ending in order or with an error. The whole receive path (client,
// connection, handler, socket handle, monitor loop) then runs in process at
// the speed of memory, with the chunking under the caller's control: for the
// fault sweeps, the fuzz targets, the comparison with the reference loop and
// the benchmarks.
//
// Install it through the stack class seam before the first transport
// component is created:
//   ScopedStackClass stack_class(&StackClassOf<ScriptedPeerStack>);
// and describe the peer with ScriptedPeerStack::SetScript. Only one peer
// serves at a time (the process has one socket stack). What it does not
// serve goes to the stack over the sockets library (its forwarding target),
// which is therefore loaded as usual.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "transport/forwarding_stack.h"

/// The size of the next receive, given the bytes of the stream already
/// handed out; at most the size the receiver asked for is served, and at
/// least one byte. Empty: as much as asked.
using PeerChunking = std::function<std::size_t(std::size_t served)>;

/// Receives of at most `size` bytes each.
PeerChunking ChunksOf(std::size_t size);

/// One connect attempt of the client and what the server does with it.
struct PeerConnection {
  bool accepted = true;  // false: refused (10061)
  /// The bytes the server sends over the connection. Not owned: must outlive
  /// the run.
  std::string_view stream;
  /// Sends, instead of `stream`, what the connection before this one left
  /// unsent of its stream: TCP's stream taken up again after a reconnect.
  bool resumes = false;
  PeerChunking chunking;
  /// How the connection ends once every byte is out: 0 for an orderly close,
  /// or the Windows Sockets code a receive then fails with (10054: reset).
  int end_code = 0;
};

/// The server's part in one run. Every hook is optional.
struct PeerScript {
  /// The client's connect attempts in order; once they are used up, every
  /// later attempt is refused.
  std::vector<PeerConnection> connections;
  /// Asked first by every call the peer serves, with the call's name
  /// ("socket", "bind", "setsockopt", "connect", "select", "receive", "send",
  /// "shutdown", "close"): true fails the call with its usual Windows
  /// Sockets error (socket 10055, bind 10048, setsockopt 10042, connect
  /// 10061, select 10004, receive and send 10054, shutdown 10057, close
  /// 10038; a failed close frees the socket all the same).
  std::function<bool(const char* call)> call_gate;
  /// Called after each send that the server took, outside the peer's lock:
  /// the moment a request has gone out.
  std::function<void()> send_observer;
  /// The most calls the peer serves in one run; the select after that raises
  /// `PeerCallLimitReached` (0: no limit).
  std::size_t most_calls = 0;
};

/// Raised by a select once the script's `most_calls` are used up: the run
/// loops without end. Not derived from `Exception`, so it passes through the
/// transport and every handler of the monitor.
struct PeerCallLimitReached {};

class ScriptedPeerStack final : public ForwardingStack {
 public:
  /// Replaces the script and starts it from its first connection.
  static void SetScript(PeerScript script);

  /// True once every connection of the script has been used and closed: a
  /// later connect attempt finds nothing scripted and is refused.
  static bool ScriptDone();

  /// Sockets made and not yet closed, and the most that were open at once.
  static int OpenSockets();
  static int MostOpenSockets();

  /// Receive calls served, and bytes sent by the client.
  static std::size_t Receives();
  static std::size_t BytesSent();

  /// The call the gate failed first ("select", "receive", ...), or "" when
  /// it failed none.
  static std::string FirstFailedCall();

  // The calls on the client's path, served by the peer; all counted since
  // SetScript.
  int SockBind(ws::Socket s, int family, const std::string& ip, int port) override;
  int SockClose(ws::Socket s) override;
  int SockConnect(ws::Socket s, int family, const std::string& ip, int port) override;
  int SockReceive(ws::Socket s, void* buffer, int length, int flags) override;
  /// Every socket is ready at once: the next receive brings bytes or the end.
  int SockSelect(TIdSocketList* read, TIdSocketList* write, TIdSocketList* error,
                 int timeout_ms) override;
  int SockSend(ws::Socket s, const void* buffer, int length, int flags) override;
  int SockSetOption(ws::Socket s, int level, int option, const void* value, int length) override;
  ws::Socket SockCreate(int family, int type, int protocol) override;
  int SockShutdown(ws::Socket s, int how) override;
  int SockLastError() override;
  void SockPeerName(ws::Socket s, int* family, int* port, std::string* ip) override;
  void SockLocalName(ws::Socket s, int* family, int* port, std::string* ip) override;
  /// No name is known: a run never leaves the process ("localhost" is
  /// resolved by the stack without a lookup).
  std::string SockLookupHost(const std::string& host) override;

  // The peer's sockets are numbers of its own, unknown to the library: the
  // other calls that take a socket fail with "not a socket" rather than
  // reach the library with them. The calls without a socket (address
  // texts, byte order, error texts) are the library stack's.
  ws::Socket SockAccept(ws::Socket s, std::string* peer_ip, int* peer_port) override;
  int SockListen(ws::Socket s, int backlog) override;
  int SockReceiveFrom(ws::Socket s, void* buffer, int length, int flags, std::string* sender_ip,
                      int* sender_port) override;
  int SockSendTo(ws::Socket s, const void* buffer, int length, int flags, const std::string& ip,
                 int port) override;
  int SockGetOption(ws::Socket s, int level, int option, void* value, int* length) override;

 private:
  /// -1 with `code` as the calling thread's last error.
  static int Fail(int code);
};
