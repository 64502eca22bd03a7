/* The floor of the whole-process benchmark: the fewest system calls and the
 * least work with which a program can write the status monitor's log of a
 * stream. It connects to 127.0.0.1:PORT, writes the same log bytes as the
 * monitor (banner, connected line, request lines, the echo without NUL
 * bytes, the report lines of each record) in 128-byte write calls, and
 * sends the 7-byte request once for the connection and once after each
 * record. Receives take up to 32768 bytes. It handles none of the failures
 * the monitor survives: it ends when the peer closes.
 *
 *   floor-monitor PORT HOST-NAME-IN-LOG > log
 *
 * Plain C and the C library only, so that nothing but the work above is in
 * its time. */

#define _GNU_SOURCE /* memmem */

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#define BLOCK 128
#define RECEIVE 32768

static const char kTerminator[] = "</StatusChange>";
enum { kTerminatorLength = sizeof kTerminator - 1 };

static char block[BLOCK];
static size_t block_used;

static void die(const char* what) {
  perror(what);
  exit(2);
}

static void write_out(void) {
  if (block_used > 0 && write(1, block, block_used) != (ssize_t)block_used) die("write");
  block_used = 0;
}

static void put(const char* bytes, size_t size) {
  while (size > 0) {
    size_t part = BLOCK - block_used < size ? BLOCK - block_used : size;
    memcpy(block + block_used, bytes, part);
    block_used += part;
    bytes += part;
    size -= part;
    if (block_used == BLOCK) write_out();
  }
}

static void put_text(const char* text) { put(text, strlen(text)); }

static void put_line(const char* text) {
  put_text(text);
  put("\r\n", 2);
}

/* hh:mm:ss.zzz of the local time, as the monitor writes it with ':'. */
static void put_stamp(void) {
  struct timespec now;
  struct tm local;
  char stamp[16];
  clock_gettime(CLOCK_REALTIME, &now);
  localtime_r(&now.tv_sec, &local);
  snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
           (int)(now.tv_nsec / 1000000));
  put_text(stamp);
}

static void send_request(int fd) {
  if (send(fd, "GET /\r\n", 7, 0) != 7) die("send");
  put_stamp();
  put_line(" GET /");
}

/* The value between the first `start` tag and the first `end` tag after it;
 * the rest of the text when `end` is missing; empty when `start` is. */
static const char* between(const char* text, size_t size, const char* start, const char* end,
                           size_t* length) {
  const char* found = memmem(text, size, start, strlen(start));
  if (found == NULL) {
    *length = 0;
    return text;
  }
  const char* value = found + strlen(start);
  size_t rest = size - (size_t)(value - text);
  const char* stop = memmem(value, rest, end, strlen(end));
  *length = stop != NULL ? (size_t)(stop - value) : rest;
  return value;
}

static void put_field(const char* label, const char* text, size_t size, const char* start,
                      const char* end, int always) {
  size_t length;
  const char* value = between(text, size, start, end, &length);
  if (length == 0 && !always) return;
  put_text(label);
  put(value, length);
  put("\r\n", 2);
}

static void report(const char* text, size_t size) {
  put("\r\n", 2);
  put_stamp();
  put("\r\n", 2);
  put_field("SYSLOG.ID: ", text, size, "<LogRec.SyslogID>", "</LogRec.SyslogID>", 1);
  put_field("EVENT: ", text, size, "<Event>", "</Event>", 1);
  put_field("DATETIME: ", text, size, "<DateTime>", "</DateTime>", 1);
  put_field("VERSION: ", text, size, "<Version>", "</Version>", 1);
  put_field("FILENAME: ", text, size, "<FileName>", "</FileName>", 0);
  put_field("MEMBER.ID: ", text, size, "<Member.ID>", "</Member.ID>", 0);
  put_field("HOST: ", text, size, "<Host>", "</Host>", 0);
  put_field("TEMP: ", text, size, "<Temp>", "</Temp>", 0);
  put_field("STATE: ", text, size, "<State>", "</State>", 0);
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s PORT HOST-NAME-IN-LOG\n", argv[0]);
    return 2;
  }
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) die("socket");
  struct sockaddr_in peer;
  memset(&peer, 0, sizeof peer);
  peer.sin_family = AF_INET;
  peer.sin_port = htons((unsigned short)atoi(argv[1]));
  peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

  put_line("Version: " PROGRAM_VERSION);
  put_line("");
  if (connect(fd, (struct sockaddr*)&peer, sizeof peer) != 0) die("connect");
  put_stamp();
  put_text(" Connected to ");
  put_line(argv[2]);
  send_request(fd);

  static char received[RECEIVE];
  size_t text_size = 0, text_capacity = 1 << 16;
  char* text = malloc(text_capacity);
  size_t matched = 0; /* terminator bytes matched at the end of the text */
  if (text == NULL) die("malloc");
  for (;;) {
    ssize_t n = recv(fd, received, sizeof received, 0);
    if (n <= 0) break;
    for (ssize_t i = 0; i < n; ++i) {
      char byte = received[i];
      if (byte == 0) continue;
      block[block_used++] = byte;
      if (block_used == BLOCK) write_out();
      if (text_size == text_capacity) {
        text_capacity *= 2;
        text = realloc(text, text_capacity);
        if (text == NULL) die("realloc");
      }
      text[text_size++] = byte;
      /* The terminator's first byte occurs in it only once, so a mismatch
       * restarts the match at that byte or at nothing. */
      if (byte == kTerminator[matched]) {
        if (++matched == kTerminatorLength) {
          report(text, text_size);
          text_size = 0;
          matched = 0;
          send_request(fd);
        }
      } else {
        matched = byte == kTerminator[0] ? 1 : 0;
      }
    }
  }
  write_out();
  free(text);
  close(fd);
  return 0;
}
