/* The floor of one loopback HTTP exchange on this machine: a server that
 * does nothing but accept, read one request (head and Content-Length body),
 * answer fixed bytes and close, on one thread. What the local service
 * spends beyond this per exchange (its thread hand-off, store, log) is the
 * service's own share of every ruvo call.
 *
 *   http_floor      prints the port it listens on (127.0.0.1), then serves
 *                   until it is killed
 */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

static const char kReply[] =
    "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 11\r\n"
    "Connection: close\r\n\r\n{\"ok\":true}";

int main(void) {
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  struct sockaddr_in addr;
  memset(&addr, 0, sizeof addr);
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (listener < 0 || bind(listener, (struct sockaddr*)&addr, sizeof addr) != 0 ||
      listen(listener, 128) != 0 || getsockname(listener, (struct sockaddr*)&addr, &len) != 0) {
    perror("http_floor");
    return 1;
  }
  printf("%d\n", ntohs(addr.sin_port));
  fflush(stdout);
  for (;;) {
    int fd = accept4(listener, NULL, NULL, SOCK_CLOEXEC);
    if (fd < 0) continue;
    char buf[16384];
    size_t got = 0;
    for (;;) {
      ssize_t r = recv(fd, buf + got, sizeof buf - 1 - got, 0);
      if (r <= 0) break;
      got += (size_t)r;
      buf[got] = '\0';
      const char* end = strstr(buf, "\r\n\r\n");
      if (!end) continue;
      const char* length = strcasestr(buf, "\r\nContent-Length:");
      size_t body = length && length < end ? strtoul(length + 17, NULL, 10) : 0;
      if (got >= (size_t)(end + 4 - buf) + body || got == sizeof buf - 1) break;
    }
    (void)!send(fd, kReply, sizeof kReply - 1, MSG_NOSIGNAL);
    close(fd);
  }
}
