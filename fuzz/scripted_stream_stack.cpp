#include "fuzz/scripted_stream_stack.h"

#include <algorithm>
#include <mutex>

namespace {

// The peer and its progress. The connect runs in a thread of its own, so the
// state is locked; the lock is taken once per receive, not per byte.
struct Peer {
  std::mutex mutex;
  StreamScript script;
  std::size_t served = 0;
  std::size_t receives = 0;
  std::size_t bytes_sent = 0;
  int connects = 0;
  ws::Socket next_socket = 100;
  ws::Socket connected = ws::kInvalidSocket;
};

Peer& ThePeer() {
  static Peer peer;
  return peer;
}

thread_local int t_last_error = 0;

}  // namespace

void ScriptedStreamStack::SetScript(StreamScript script) {
  Peer& peer = ThePeer();
  std::lock_guard<std::mutex> lock(peer.mutex);
  peer.script = std::move(script);
  peer.served = 0;
  peer.receives = 0;
  peer.bytes_sent = 0;
  peer.connects = 0;
  peer.connected = ws::kInvalidSocket;
}

std::size_t ScriptedStreamStack::Receives() {
  std::lock_guard<std::mutex> lock(ThePeer().mutex);
  return ThePeer().receives;
}

std::size_t ScriptedStreamStack::BytesSent() {
  std::lock_guard<std::mutex> lock(ThePeer().mutex);
  return ThePeer().bytes_sent;
}

int ScriptedStreamStack::Fail(int code) {
  t_last_error = code;
  return ws::kSocketError;
}

ws::Socket ScriptedStreamStack::SockCreate(int, int, int) {
  std::lock_guard<std::mutex> lock(ThePeer().mutex);
  return ThePeer().next_socket++;
}

int ScriptedStreamStack::SockBind(ws::Socket, int, const std::string&, int) { return 0; }

int ScriptedStreamStack::SockConnect(ws::Socket s, int, const std::string&, int) {
  Peer& peer = ThePeer();
  std::lock_guard<std::mutex> lock(peer.mutex);
  if (peer.connects >= peer.script.connects_accepted) return Fail(ws::kWsaEConnRefused);
  ++peer.connects;
  peer.connected = s;
  return 0;
}

int ScriptedStreamStack::SockSelect(TIdSocketList* read, TIdSocketList* write, TIdSocketList* error,
                                    int) {
  // Every socket is ready at once: the next receive brings bytes or the end.
  if (error != nullptr) error->clear();
  std::size_t ready = (read != nullptr ? read->size() : 0) + (write != nullptr ? write->size() : 0);
  return static_cast<int>(ready);
}

int ScriptedStreamStack::SockReceive(ws::Socket s, void* buffer, int length, int) {
  Peer& peer = ThePeer();
  std::lock_guard<std::mutex> lock(peer.mutex);
  if (s != peer.connected) return Fail(ws::kWsaENotSock);
  ++peer.receives;
  const std::string_view stream = peer.script.stream;
  if (peer.served == stream.size()) {
    return peer.script.end_code == 0 ? 0 : Fail(peer.script.end_code);
  }
  std::size_t size = static_cast<std::size_t>(std::max(length, 0));
  if (peer.script.next_chunk) size = std::min(size, peer.script.next_chunk(peer.served));
  size = std::clamp<std::size_t>(size, 1, stream.size() - peer.served);
  std::copy_n(stream.data() + peer.served, size, static_cast<char*>(buffer));
  peer.served += size;
  return static_cast<int>(size);
}

int ScriptedStreamStack::SockSend(ws::Socket s, const void*, int length, int) {
  Peer& peer = ThePeer();
  std::lock_guard<std::mutex> lock(peer.mutex);
  if (s != peer.connected) return Fail(ws::kWsaENotSock);
  peer.bytes_sent += static_cast<std::size_t>(length);
  return length;
}

int ScriptedStreamStack::SockShutdown(ws::Socket, int) { return 0; }

int ScriptedStreamStack::SockClose(ws::Socket s) {
  Peer& peer = ThePeer();
  std::lock_guard<std::mutex> lock(peer.mutex);
  if (s == peer.connected) peer.connected = ws::kInvalidSocket;
  return 0;
}

int ScriptedStreamStack::SockLastError() { return t_last_error; }

void ScriptedStreamStack::SockPeerName(ws::Socket, int* family, int* port, std::string* ip) {
  *family = ws::kAfInet;
  *port = 80;
  *ip = "127.0.0.1";
}

void ScriptedStreamStack::SockLocalName(ws::Socket, int* family, int* port, std::string* ip) {
  *family = ws::kAfInet;
  *port = 50000;
  *ip = "127.0.0.1";
}

int ScriptedStreamStack::SockSetOption(ws::Socket, int, int, const void*, int) { return 0; }

std::string ScriptedStreamStack::SockLookupHost(const std::string&) {
  CheckSocketResult(Fail(ws::kWsaHostNotFound));
  return {};
}

ws::Socket ScriptedStreamStack::SockAccept(ws::Socket, std::string*, int*) {
  Fail(ws::kWsaENotSock);
  return ws::kInvalidSocket;
}
int ScriptedStreamStack::SockListen(ws::Socket, int) { return Fail(ws::kWsaENotSock); }
int ScriptedStreamStack::SockReceiveFrom(ws::Socket, void*, int, int, std::string*, int*) {
  return Fail(ws::kWsaENotSock);
}
int ScriptedStreamStack::SockSendTo(ws::Socket, const void*, int, int, const std::string&, int) {
  return Fail(ws::kWsaENotSock);
}
int ScriptedStreamStack::SockGetOption(ws::Socket, int, int, void*, int*) {
  return Fail(ws::kWsaENotSock);
}
