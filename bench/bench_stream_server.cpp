// The peer of the whole-process benchmarks: listens on 127.0.0.1 at a given
// port, serves one connection and reports how long the client took.
//
//   bench-stream-server PORT records BYTES   back-to-back status records, at
//                                            least BYTES in all
//   bench-stream-server PORT single BYTES    one record of BYTES bytes whose
//                                            terminator is its last 15 bytes
//   bench-stream-server PORT idle SECONDS    sends nothing; holds the
//                                            connection for SECONDS
//
// It sends the whole stream as fast as the client takes it, reading the
// client's requests meanwhile (a client that sends one after every record
// would otherwise stall on a full socket), then closes its sending side. It
// is done when the client has sent one request for the connection and one
// per record, or has closed the connection. On standard output, one line:
//   bytes=N records=N requests=N seconds=S
// where S runs from the accept to the last request (or to the close). With
// "idle" it prints "connected" as soon as the first request has arrived.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "demo_server/status_record_maker.h"
#include "platform/unique_fd_posix.h"

namespace {

constexpr std::string_view kRequest = "GET /\r\n";
constexpr std::string_view kTerminator = "</StatusChange>";

[[noreturn]] void Die(const char* what) {
  std::perror(what);
  std::exit(2);
}

std::string Records(std::size_t bytes, std::size_t* records) {
  StatusRecordMaker maker(7);
  auto moment = std::chrono::system_clock::time_point(std::chrono::seconds(1733800000));
  std::string stream;
  stream.reserve(bytes + 4096);
  while (stream.size() < bytes) {
    stream += maker.Next(moment);
    moment += std::chrono::seconds(1);
    ++*records;
  }
  return stream;
}

std::string SingleRecord(std::size_t bytes) {
  std::string stream = "<StatusChange><Event>";
  std::size_t filler =
      bytes > stream.size() + kTerminator.size() ? bytes - stream.size() - kTerminator.size() : 0;
  for (std::size_t i = 0; i < filler; ++i) stream.push_back(i % 64 == 63 ? '\n' : 'a' + i % 26);
  stream += kTerminator;
  return stream;
}

int Listen(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) Die("socket");
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) Die("bind");
  if (listen(fd, 1) != 0) Die("listen");
  return fd;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s PORT records|single|idle BYTES|SECONDS\n", argv[0]);
    return 2;
  }
  const int port = std::atoi(argv[1]);
  const std::string mode = argv[2];
  const std::size_t amount = std::strtoull(argv[3], nullptr, 10);

  std::size_t records = 0;
  std::string stream;
  if (mode == "records") {
    stream = Records(amount, &records);
  } else if (mode == "single") {
    stream = SingleRecord(amount);
    records = 1;
  } else if (mode != "idle") {
    Die("mode");
  }

  UniqueFd listener(Listen(port));
  std::fprintf(stderr, "listening on 127.0.0.1:%d\n", port);
  UniqueFd peer(accept(listener.Get(), nullptr, nullptr));
  if (peer.Get() < 0) Die("accept");
  const auto start = std::chrono::steady_clock::now();

  // Idle: wait for the first request, then hold the connection.
  const std::size_t expected_requests = mode == "idle" ? 2 : records + 1;
  std::size_t sent = 0, requests = 0, request_bytes = 0;
  bool peer_closed = false, announced = false;
  char scratch[65536];
  while (!peer_closed && requests < expected_requests) {
    if (mode == "idle" && requests > 0 && !announced) {
      std::printf("connected\n");
      std::fflush(stdout);
      announced = true;
      std::this_thread::sleep_for(std::chrono::seconds(amount));
      break;
    }
    pollfd entry{peer.Get(), POLLIN, 0};
    if (sent < stream.size()) entry.events |= POLLOUT;
    if (poll(&entry, 1, 60000) <= 0) Die("poll (nothing happens for a minute)");
    if (entry.revents & (POLLIN | POLLHUP | POLLERR)) {
      ssize_t n = recv(peer.Get(), scratch, sizeof scratch, 0);
      if (n <= 0) {
        peer_closed = true;
      } else {
        request_bytes += static_cast<std::size_t>(n);
        requests = request_bytes / kRequest.size();  // requests are all alike
      }
    }
    if (!peer_closed && (entry.revents & POLLOUT)) {
      ssize_t n = send(peer.Get(), stream.data() + sent, stream.size() - sent, MSG_NOSIGNAL);
      if (n < 0) Die("send");
      sent += static_cast<std::size_t>(n);
      if (sent == stream.size()) shutdown(peer.Get(), SHUT_WR);
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (mode != "idle") {
    std::printf("bytes=%zu records=%zu requests=%zu seconds=%.3f\n", sent, records, requests,
                seconds);
  }
  return sent == stream.size() ? 0 : 1;
}
