/* The floor of an MCP stdio server: answers each request line with fixed
 * bytes, parsing nothing, one write per reply (as any server must when the
 * client waits for each answer). A "tools/call" line first makes the two raw
 * exchanges ruvo makes (health probe, lookup), so a call costs its floor too.
 *
 *   mcp_floor PORT TOKEN LIST_REPLY_BYTES
 * LIST_REPLY_BYTES pads the "tools/list" reply to the size of ruvo's own.
 */
#define _GNU_SOURCE
#include "exchange.h"

#include <stdlib.h>

static const char kInitReply[] =
    "{\"id\":0,\"jsonrpc\":\"2.0\",\"result\":{\"capabilities\":{\"tools\":{}},\"protocolVersion\":"
    "\"2024-11-05\",\"serverInfo\":{\"name\":\"floor\",\"version\":\"0\"}}}\n";
static const char kCallReply[] =
    "{\"id\":1,\"jsonrpc\":\"2.0\",\"result\":{\"content\":[{\"text\":\"{}\",\"type\":\"text\"}],"
    "\"isError\":false}}\n";

static void write_all(const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = write(1, p, n);
    if (w <= 0) exit(0);
    p += w;
    n -= (size_t)w;
  }
}

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  unsigned short port = (unsigned short)atoi(argv[1]);
  const char* token = argv[2];
  size_t list_bytes = (size_t)atol(argv[3]);
  static const char head[] = "{\"id\":1,\"jsonrpc\":\"2.0\",\"result\":{\"tools\":[],\"pad\":\"";
  if (list_bytes < sizeof head + 4) list_bytes = sizeof head + 4;
  char* list_reply = malloc(list_bytes);
  memcpy(list_reply, head, sizeof head - 1);
  memset(list_reply + sizeof head - 1, 'x', list_bytes - (sizeof head - 1) - 4);
  memcpy(list_reply + list_bytes - 4, "\"}}\n", 4);

  static char probe[1024], lookup[1024], reply[65536];
  int probe_len = exchange_build(probe, sizeof probe, "GET", "/v1/health", token, "");
  int lookup_len =
      exchange_build(lookup, sizeof lookup, "POST", "/v1/lookup", token, "{\"text\":\"RAG\"}");

  static char buf[1 << 16];
  size_t len = 0;
  for (;;) {
    ssize_t r = read(0, buf + len, sizeof buf - len);
    if (r <= 0) return 0;
    len += (size_t)r;
    char* line = buf;
    char* nl;
    while ((nl = memchr(line, '\n', (size_t)(buf + len - line))) != NULL) {
      size_t n = (size_t)(nl - line);
      if (memmem(line, n, "\"id\"", 4)) {
        if (memmem(line, n, "tools/list", 10)) {
          write_all(list_reply, list_bytes);
        } else if (memmem(line, n, "tools/call", 10)) {
          if (exchange_once(port, probe, probe_len, reply, sizeof reply) < 0 ||
              exchange_once(port, lookup, lookup_len, reply, sizeof reply) < 0) {
            return 1;
          }
          write_all(kCallReply, sizeof kCallReply - 1);
        } else {
          write_all(kInitReply, sizeof kInitReply - 1);
        }
      }
      line = nl + 1;
    }
    len = (size_t)(buf + len - line);
    memmove(buf, line, len);
    if (len == sizeof buf) return 1;
  }
}
