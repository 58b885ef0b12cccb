#include "http/responses.hpp"

#include "http/browser.hpp"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

namespace ruvo::desktop::http {

namespace {

// A streamed body on its way out: the piece being sent and how much of it
// has gone.
struct Streaming {
  std::shared_ptr<StreamedBody> body;
  std::string piece;
  std::size_t sent = 0;
};

ssize_t read_stream(void* cls, uint64_t, char* buffer, size_t room) {
  auto& streaming = *static_cast<Streaming*>(cls);
  if (streaming.sent == streaming.piece.size()) {
    auto next = streaming.body->next();
    // Cut off rather than ended: a client must not take a failed export
    // for a whole one.
    if (!next) return MHD_CONTENT_READER_END_WITH_ERROR;
    if (next->empty()) return MHD_CONTENT_READER_END_OF_STREAM;
    streaming.piece = std::move(next).value();
    streaming.sent = 0;
  }
  const std::size_t n = std::min(room, streaming.piece.size() - streaming.sent);
  std::memcpy(buffer, streaming.piece.data() + streaming.sent, n);
  streaming.sent += n;
  return static_cast<ssize_t>(n);
}

void free_stream(void* cls) { delete static_cast<Streaming*>(cls); }

MHD_Response* streamed_response(const std::shared_ptr<StreamedBody>& body) {
  auto* streaming = new Streaming{body, {}, 0};
  MHD_Response* response =
      MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 64 * 1024, read_stream, streaming, free_stream);
  if (response == nullptr) {
    delete streaming;
    return nullptr;
  }
  MHD_add_response_header(response, "Content-Type", body->content_type.c_str());
  if (!body->file_name.empty()) {
    const std::string disposition = "attachment; filename=\"" + body->file_name + "\"";
    MHD_add_response_header(response, "Content-Disposition", disposition.c_str());
  }
  return response;
}

}  // namespace

MHD_Response* make_response(const Reply& reply, bool browser) {
  MHD_Response* response = nullptr;
  if (reply.stream) {
    response = streamed_response(reply.stream);
  } else {
    std::string body = reply.raw ? *reply.raw : common::to_compact(reply.body);
    response = MHD_create_response_from_buffer(body.size(), body.data(), MHD_RESPMEM_MUST_COPY);
    if (response != nullptr) {
      MHD_add_response_header(response, "Content-Type",
                              reply.raw ? reply.content_type.c_str() : "application/json; charset=utf-8");
    }
  }
  if (response == nullptr) return nullptr;
  MHD_add_response_header(response, "Connection", "close");
  for (const auto& [name, value] : reply.headers) MHD_add_response_header(response, name.c_str(), value.c_str());
  if (browser) {
    for (const auto& [name, value] : browser_headers()) {
      MHD_add_response_header(response, std::string(name).c_str(), std::string(value).c_str());
    }
  }
  return response;
}

}  // namespace ruvo::desktop::http
