// The local service's parts in the test process, over a term store in a
// temporary folder: the store, the answers' context, the handlers' context
// and a log in the folder. Every in-process test of the service that needs a
// store with a context derives its fixture from ServiceTest.
#pragma once

#include "answers/context.hpp"
#include "answers/model_in_use.hpp"
#include "http/handlers.hpp"
#include "service/log.hpp"
#include "store/name_index.hpp"
#include "store/store.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace ruvo::test {

class ServiceTest : public ::testing::Test {
 protected:
  // The handlers expect `token`; health reports `version`.
  explicit ServiceTest(std::string token = "fedcba9876543210fedcba9876543210", std::string version = "1.2.3");

  // Opens an empty store at terms.sqlite3 in the folder and the contexts
  // over it; a store that cannot be opened fails the test.
  void SetUp() override;

  // Where the parts log: the file gui.log in the folder.
  desktop::answers::LogSink log_sink();
  // What the log holds so far ("" when nothing was written).
  std::string log_text() const;

  TempDir dir_;
  std::unique_ptr<desktop::service::Log> log_;  // before the parts that log to it, so it outlives them
  std::unique_ptr<desktop::store::TermStore> store_;
  // model.json is looked for in the folder; none is there at first.
  std::unique_ptr<desktop::answers::Models> models_;
  std::unique_ptr<desktop::store::NameIndex> names_;
  std::unique_ptr<desktop::answers::Context> answers_;
  std::unique_ptr<desktop::http::HandlerContext> ctx_;

 private:
  std::string token_;
  std::string version_;
};

}  // namespace ruvo::test
