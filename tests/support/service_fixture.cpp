#include "support/service_fixture.hpp"

#include "platform/platform.hpp"

#include <utility>

namespace ruvo::test {

ServiceTest::ServiceTest(std::string token, std::string version)
    : token_(std::move(token)), version_(std::move(version)) {}

void ServiceTest::SetUp() {
  auto opened = desktop::store::TermStore::open(dir_.file("terms.sqlite3"), {});
  ASSERT_TRUE(opened.ok()) << opened.error().text();
  store_ = std::move(opened.value());
  log_ = std::make_unique<desktop::service::Log>(dir_.file("gui.log"));
  models_ = std::make_unique<desktop::answers::Models>(dir_.path(), log_sink());
  names_ = std::make_unique<desktop::store::NameIndex>(*store_);
  answers_ =
      std::make_unique<desktop::answers::Context>(desktop::answers::Context{*store_, version_, *models_, *names_});
  ctx_ = std::make_unique<desktop::http::HandlerContext>(desktop::http::HandlerContext{*answers_, token_});
}

desktop::answers::LogSink ServiceTest::log_sink() {
  return [this](std::string_view line) { log_->write(line); };
}

std::string ServiceTest::log_text() const { return platform::read_file(dir_.file("gui.log")).value_or(""); }

}  // namespace ruvo::test
