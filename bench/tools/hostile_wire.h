/* The wire side of hostile_load: the discovery file's port and token, a
 * loopback connection, sends and waits against a deadline, the request head
 * ruvo's routes take, and what a reply says (its status and "kind", a key
 * set to true). Header-only, like exchange.h, so the driver stays one
 * program built by one cc command. */
#ifndef RUVO_BENCH_HOSTILE_WIRE_H
#define RUVO_BENCH_HOSTILE_WIRE_H

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

/* Where the service listens and the token it wants; read_discovery sets them. */
static unsigned short port;
static char token[256];

static double now_ms(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (double)ts.tv_sec * 1e3 + (double)ts.tv_nsec / 1e6;
}

static void die(const char* what) {
  fprintf(stderr, "hostile_load: %s\n", what);
  exit(2);
}

static char* read_file(const char* path, size_t* size) {
  FILE* f = fopen(path, "rb");
  if (!f) return NULL;
  struct stat st;
  if (fstat(fileno(f), &st) != 0) {
    fclose(f);
    return NULL;
  }
  char* data = malloc((size_t)st.st_size + 1);
  size_t got = data ? fread(data, 1, (size_t)st.st_size, f) : 0;
  fclose(f);
  if (!data || got != (size_t)st.st_size) {
    free(data);
    return NULL;
  }
  data[got] = '\0';
  *size = got;
  return data;
}

/* The port and the token of the discovery file, found by their keys. */
static void read_discovery(const char* path) {
  size_t size;
  char* text = read_file(path, &size);
  if (!text) die("cannot read the discovery file");
  const char* p = strstr(text, "\"port\"");
  if (p) p = strchr(p + 6, ':');
  if (!p) die("the discovery file has no port");
  port = (unsigned short)strtol(p + 1, NULL, 10);
  const char* t = strstr(text, "\"token\"");
  if (t) t = strchr(t + 7, ':');
  if (t) t = strchr(t, '"');
  const char* end = t ? strchr(t + 1, '"') : NULL;
  if (!end || (size_t)(end - t - 1) >= sizeof token) die("the discovery file has no token");
  memcpy(token, t + 1, (size_t)(end - t - 1));
  token[end - t - 1] = '\0';
  free(text);
}

static int connect_loopback(void) {
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
  return fd;
}

/* Waits until fd is ready for `events` or the deadline passes; 1 ready, 0 time out. */
static int wait_for(int fd, short events, double deadline_ms) {
  for (;;) {
    double left = deadline_ms - now_ms();
    if (left <= 0) return 0;
    struct pollfd p = {fd, events, 0};
    int r = poll(&p, 1, left > 1000 ? 1000 : (int)left + 1);
    if (r > 0) return 1;
    if (r < 0 && errno != EINTR) return 1; /* let the call that follows report it */
  }
}

/* Sends all of data before the deadline: 0 sent, -1 failed, -2 timed out. */
static int send_until(int fd, const char* data, size_t n, double deadline_ms) {
  while (n > 0) {
    if (!wait_for(fd, POLLOUT, deadline_ms)) return -2;
    ssize_t w = send(fd, data, n, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (w < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (w <= 0) return -1;
    data += w;
    n -= (size_t)w;
  }
  return 0;
}

static int build_head(char* buf, size_t cap, const char* method, const char* path, int with_token, size_t length) {
  int n = snprintf(buf, cap,
                   "%s %s HTTP/1.1\r\nHost: 127.0.0.1\r\n%s%s%sContent-Type: application/json\r\n"
                   "Content-Length: %zu\r\nConnection: close\r\n\r\n",
                   method, path, with_token ? "X-Ruvo-Token: " : "", with_token ? token : "",
                   with_token ? "\r\n" : "", length);
  return n > 0 && (size_t)n < cap ? n : -1;
}

/* "503/busy" from a reply: its status and, when the body names one, its kind. */
static void status_of(const char* reply, size_t n, char* out, size_t cap) {
  if (n < 12 || strncmp(reply, "HTTP/1.", 7) != 0) {
    snprintf(out, cap, "err/noreply");
    return;
  }
  char status[4] = {reply[9], reply[10], reply[11], 0};
  const char* kind = strstr(reply, "\"kind\"");
  if (kind) kind = strchr(kind + 6, '"');
  const char* end = kind ? strchr(kind + 1, '"') : NULL;
  if (strcmp(status, "200") != 0 && end && end - kind - 1 < 32) {
    snprintf(out, cap, "%s/%.*s", status, (int)(end - kind - 1), kind + 1);
  } else {
    snprintf(out, cap, "%s", status);
  }
}

/* Whether the reply holds "key": true, with any white space around the colon. */
static int says_true(const char* reply, const char* quoted_key) {
  for (const char* p = strstr(reply, quoted_key); p; p = strstr(p + 1, quoted_key)) {
    const char* q = p + strlen(quoted_key);
    while (*q == ' ' || *q == '\t' || *q == '\r' || *q == '\n') q++;
    if (*q != ':') continue;
    q++;
    while (*q == ' ' || *q == '\t' || *q == '\r' || *q == '\n') q++;
    if (strncmp(q, "true", 4) == 0) return 1;
  }
  return 0;
}

#endif
