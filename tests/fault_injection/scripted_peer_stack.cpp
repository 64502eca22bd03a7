#include "tests/fault_injection/scripted_peer_stack.h"

#include <algorithm>
#include <mutex>

#include "tests/fault_injection/call_faults.h"

namespace {

// Windows Sockets codes of the failures injected, per call, as the library
// gives them for the call's most likely failure.
constexpr int kNoBufferSpace = 10055;  // socket
constexpr int kAddressInUse = 10048;   // bind
constexpr int kNoProtocolOption = 10042;
constexpr int kNotConnected = 10057;  // shutdown

// The server and its progress. The connect runs in a thread of its own, so
// the state is locked.
struct Peer {
  std::mutex mutex;
  std::vector<PeerConnection> script;
  std::size_t next_connection = 0;  // the script's entry the next connect uses
  std::size_t served = 0;           // bytes of the current connection's stream
  const PeerConnection* current = nullptr;
  ws::Socket next_socket = 100;
  ws::Socket connected = ws::kInvalidSocket;
  int open_sockets = 0;
  int most_open_sockets = 0;
  std::function<void()> send_observer;
  std::size_t calls = 0;
  const char* first_failed = "";
};

Peer& ThePeer() {
  static Peer peer;
  return peer;
}

thread_local int t_last_error = 0;

// Asks the plan whether this call fails; the peer's own work is the harness's.
bool Injected(const char* call) {
  bool fails = CallFaults::Fails(CallKind::kSocket);
  Peer& peer = ThePeer();
  std::lock_guard<std::mutex> lock(peer.mutex);
  ++peer.calls;
  if (fails && peer.first_failed[0] == '\0') peer.first_failed = call;
  return fails;
}

bool OverTheCallLimit() {
  std::lock_guard<std::mutex> lock(ThePeer().mutex);
  return ThePeer().calls > kMostSocketCalls;
}

}  // namespace

void ScriptedPeerStack::SetScript(std::vector<PeerConnection> connections) {
  Peer& peer = ThePeer();
  std::lock_guard<std::mutex> lock(peer.mutex);
  peer.script = std::move(connections);
  peer.next_connection = 0;
  peer.served = 0;
  peer.current = nullptr;
  peer.connected = ws::kInvalidSocket;
  peer.open_sockets = 0;
  peer.most_open_sockets = 0;
  peer.send_observer = nullptr;
  peer.calls = 0;
  peer.first_failed = "";
}

std::string ScriptedPeerStack::FirstFailedCall() {
  std::lock_guard<std::mutex> lock(ThePeer().mutex);
  return ThePeer().first_failed;
}

bool ScriptedPeerStack::ScriptDone() {
  Peer& peer = ThePeer();
  std::lock_guard<std::mutex> lock(peer.mutex);
  return peer.next_connection == peer.script.size() && peer.connected == ws::kInvalidSocket;
}

int ScriptedPeerStack::OpenSockets() {
  std::lock_guard<std::mutex> lock(ThePeer().mutex);
  return ThePeer().open_sockets;
}

int ScriptedPeerStack::MostOpenSockets() {
  std::lock_guard<std::mutex> lock(ThePeer().mutex);
  return ThePeer().most_open_sockets;
}

void ScriptedPeerStack::SetSendObserver(std::function<void()> observer) {
  CallFaults::HarnessScope harness;
  std::lock_guard<std::mutex> lock(ThePeer().mutex);
  ThePeer().send_observer = std::move(observer);
}

int ScriptedPeerStack::Fail(int code) {
  t_last_error = code;
  return ws::kSocketError;
}

ws::Socket ScriptedPeerStack::SockCreate(int, int, int) {
  if (Injected("socket")) {
    Fail(kNoBufferSpace);
    return ws::kInvalidSocket;
  }
  CallFaults::HarnessScope harness;
  std::lock_guard<std::mutex> lock(ThePeer().mutex);
  Peer& peer = ThePeer();
  peer.most_open_sockets = std::max(peer.most_open_sockets, ++peer.open_sockets);
  return peer.next_socket++;
}

int ScriptedPeerStack::SockBind(ws::Socket, int, const std::string&, int) {
  return Injected("bind") ? Fail(kAddressInUse) : 0;
}

int ScriptedPeerStack::SockConnect(ws::Socket s, int, const std::string&, int) {
  if (Injected("connect")) return Fail(ws::kWsaEConnRefused);
  CallFaults::HarnessScope harness;
  Peer& peer = ThePeer();
  std::lock_guard<std::mutex> lock(peer.mutex);
  if (peer.next_connection == peer.script.size()) return Fail(ws::kWsaEConnRefused);
  const PeerConnection& connection = peer.script[peer.next_connection++];
  if (!connection.accepted) return Fail(ws::kWsaEConnRefused);
  peer.current = &connection;
  peer.served = 0;
  peer.connected = s;
  return 0;
}

int ScriptedPeerStack::SockSelect(TIdSocketList* read, TIdSocketList* write, TIdSocketList* error,
                                  int) {
  // Every wait for bytes selects first: a run without end passes here. (The
  // calls that may run inside a destructor, close and shutdown, must not
  // raise.)
  if (OverTheCallLimit()) throw SocketCallLimitReached{};
  if (Injected("select")) return Fail(ws::kWsaEIntr);
  // Every socket is ready at once: the next receive brings bytes or the end.
  if (error != nullptr) error->clear();
  std::size_t ready = (read != nullptr ? read->size() : 0) + (write != nullptr ? write->size() : 0);
  return static_cast<int>(ready);
}

int ScriptedPeerStack::SockReceive(ws::Socket s, void* buffer, int length, int) {
  if (Injected("receive")) return Fail(ws::kWsaEConnReset);
  CallFaults::HarnessScope harness;
  Peer& peer = ThePeer();
  std::lock_guard<std::mutex> lock(peer.mutex);
  if (s != peer.connected || peer.current == nullptr) return Fail(ws::kWsaENotSock);
  std::string_view stream = peer.current->stream;
  if (peer.served == stream.size()) return 0;  // the server has closed in order
  std::size_t size = std::min({static_cast<std::size_t>(std::max(length, 1)), peer.current->chunk,
                               stream.size() - peer.served});
  std::copy_n(stream.data() + peer.served, size, static_cast<char*>(buffer));
  peer.served += size;
  return static_cast<int>(size);
}

int ScriptedPeerStack::SockSend(ws::Socket s, const void*, int length, int) {
  if (Injected("send")) return Fail(ws::kWsaEConnReset);
  CallFaults::HarnessScope harness;
  std::function<void()> observer;
  {
    std::lock_guard<std::mutex> lock(ThePeer().mutex);
    if (s != ThePeer().connected) return Fail(ws::kWsaENotSock);
    observer = ThePeer().send_observer;
  }
  // Without the lock: the observer may look at the peer.
  if (observer) observer();
  return length;
}

int ScriptedPeerStack::SockShutdown(ws::Socket, int) {
  return Injected("shutdown") ? Fail(kNotConnected) : 0;
}

int ScriptedPeerStack::SockClose(ws::Socket s) {
  // The socket is gone whatever the result: the library frees it also when
  // it reports an error.
  bool failed = Injected("close");
  CallFaults::HarnessScope harness;
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
  return Injected("setsockopt") ? Fail(kNoProtocolOption) : 0;
}

std::string ScriptedPeerStack::SockLookupHost(const std::string&) {
  // Only "localhost" is scripted, which the stack resolves without a lookup.
  CheckSocketResult(Fail(ws::kWsaHostNotFound));
  return {};
}
