/* One raw HTTP/1.1 exchange with the local service over loopback: connect,
 * send the request bytes ruvo would send, read to the end of the stream.
 * Nothing is parsed beyond checking that a status line came back; this is
 * the least work an exchange can cost, the floor the benchmarks compare
 * against. Header-only so each floor program is a single file. */
#ifndef RUVO_BENCH_EXCHANGE_H
#define RUVO_BENCH_EXCHANGE_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

/* Builds "METHOD PATH HTTP/1.1" with the headers ruvo sends and the body
 * (may be empty) into buf; returns its length, or -1 when it does not fit. */
static int exchange_build(char* buf, size_t cap, const char* method, const char* path,
                          const char* token, const char* body) {
  int n = snprintf(buf, cap,
                   "%s %s HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Ruvo-Token: %s\r\n"
                   "Content-Type: application/json\r\nContent-Length: %zu\r\n"
                   "Connection: close\r\n\r\n%s",
                   method, path, token, strlen(body), body);
  return n > 0 && (size_t)n < cap ? n : -1;
}

/* Sends the request on a fresh connection to 127.0.0.1:port and reads the
 * whole reply into reply (truncated at cap - 1, NUL-terminated). Returns the
 * reply length, or -1 on any failure or a reply that is not HTTP. */
static long exchange_once(unsigned short port, const char* request, int request_len, char* reply,
                          size_t cap) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  struct sockaddr_in addr;
  memset(&addr, 0, sizeof addr);
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, (struct sockaddr*)&addr, sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  for (int sent = 0; sent < request_len;) {
    ssize_t w = send(fd, request + sent, (size_t)(request_len - sent), MSG_NOSIGNAL);
    if (w <= 0) {
      close(fd);
      return -1;
    }
    sent += (int)w;
  }
  size_t got = 0;
  for (;;) {
    char sink[16384];
    ssize_t r = recv(fd, got + 1 < cap ? reply + got : sink,
                     got + 1 < cap ? cap - 1 - got : sizeof sink, 0);
    if (r < 0) {
      close(fd);
      return -1;
    }
    if (r == 0) break;
    if (got + 1 < cap) got += (size_t)r;
  }
  close(fd);
  reply[got] = '\0';
  return strncmp(reply, "HTTP/1.1 200", 12) == 0 ? (long)got : -1;
}

#endif
