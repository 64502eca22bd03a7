#include "transport/testing/scripted_peer_stack.h"

#include <algorithm>
#include <atomic>
#include <mutex>

namespace {

// Windows Sockets codes of the failures the gate injects, per call, as the
// library gives them for the call's most likely failure.
constexpr int kNoBufferSpace = 10055;  // socket
constexpr int kAddressInUse = 10048;   // bind
constexpr int kNoProtocolOption = 10042;
constexpr int kNotConnected = 10057;  // shutdown

// The server and its progress. The connect runs in a thread of its own, so
// the state is locked; the lock is taken once per call, not per byte. The
// script is replaced only between runs, so its hooks are called unlocked.
struct Peer {
  std::mutex mutex;
  PeerScript script;
  std::size_t next_connection = 0;  // the script's entry the next connect uses
  const PeerConnection* current = nullptr;
  std::string_view stream;  // the current connection's, or the one it resumes
  std::size_t served = 0;   // bytes of `stream` handed out
  ws::Socket next_socket = 100;
  ws::Socket connected = ws::kInvalidSocket;
  int open_sockets = 0;
  int most_open_sockets = 0;
  std::size_t receives = 0;
  std::size_t bytes_sent = 0;
  std::atomic<std::size_t> calls = 0;
  const char* first_failed = "";
};

Peer& ThePeer() {
  static Peer peer;
  return peer;
}

thread_local int t_last_error = 0;

// Counts a call the peer serves and asks the script's gate whether it fails.
bool GateFails(const char* call) {
  Peer& peer = ThePeer();
  const bool fails = peer.script.call_gate && peer.script.call_gate(call);
  ++peer.calls;
  if (fails) {
    std::lock_guard<std::mutex> lock(peer.mutex);
    if (peer.first_failed[0] == '\0') peer.first_failed = call;
  }
  return fails;
}

}  // namespace

PeerChunking ChunksOf(std::size_t size) {
  return [size](std::size_t) { return size; };
}

void ScriptedPeerStack::SetScript(PeerScript script) {
  Peer& peer = ThePeer();
  std::lock_guard<std::mutex> lock(peer.mutex);
  peer.script = std::move(script);
  peer.next_connection = 0;
  peer.current = nullptr;
  peer.stream = {};
  peer.served = 0;
  peer.connected = ws::kInvalidSocket;
  peer.open_sockets = 0;
  peer.most_open_sockets = 0;
  peer.receives = 0;
  peer.bytes_sent = 0;
  peer.calls = 0;
  peer.first_failed = "";
}

bool ScriptedPeerStack::ScriptDone() {
  Peer& peer = ThePeer();
  std::lock_guard<std::mutex> lock(peer.mutex);
  return peer.next_connection == peer.script.connections.size() &&
         peer.connected == ws::kInvalidSocket;
}

int ScriptedPeerStack::OpenSockets() {
  std::lock_guard<std::mutex> lock(ThePeer().mutex);
  return ThePeer().open_sockets;
}

int ScriptedPeerStack::MostOpenSockets() {
  std::lock_guard<std::mutex> lock(ThePeer().mutex);
  return ThePeer().most_open_sockets;
}

std::size_t ScriptedPeerStack::Receives() {
  std::lock_guard<std::mutex> lock(ThePeer().mutex);
  return ThePeer().receives;
}

std::size_t ScriptedPeerStack::BytesSent() {
  std::lock_guard<std::mutex> lock(ThePeer().mutex);
  return ThePeer().bytes_sent;
}

std::string ScriptedPeerStack::FirstFailedCall() {
  std::lock_guard<std::mutex> lock(ThePeer().mutex);
  return ThePeer().first_failed;
}

int ScriptedPeerStack::Fail(int code) {
  t_last_error = code;
  return ws::kSocketError;
}

ws::Socket ScriptedPeerStack::SockCreate(int, int, int) {
  if (GateFails("socket")) {
    Fail(kNoBufferSpace);
    return ws::kInvalidSocket;
  }
  Peer& peer = ThePeer();
  std::lock_guard<std::mutex> lock(peer.mutex);
  peer.most_open_sockets = std::max(peer.most_open_sockets, ++peer.open_sockets);
  return peer.next_socket++;
}

int ScriptedPeerStack::SockBind(ws::Socket, int, const std::string&, int) {
  return GateFails("bind") ? Fail(kAddressInUse) : 0;
}

int ScriptedPeerStack::SockConnect(ws::Socket s, int, const std::string&, int) {
  if (GateFails("connect")) return Fail(ws::kWsaEConnRefused);
  Peer& peer = ThePeer();
  std::lock_guard<std::mutex> lock(peer.mutex);
  if (peer.next_connection == peer.script.connections.size()) return Fail(ws::kWsaEConnRefused);
  const PeerConnection& connection = peer.script.connections[peer.next_connection++];
  if (!connection.accepted) return Fail(ws::kWsaEConnRefused);
  if (!connection.resumes) {
    peer.stream = connection.stream;
    peer.served = 0;
  }
  peer.current = &connection;
  peer.connected = s;
  return 0;
}

int ScriptedPeerStack::SockSelect(TIdSocketList* read, TIdSocketList* write, TIdSocketList* error,
                                  int) {
  // Every wait for bytes selects first: a run without end passes here. (The
  // calls that may run inside a destructor, close and shutdown, must not
  // raise.)
  const Peer& peer = ThePeer();
  if (peer.script.most_calls != 0 && peer.calls > peer.script.most_calls) {
    throw PeerCallLimitReached{};
  }
  if (GateFails("select")) return Fail(ws::kWsaEIntr);
  if (error != nullptr) error->clear();
  std::size_t ready = (read != nullptr ? read->size() : 0) + (write != nullptr ? write->size() : 0);
  return static_cast<int>(ready);
}

int ScriptedPeerStack::SockReceive(ws::Socket s, void* buffer, int length, int) {
  if (GateFails("receive")) return Fail(ws::kWsaEConnReset);
  Peer& peer = ThePeer();
  std::lock_guard<std::mutex> lock(peer.mutex);
  if (s != peer.connected || peer.current == nullptr) return Fail(ws::kWsaENotSock);
  ++peer.receives;
  const std::string_view stream = peer.stream;
  if (peer.served == stream.size()) {
    return peer.current->end_code == 0 ? 0 : Fail(peer.current->end_code);
  }
  std::size_t size = static_cast<std::size_t>(std::max(length, 0));
  if (peer.current->chunking) size = std::min(size, peer.current->chunking(peer.served));
  size = std::clamp<std::size_t>(size, 1, stream.size() - peer.served);
  std::copy_n(stream.data() + peer.served, size, static_cast<char*>(buffer));
  peer.served += size;
  return static_cast<int>(size);
}

int ScriptedPeerStack::SockSend(ws::Socket s, const void*, int length, int) {
  if (GateFails("send")) return Fail(ws::kWsaEConnReset);
  Peer& peer = ThePeer();
  {
    std::lock_guard<std::mutex> lock(peer.mutex);
    if (s != peer.connected) return Fail(ws::kWsaENotSock);
    peer.bytes_sent += static_cast<std::size_t>(length);
  }
  // Without the lock: the observer may look at the peer.
  if (peer.script.send_observer) peer.script.send_observer();
  return length;
}

int ScriptedPeerStack::SockShutdown(ws::Socket, int) {
  return GateFails("shutdown") ? Fail(kNotConnected) : 0;
}

int ScriptedPeerStack::SockClose(ws::Socket s) {
  // The socket is gone whatever the result: the library frees it also when
  // it reports an error.
  const bool failed = GateFails("close");
  Peer& peer = ThePeer();
  std::lock_guard<std::mutex> lock(peer.mutex);
  --peer.open_sockets;
  if (s == peer.connected) {
    peer.connected = ws::kInvalidSocket;
    peer.current = nullptr;
  }
  return failed ? Fail(ws::kWsaENotSock) : 0;
}

int ScriptedPeerStack::SockLastError() { return t_last_error; }

void ScriptedPeerStack::SockPeerName(ws::Socket, int* family, int* port, std::string* ip) {
  *family = ws::kAfInet;
  *port = 80;
  *ip = "127.0.0.1";
}

void ScriptedPeerStack::SockLocalName(ws::Socket, int* family, int* port, std::string* ip) {
  *family = ws::kAfInet;
  *port = 50000;
  *ip = "127.0.0.1";
}

int ScriptedPeerStack::SockSetOption(ws::Socket, int, int, const void*, int) {
  return GateFails("setsockopt") ? Fail(kNoProtocolOption) : 0;
}

std::string ScriptedPeerStack::SockLookupHost(const std::string&) {
  CheckSocketResult(Fail(ws::kWsaHostNotFound));
  return {};
}

ws::Socket ScriptedPeerStack::SockAccept(ws::Socket, std::string*, int*) {
  Fail(ws::kWsaENotSock);
  return ws::kInvalidSocket;
}

int ScriptedPeerStack::SockListen(ws::Socket, int) { return Fail(ws::kWsaENotSock); }

int ScriptedPeerStack::SockReceiveFrom(ws::Socket, void*, int, int, std::string*, int*) {
  return Fail(ws::kWsaENotSock);
}

int ScriptedPeerStack::SockSendTo(ws::Socket, const void*, int, int, const std::string&, int) {
  return Fail(ws::kWsaENotSock);
}

int ScriptedPeerStack::SockGetOption(ws::Socket, int, int, void*, int*) {
  return Fail(ws::kWsaENotSock);
}
