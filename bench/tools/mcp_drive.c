/* Drives MCP stdio servers the way an agent host does, and times them. A
 * server is any command (ruvo mcp, the SDK peer, the C floor); the driver is
 * C so that its own cost stays far below what it measures. Several servers
 * are measured taking turns, the order rotating each time (A B C, B C A,
 * C A B, ...), so a burst of load on a shared machine, or the work a server
 * goes on doing after it has answered, falls on all of them alike and their
 * ratios stay fair.
 *
 *   mcp_drive cold   RUNS      -- SERVER [-- SERVER ...]   spawn, send "initialize",
 *                                                          first reply line: median us
 *   mcp_drive list   N ROUNDS  -- SERVER [-- SERVER ...]   N pipelined "tools/list" per
 *                                 round: median requests per second over the rounds
 *   mcp_drive call   N         -- SERVER [-- SERVER ...]   sequential "tools/call"
 *                                 ruvo_lookup RAG: median and p90 us per call
 *   mcp_drive memory N1 N2     -- SERVER                   resident memory after N1 and
 *                                                          after N2 calls (KiB)
 *
 * SERVER is [runs=K] [n=K] [eof] CMD ARGS...: runs=K takes part in the first
 * K runs, rounds or calls only (for a slow peer); n=K sends K requests per
 * "tools/list" round instead of N; eof (cold) times to the end of the
 * program's output instead of a reply, for a program that only starts and
 * exits. In call mode the SERVER "raw PORT TOKEN" is the floor: the driver
 * itself makes the two exchanges a call costs (health probe, lookup).
 *
 * Every reply is checked: a list reply must hold "tools", a call reply
 * "isError":false, so a server that fails fast cannot look fast. Output is
 * one line per SERVER, in order: its index, then the figures.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "exchange.h"

extern char** environ;

static const char kInitialize[] =
    "{\"jsonrpc\":\"2.0\",\"id\":0,\"method\":\"initialize\",\"params\":{\"protocolVersion\":"
    "\"2024-11-05\",\"capabilities\":{},\"clientInfo\":{\"name\":\"bench\",\"version\":\"1\"}}}\n";
static const char kInitialized[] = "{\"jsonrpc\":\"2.0\",\"method\":\"notifications/initialized\"}\n";
static const char kListFormat[] = "{\"jsonrpc\":\"2.0\",\"id\":%d,\"method\":\"tools/list\"}\n";
static const char kCallFormat[] =
    "{\"jsonrpc\":\"2.0\",\"id\":%d,\"method\":\"tools/call\",\"params\":{\"name\":\"ruvo_lookup\","
    "\"arguments\":{\"text\":\"RAG\"}}}\n";

struct server {
  pid_t pid;
  int in;   /* we write the server's standard input here */
  int out;  /* and read its standard output here */
  char* buf;
  size_t len, cap;
};

static void die(const char* what) {
  fprintf(stderr, "mcp_drive: %s: %s\n", what, errno ? strerror(errno) : "failed");
  exit(1);
}

static double now_us(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (double)ts.tv_sec * 1e6 + (double)ts.tv_nsec / 1e3;
}

static int cmp_double(const void* a, const void* b) {
  double x = *(const double*)a, y = *(const double*)b;
  return x < y ? -1 : x > y;
}

static double median(double* v, int n) {
  qsort(v, (size_t)n, sizeof(double), cmp_double);
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

/* Starts argv with pipes on standard input and output (standard error is
 * inherited). */
static struct server spawn_server(char** argv) {
  int to_child[2], from_child[2];
  if (pipe2(to_child, O_CLOEXEC) != 0 || pipe2(from_child, O_CLOEXEC) != 0) die("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, to_child[0], 0);
  posix_spawn_file_actions_adddup2(&actions, from_child[1], 1);
  struct server s = {0};
  if (posix_spawnp(&s.pid, argv[0], &actions, NULL, argv, environ) != 0) die(argv[0]);
  posix_spawn_file_actions_destroy(&actions);
  close(to_child[0]);
  close(from_child[1]);
  s.in = to_child[1];
  s.out = from_child[0];
  s.cap = 1 << 16;
  s.buf = malloc(s.cap);
  return s;
}

static void write_all(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) die("write to server");
    p += w;
    n -= (size_t)w;
  }
}

/* Reads until one whole line is buffered; returns its length with the line
 * feed, the line starting at s->buf. consume_line drops it afterwards. */
static size_t read_line(struct server* s) {
  for (;;) {
    char* nl = s->len ? memchr(s->buf, '\n', s->len) : NULL;
    if (nl) return (size_t)(nl - s->buf) + 1;
    if (s->len == s->cap) s->buf = realloc(s->buf, s->cap *= 2);
    ssize_t r = read(s->out, s->buf + s->len, s->cap - s->len);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) die("server closed its output");
    s->len += (size_t)r;
  }
}

static void consume_line(struct server* s, size_t n) {
  memmove(s->buf, s->buf + n, s->len - n);
  s->len -= n;
}

static void expect(struct server* s, size_t n, const char* needle) {
  if (!memmem(s->buf, n, needle, strlen(needle))) {
    fprintf(stderr, "mcp_drive: unexpected reply: %.*s\n", (int)(n > 400 ? 400 : n), s->buf);
    exit(1);
  }
}

static void stop_server(struct server* s) {
  close(s->in);
  close(s->out);
  int status;
  while (waitpid(s->pid, &status, 0) < 0 && errno == EINTR) {
  }
  free(s->buf);
}

static void initialize(struct server* s) {
  write_all(s->in, kInitialize, sizeof kInitialize - 1);
  size_t n = read_line(s);
  expect(s, n, "\"protocolVersion\"");
  consume_line(s, n);
  write_all(s->in, kInitialized, sizeof kInitialized - 1);
}

static void call_once(struct server* s, int id) {
  char request[256];
  int len = snprintf(request, sizeof request, kCallFormat, id);
  write_all(s->in, request, (size_t)len);
  size_t n = read_line(s);
  expect(s, n, "\"isError\":false");
  consume_line(s, n);
}

/* VmRSS and VmHWM of the process, in KiB. */
static void memory_of(pid_t pid, long* rss, long* hwm) {
  char path[64], line[256];
  snprintf(path, sizeof path, "/proc/%d/status", (int)pid);
  FILE* f = fopen(path, "r");
  if (!f) die("open /proc status");
  *rss = *hwm = -1;
  while (fgets(line, sizeof line, f)) {
    if (strncmp(line, "VmRSS:", 6) == 0) *rss = atol(line + 6);
    if (strncmp(line, "VmHWM:", 6) == 0) *hwm = atol(line + 6);
  }
  fclose(f);
}

/* One round of n pipelined "tools/list": writes while the pipe takes them
 * and reads replies meanwhile, so neither side's pipe buffer deadlocks. */
static double list_round(struct server* s, int n, int first_id) {
  size_t total = 0, cap = (size_t)n * 64;
  char* requests = malloc(cap);
  for (int i = 0; i < n; ++i) total += (size_t)sprintf(requests + total, kListFormat, first_id + i);
  int flags = fcntl(s->in, F_GETFL);
  fcntl(s->in, F_SETFL, flags | O_NONBLOCK);
  size_t sent = 0;
  int replies = 0;
  double t0 = now_us();
  while (replies < n) {
    struct pollfd fds[2] = {{s->out, POLLIN, 0}, {s->in, sent < total ? POLLOUT : 0, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      die("poll");
    }
    if (sent < total && (fds[1].revents & POLLOUT)) {
      ssize_t w = write(s->in, requests + sent, total - sent);
      if (w > 0) sent += (size_t)w;
      else if (w < 0 && errno != EAGAIN && errno != EINTR) die("write to server");
    }
    if (fds[0].revents & (POLLIN | POLLHUP)) {
      if (s->len == s->cap) s->buf = realloc(s->buf, s->cap *= 2);
      ssize_t r = read(s->out, s->buf + s->len, s->cap - s->len);
      if (r <= 0) die("server closed its output");
      s->len += (size_t)r;
      char* line = s->buf;
      char* end = s->buf + s->len;
      char* nl;
      while ((nl = memchr(line, '\n', (size_t)(end - line))) != NULL) {
        if (!memmem(line, (size_t)(nl - line), "\"tools\"", 7)) {
          fprintf(stderr, "mcp_drive: unexpected reply: %.*s\n", 400, line);
          exit(1);
        }
        ++replies;
        line = nl + 1;
      }
      consume_line(s, (size_t)(line - s->buf));
    }
  }
  double elapsed = now_us() - t0;
  fcntl(s->in, F_SETFL, flags);
  free(requests);
  return n / (elapsed / 1e6);
}

struct target {
  char** argv;  /* NULL-terminated; for "raw", argv[1] and argv[2] are port and token */
  int runs;     /* takes part in the first `runs` iterations; INT_MAX when not limited */
  int n;        /* list: requests per round; 0 = the common N */
  int eof;      /* cold: time to the end of output */
  int raw;      /* call: the driver's own exchanges */
  struct server s;
  double* t;
  int count;
};

static char raw_probe[1024], raw_lookup[1024], raw_reply[65536];
static int raw_probe_len, raw_lookup_len;

static void raw_pair(struct target* t) {
  unsigned short port = (unsigned short)atoi(t->argv[1]);
  if (raw_probe_len == 0) {
    raw_probe_len = exchange_build(raw_probe, sizeof raw_probe, "GET", "/v1/health", t->argv[2], "");
    raw_lookup_len = exchange_build(raw_lookup, sizeof raw_lookup, "POST", "/v1/lookup", t->argv[2],
                                    "{\"text\":\"RAG\"}");
  }
  if (exchange_once(port, raw_probe, raw_probe_len, raw_reply, sizeof raw_reply) < 0 ||
      exchange_once(port, raw_lookup, raw_lookup_len, raw_reply, sizeof raw_reply) < 0) {
    die("raw exchange");
  }
}

/* Splits argv at each "--" into targets, reading the option words. */
static int parse_targets(int argc, char** argv, int first, struct target* out, int max) {
  int count = 0;
  for (int i = first; i < argc; ++i) {
    if (strcmp(argv[i], "--") != 0) continue;
    argv[i] = NULL;
    if (i + 1 >= argc || count == max) continue;
    struct target* t = &out[count++];
    memset(t, 0, sizeof *t);
    t->runs = 1 << 30;
    char** w = argv + i + 1;
    for (; *w && strcmp(*w, "--") != 0; ++w) {
      if (strncmp(*w, "runs=", 5) == 0) t->runs = atoi(*w + 5);
      else if (strncmp(*w, "n=", 2) == 0) t->n = atoi(*w + 2);
      else if (strcmp(*w, "eof") == 0) t->eof = 1;
      else break;
    }
    t->argv = w;
    t->raw = *w && strcmp(*w, "raw") == 0;
  }
  return count;
}

int main(int argc, char** argv) {
  int dash = 0;
  for (int i = 1; i < argc && !dash; ++i)
    if (strcmp(argv[i], "--") == 0) dash = i;
  if (argc < 4 || dash < 3) {
    fprintf(stderr, "usage: mcp_drive cold|list|call|memory ARGS -- SERVER [-- SERVER ...]\n");
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  const char* mode = argv[1];
  int a = atoi(argv[2]);
  int b = dash > 3 ? atoi(argv[3]) : 0;
  struct target targets[8];
  int nt = parse_targets(argc, argv, dash, targets, 8);
  if (nt == 0 || a <= 0) return 2;
  for (int c = 0; c < nt; ++c) {
    if (!targets[c].argv[0]) return 2;
    targets[c].t = malloc(sizeof(double) * (size_t)((a > b ? a : b) + 1));
  }

  if (strcmp(mode, "cold") == 0) {
    for (int r = 0; r < a; ++r) {
      for (int k = 0; k < nt; ++k) {
        struct target* t = &targets[(r + k) % nt];
        if (r >= t->runs) continue;
        double t0 = now_us();
        struct server s = spawn_server(t->argv);
        if (t->eof) {
          char sink[4096];
          ssize_t got;
          while ((got = read(s.out, sink, sizeof sink)) != 0) {
            if (got < 0 && errno != EINTR) die("read");
          }
          t->t[t->count++] = now_us() - t0;
        } else {
          write_all(s.in, kInitialize, sizeof kInitialize - 1);
          size_t n = read_line(&s);
          t->t[t->count++] = now_us() - t0;
          expect(&s, n, "\"protocolVersion\"");
        }
        stop_server(&s);
      }
    }
    for (int c = 0; c < nt; ++c) printf("%d %.1f\n", c, median(targets[c].t, targets[c].count));
    return 0;
  }

  if (strcmp(mode, "memory") == 0) {
    struct server s = spawn_server(targets[0].argv);
    initialize(&s);
    long rss1, hwm1, rss2, hwm2;
    for (int i = 0; i < a; ++i) call_once(&s, 1 + i);
    memory_of(s.pid, &rss1, &hwm1);
    for (int i = a; i < b; ++i) call_once(&s, 1 + i);
    memory_of(s.pid, &rss2, &hwm2);
    printf("0 %ld %ld %ld %ld\n", rss1, hwm1, rss2, hwm2);
    stop_server(&s);
    return 0;
  }

  int list = strcmp(mode, "list") == 0;
  if (!list && strcmp(mode, "call") != 0) {
    fprintf(stderr, "mcp_drive: unknown mode %s\n", mode);
    return 2;
  }
  if (list && b <= 0) return 2;
  for (int c = 0; c < nt; ++c) {
    struct target* t = &targets[c];
    if (t->raw) {
      for (int i = 0; i < 20; ++i) raw_pair(t);
      continue;
    }
    t->s = spawn_server(t->argv);
    initialize(&t->s);
    if (list) list_round(&t->s, 100, 1);  /* warm-up */
    else for (int i = 0; i < 20; ++i) call_once(&t->s, 1 + i);
  }
  int iterations = list ? b : a;
  for (int r = 0; r < iterations; ++r) {
    for (int k = 0; k < nt; ++k) {
      struct target* t = &targets[(r + k) % nt];
      if (r >= t->runs) continue;
      if (list) {
        int n = t->n > 0 ? t->n : a;
        t->t[t->count++] = list_round(&t->s, n, 1000 + r * n);
      } else {
        double t0 = now_us();
        if (t->raw) raw_pair(t);
        else call_once(&t->s, 100 + r);
        t->t[t->count++] = now_us() - t0;
      }
    }
  }
  for (int c = 0; c < nt; ++c) {
    struct target* t = &targets[c];
    double med = median(t->t, t->count);
    if (list) printf("%d %.0f\n", c, med);
    else printf("%d %.1f %.1f\n", c, med, t->t[(t->count * 9) / 10]);
    if (!t->raw) stop_server(&t->s);
  }
  return 0;
}
