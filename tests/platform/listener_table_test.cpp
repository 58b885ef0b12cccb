// Reading Linux's /proc/net/tcp{,6} and Windows' TCP table, and judging the
// listeners they list, on fixtures written as the systems write them.
#include "platform/listener_table.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ruvo::platform::table {
namespace {

constexpr std::string_view kHeadV4 =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n";
constexpr std::string_view kHeadV6 =
    "  sl  local_address                         remote_address                        st tx_queue rx_queue tr "
    "tm->when retrnsmt   uid  timeout inode\n";

// One row as an x86 kernel writes it.
std::string row(std::string_view local, std::string_view state, int uid, unsigned long inode,
                std::string_view remote = "00000000:0000") {
  return "   0: " + std::string(local) + " " + std::string(remote) + " " + std::string(state) +
         " 00000000:00000000 00:00000000 00000000  " + std::to_string(uid) + "        0 " + std::to_string(inode) +
         " 1 0000000000000000 100 0 0 10 0\n";
}

std::string without_line_feed(std::string line) {
  line.pop_back();
  return line;
}

TEST(ProcNetTcp, ListenersThatAConnectionTo127001Reaches) {
  struct Case {
    const char* what;
    std::string text;
    std::vector<ProcListener> listeners;
  };
  const std::string v6_any = "00000000000000000000000000000000";
  const Case cases[] = {
      {"127.0.0.1:8080", std::string(kHeadV4) + row("0100007F:1F90", "0A", 1000, 4242), {{8080, 1000, 4242}}},
      {"0.0.0.0 takes it too", std::string(kHeadV4) + row("00000000:1F90", "0A", 0, 7), {{8080, 0, 7}}},
      {"lower-case hexadecimal", std::string(kHeadV4) + row("0100007f:1f90", "0A", 5, 9), {{8080, 5, 9}}},
      {"127.0.0.2 does not", std::string(kHeadV4) + row("0200007F:1F90", "0A", 0, 7), {}},
      {"another address does not", std::string(kHeadV4) + row("0101A8C0:1F90", "0A", 0, 7), {}},
      {"a connection is no listener", std::string(kHeadV4) + row("0100007F:1F90", "01", 0, 7, "0100007F:BA76"), {}},
      {"nor a socket closing", std::string(kHeadV4) + row("0100007F:1F90", "06", 0, 7), {}},
      {"the heads alone", std::string(kHeadV4), {}},
      {"nothing", "", {}},
      {"every row read, no line feed at the end",
       std::string(kHeadV4) + row("0100007F:0050", "0A", 1, 11) + row("0100007F:0051", "01", 1, 12) +
           without_line_feed(row("00000000:FFFF", "0A", 2, 13)),
       {{80, 1, 11}, {65535, 2, 13}}},
      {"IPv6 any", std::string(kHeadV6) + row(v6_any + ":1F90", "0A", 1000, 21), {{8080, 1000, 21}}},
      {"IPv4-mapped 127.0.0.1",
       std::string(kHeadV6) + row("0000000000000000FFFF00000100007F:1F90", "0A", 3, 22),
       {{8080, 3, 22}}},
      {"IPv4-mapped 0.0.0.0",
       std::string(kHeadV6) + row("0000000000000000FFFF000000000000:1F90", "0A", 3, 23),
       {{8080, 3, 23}}},
      {"::1 is not 127.0.0.1", std::string(kHeadV6) + row("00000000000000000000000001000000:1F90", "0A", 3, 24), {}},
      {"IPv4-mapped 127.0.0.2", std::string(kHeadV6) + row("0000000000000000FFFF00000200007F:1F90", "0A", 3, 25), {}},
      {"an IPv6 address", std::string(kHeadV6) + row("000080FE00000000FF005450B6AC09FE:1F90", "0A", 3, 26), {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(loopback_listeners(c.text, std::endian::little), c.listeners);
  }
}

TEST(ProcNetTcp, LinesThatAreNoRowAreSkipped) {
  const std::string good = row("0100007F:1F90", "0A", 1000, 4242);
  const std::string bad[] = {
      row("0100007F1F90", "0A", 1, 1),                                                          // no colon
      row("0100007:1F90", "0A", 1, 1),                                                          // seven digits
      row("0100007G:1F90", "0A", 1, 1),                                                         // not hexadecimal
      row("0100007F:", "0A", 1, 1),                                                             // no port
      row("0100007F:10000", "0A", 1, 1),                                                        // past 65535
      row("0100007F:-1F9", "0A", 1, 1),                                                         // a sign
      row("0000000000000000FFFF00000100007:1F90", "0A", 1, 1),                                  // 31 digits
      "   0: 0100007F:1F90 00000000:0000 0A 00000000:00000000 00:00000000 00000000  x 0 5\n",   // uid
      "   0: 0100007F:1F90 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1 0 -5\n",  // inode
      "   0: 0100007F:1F90 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1 0\n",     // too few
      "\n",
      "garbage\r\n",
  };
  for (const auto& line : bad) {
    SCOPED_TRACE(line);
    EXPECT_EQ(loopback_listeners(std::string(kHeadV4) + line + good, std::endian::little),
              (std::vector<ProcListener>{{8080, 1000, 4242}}));
  }
}

TEST(ProcNetTcp, WordsAreInTheMachinesByteOrder) {
  // A big-endian kernel writes 127.0.0.1 as it reads: 7F000001.
  EXPECT_EQ(loopback_listeners(std::string(kHeadV4) + row("7F000001:1F90", "0A", 1, 2), std::endian::big),
            (std::vector<ProcListener>{{8080, 1, 2}}));
  EXPECT_EQ(loopback_listeners(std::string(kHeadV4) + row("0100007F:1F90", "0A", 1, 2), std::endian::big),
            std::vector<ProcListener>{});
  EXPECT_EQ(loopback_listeners(std::string(kHeadV6) + row("00000000000000000000FFFF7F000001:1F90", "0A", 1, 2),
                               std::endian::big),
            (std::vector<ProcListener>{{8080, 1, 2}}));
}

TEST(ProcListeners, Verdict) {
  struct Case {
    const char* what;
    std::vector<ProcListener> listeners;
    ProcVerdict verdict;
  };
  using enum ListenerTrust;
  const Case cases[] = {
      {"ours", {{8080, 1000, 11}}, {kTrusted, {11}}},
      {"nothing listens", {}, {kNotTrusted, {}}},
      {"only on other ports", {{8081, 1000, 11}, {80, 1000, 12}}, {kNotTrusted, {}}},
      {"another user's", {{8080, 0, 11}}, {kNotTrusted, {}}},
      {"ours and a stranger's on IPv6 any", {{8080, 1000, 11}, {8080, 33, 12}}, {kNotTrusted, {}}},
      {"a stranger's first", {{8080, 33, 12}, {8080, 1000, 11}}, {kNotTrusted, {}}},
      {"two of ours", {{8080, 1000, 11}, {8081, 0, 13}, {8080, 1000, 12}}, {kTrusted, {11, 12}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(judge_proc_listeners(c.listeners, 8080, 1000), c.verdict);
  }
}

TEST(ProcListeners, SocketInodeOfADescriptorsLink) {
  struct Case {
    const char* link;
    std::optional<std::uint64_t> inode;
  };
  const Case cases[] = {
      {"socket:[12345]", 12345u},
      {"socket:[0]", 0u},
      {"socket:[18446744073709551615]", UINT64_MAX},
      {"socket:[18446744073709551616]", std::nullopt},
      {"socket:[]", std::nullopt},
      {"socket:[12a]", std::nullopt},
      {"socket:[-1]", std::nullopt},
      {"socket:12345", std::nullopt},
      {"socket:[12345", std::nullopt},
      {"pipe:[12345]", std::nullopt},
      {"anon_inode:[eventfd]", std::nullopt},
      {"/tmp/socket:[12345]", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.link);
    EXPECT_EQ(socket_inode(c.link), c.inode);
  }
}

TEST(TcpTable, Verdict) {
  struct Case {
    const char* what;
    std::vector<TableListener> rows;
    std::optional<std::uint32_t> pid;
    TableVerdict verdict;
  };
  using enum ListenerTrust;
  constexpr std::array<std::uint8_t, 4> lo{127, 0, 0, 1};
  constexpr std::array<std::uint8_t, 4> any{0, 0, 0, 0};
  constexpr std::array<std::uint8_t, 4> lo2{127, 0, 0, 2};
  constexpr std::array<std::uint8_t, 4> lan{192, 168, 1, 1};
  const Case cases[] = {
      {"the vendor's application: whoever holds it, compared by user",
       {{lo, 8080, 500}},
       std::nullopt,
       {kTrusted, {500}}},
      {"the named process", {{lo, 8080, 500}}, 500u, {kTrusted, {500}}},
      {"bound to any address", {{any, 8080, 500}}, 500u, {kTrusted, {500}}},
      {"another process", {{lo, 8080, 501}}, 500u, {kNotTrusted, {}}},
      {"nothing listens", {}, 500u, {kNotTrusted, {}}},
      {"only elsewhere", {{lo2, 8080, 500}, {lan, 8080, 500}, {lo, 8081, 500}}, 500u, {kNotTrusted, {}}},
      {"an owner the system hides", {{lo, 8080, 0}}, 500u, {kUnknown, {}}},
      {"hidden, without a pid", {{lo, 8080, 0}}, std::nullopt, {kUnknown, {}}},
      {"hidden beside a known other process", {{lo, 8080, 0}, {any, 8080, 501}}, 500u, {kNotTrusted, {}}},
      {"hidden beside the named one", {{any, 8080, 500}, {lo, 8080, 0}}, 500u, {kUnknown, {}}},
      {"two owners, each once",
       {{lo, 8080, 500}, {any, 8080, 600}, {any, 8080, 500}},
       std::nullopt,
       {kTrusted, {500, 600}}},
      {"one of two is not the named", {{lo, 8080, 500}, {any, 8080, 600}}, 500u, {kNotTrusted, {}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(judge_table_listeners(c.rows, 8080, c.pid), c.verdict);
  }
}

}  // namespace
}  // namespace ruvo::platform::table
