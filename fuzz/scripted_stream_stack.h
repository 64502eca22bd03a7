#pragma once

// A socket stack without sockets: one peer whose answer is a byte stream held
// in memory and handed out in chosen chunk sizes. It lets the whole receive
// path (client, connection, handler, socket handle, monitor loop) run in
// process at the speed of memory, with the chunking under the caller's
// control, for fuzzing and for measuring the per-byte cost of the loop.
//
// Install it through the stack class seam before the first transport
// component is created:
//   ScopedStackClass stack_class(&StackClassOf<ScriptedStreamStack>);
// and describe the peer with ScriptedStreamStack::SetScript. Only one stack
// of this kind serves at a time (the process has one socket stack). It
// forwards what it does not serve itself to the stack over the sockets
// library, which is therefore loaded as usual.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "transport/forwarding_stack.h"

/// What the one peer does.
struct StreamScript {
  /// The bytes the peer sends, in order. Not owned: must outlive the run.
  std::string_view stream;
  /// The size of the next receive, given the bytes already handed out; at
  /// most the size the receiver asked for is served. Empty: as much as asked.
  std::function<std::size_t(std::size_t served)> next_chunk;
  /// How the stream ends once every byte is out: 0 for an orderly close, or
  /// the Windows Sockets code a receive then fails with (10054: reset).
  int end_code = 0;
  /// How many connects succeed; later ones are refused (10061).
  int connects_accepted = 1;
};

class ScriptedStreamStack final : public ForwardingStack {
 public:
  /// Replaces the peer and starts its stream from the beginning.
  static void SetScript(StreamScript script);

  /// Receive calls served since SetScript, and bytes sent by the client.
  static std::size_t Receives();
  static std::size_t BytesSent();

  // The calls on the client's path, served by the peer.
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
  /// No name is known: a run never leaves the process.
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
