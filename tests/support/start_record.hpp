// What the fake desktop (fake_desktop.cpp) records of every start, for the
// tests in which ruvo's launcher starts it.
#pragma once

#include "common/json.hpp"
#include "support/temp_dir.hpp"

#include <map>
#include <string>
#include <vector>

namespace ruvo::test {

// $RUVO_TEST_FAKE_DESKTOP, the fake desktop program; empty when not set.
std::string fake_desktop();

struct Started {
  std::vector<std::string> argv;
  common::JsonValue webview2;
  int pid = 0;
};

// The record file the fake desktop appends one line to for every start;
// kills (SIGKILL) every process it lists when destroyed.
class StartRecord {
 public:
  StartRecord() = default;
  ~StartRecord();
  StartRecord(const StartRecord&) = delete;
  StartRecord& operator=(const StartRecord&) = delete;

  std::string path() const { return dir_.file("starts.jsonl"); }
  // The starts recorded so far, in order.
  std::vector<Started> read() const;
  // {"FAKE_DESKTOP_RECORD": path()}
  std::map<std::string, std::string> env() const { return {{"FAKE_DESKTOP_RECORD", path()}}; }

 private:
  TempDir dir_;
};

}  // namespace ruvo::test
