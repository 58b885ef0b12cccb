/* Lays siege to an HTTP service on 127.0.0.1 for a while, from one thread
 * over epoll, and reports what the service did with the sieging connections:
 *   IDLE  connections that connect and send nothing,
 *   SLOW  clients that send a request head one header line a second,
 *   BIG   clients that send one endless header line (up to 50 MiB) as fast
 *         as the socket takes it.
 * A connection the service closes is opened again at once, so the siege
 * keeps its size for as long as it lasts.
 *
 *   siege PORT IDLE SLOW BIG SECONDS
 *
 * Prints "key value" lines: the most idle connections open at once, connects
 * that failed, how many sieging connections of each kind the service closed,
 * the longest and median time an idle connection stayed open before the
 * service closed it, and the bytes the big clients got through.
 */
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

enum kind { IDLE, SLOW, BIG };

struct conn {
  enum kind kind;
  int fd;
  double opened_ms;
  double next_line_ms; /* SLOW: when the next header line is due */
  long sent;           /* BIG: bytes of the header line sent so far */
  int lines;           /* SLOW: header lines sent */
};

#define BIG_LINE_BYTES (50L * 1024 * 1024)

static int port;
static int epfd;
static long connect_failures, closed[3], big_bytes;
static double *idle_lifetimes;
static long n_idle_lifetimes, cap_idle_lifetimes;
static int idle_open, idle_open_max;

static double now_ms(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (double)ts.tv_sec * 1e3 + (double)ts.tv_nsec / 1e6;
}

static int cmp_double(const void* a, const void* b) {
  double x = *(const double*)a, y = *(const double*)b;
  return x < y ? -1 : x > y;
}

static int send_all(int fd, const char* s, size_t n) {
  while (n > 0) {
    ssize_t w = send(fd, s, n, MSG_NOSIGNAL);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return -1;
    s += w;
    n -= (size_t)w;
  }
  return 0;
}

/* Opens the connection's socket and registers it; -1 when connecting failed. */
static int open_conn(struct conn* c) {
  c->fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (c->fd < 0) return -1;
  /* A service whose backlog is full never completes the handshake; give up
   * soon and try again on the next round rather than stall the siege. */
  struct timeval limit = {0, 100 * 1000};
  setsockopt(c->fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  struct sockaddr_in addr;
  memset(&addr, 0, sizeof addr);
  addr.sin_family = AF_INET;
  addr.sin_port = htons((unsigned short)port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(c->fd, (struct sockaddr*)&addr, sizeof addr) != 0) {
    close(c->fd);
    c->fd = -1;
    connect_failures++;
    return -1;
  }
  fcntl(c->fd, F_SETFL, fcntl(c->fd, F_GETFL) | O_NONBLOCK);
  c->opened_ms = now_ms();
  c->sent = 0;
  c->lines = 0;
  c->next_line_ms = c->opened_ms;
  const char* head = "GET /v1/health HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  if (c->kind == BIG) head = "GET /v1/health HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Big: ";
  if (c->kind != IDLE && send_all(c->fd, head, strlen(head)) != 0) {
    close(c->fd);
    c->fd = -1;
    connect_failures++;
    return -1;
  }
  struct epoll_event ev;
  ev.events = EPOLLIN | EPOLLRDHUP | (c->kind == BIG ? EPOLLOUT : 0);
  ev.data.ptr = c;
  epoll_ctl(epfd, EPOLL_CTL_ADD, c->fd, &ev);
  if (c->kind == IDLE && ++idle_open > idle_open_max) idle_open_max = idle_open;
  return 0;
}

/* The service closed (or reset) the connection. */
static void on_closed(struct conn* c) {
  closed[c->kind]++;
  if (c->kind == IDLE) {
    idle_open--;
    if (n_idle_lifetimes == cap_idle_lifetimes) {
      cap_idle_lifetimes = cap_idle_lifetimes ? cap_idle_lifetimes * 2 : 1024;
      idle_lifetimes = realloc(idle_lifetimes, (size_t)cap_idle_lifetimes * sizeof *idle_lifetimes);
    }
    idle_lifetimes[n_idle_lifetimes++] = now_ms() - c->opened_ms;
  }
  if (c->kind == BIG) big_bytes += c->sent;
  epoll_ctl(epfd, EPOLL_CTL_DEL, c->fd, NULL);
  close(c->fd);
  c->fd = -1;
}

static void feed_big(struct conn* c) {
  static char chunk[64 * 1024];
  if (chunk[0] != 'a') memset(chunk, 'a', sizeof chunk);
  while (c->sent < BIG_LINE_BYTES) {
    size_t n = sizeof chunk;
    if (BIG_LINE_BYTES - c->sent < (long)n) n = (size_t)(BIG_LINE_BYTES - c->sent);
    ssize_t w = send(c->fd, chunk, n, MSG_NOSIGNAL);
    if (w < 0 && errno == EAGAIN) return;
    if (w <= 0) {
      on_closed(c);
      return;
    }
    c->sent += w;
  }
}

int main(int argc, char** argv) {
  if (argc != 6) {
    fprintf(stderr, "usage: siege PORT IDLE SLOW BIG SECONDS\n");
    return 2;
  }
  port = atoi(argv[1]);
  int counts[3] = {atoi(argv[2]), atoi(argv[3]), atoi(argv[4])};
  double seconds = atof(argv[5]);

  struct rlimit rl;
  if (getrlimit(RLIMIT_NOFILE, &rl) == 0) {
    rl.rlim_cur = rl.rlim_max;
    setrlimit(RLIMIT_NOFILE, &rl);
  }
  epfd = epoll_create1(EPOLL_CLOEXEC);
  int total = counts[0] + counts[1] + counts[2];
  struct conn* conns = calloc((size_t)total, sizeof *conns);
  for (int i = 0, k = 0; k < 3; k++) {
    for (int j = 0; j < counts[k]; j++, i++) {
      conns[i].kind = (enum kind)k;
      conns[i].fd = -1;
    }
  }

  const double end = now_ms() + seconds * 1e3;
  struct epoll_event events[256];
  while (now_ms() < end) {
    /* Reopen what was closed, and send the slow clients their next line. */
    double t = now_ms();
    for (int i = 0; i < total; i++) {
      struct conn* c = &conns[i];
      if (c->fd < 0) {
        open_conn(c);
        continue;
      }
      if (c->kind == SLOW && t >= c->next_line_ms) {
        char line[64];
        int n = snprintf(line, sizeof line, "X-Slow-%d: a\r\n", c->lines++);
        if (send_all(c->fd, line, (size_t)n) != 0) {
          on_closed(c);
          continue;
        }
        c->next_line_ms = t + 1000;
      }
    }
    int n = epoll_wait(epfd, events, 256, 100);
    for (int i = 0; i < n; i++) {
      struct conn* c = events[i].data.ptr;
      if (c->fd < 0) continue;
      if (events[i].events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) {
        char buf[4096];
        ssize_t r = recv(c->fd, buf, sizeof buf, 0);
        if (r == 0 || (r < 0 && errno != EAGAIN)) {
          on_closed(c);
          continue;
        }
        /* A reply (an error for the head, say): the service closes next. */
      }
      if (c->kind == BIG && (events[i].events & EPOLLOUT)) feed_big(c);
    }
  }

  qsort(idle_lifetimes, (size_t)n_idle_lifetimes, sizeof *idle_lifetimes, cmp_double);
  printf("idle_open_max %d\n", idle_open_max);
  printf("connect_failures %ld\n", connect_failures);
  printf("idle_closed %ld\n", closed[IDLE]);
  printf("slow_closed %ld\n", closed[SLOW]);
  printf("big_closed %ld\n", closed[BIG]);
  printf("idle_lifetime_median_ms %.0f\n", n_idle_lifetimes ? idle_lifetimes[n_idle_lifetimes / 2] : -1.0);
  printf("idle_lifetime_max_ms %.0f\n", n_idle_lifetimes ? idle_lifetimes[n_idle_lifetimes - 1] : -1.0);
  printf("big_bytes_before_close %ld\n", big_bytes);
  return 0;
}
