// How a caller hears that ruvo is still waiting, so that a person at a
// terminal can be shown it. The client only says what it waits for; what a
// person sees is the caller's business.
#pragma once

#include <functional>

namespace ruvo::client {

// What a long wait is for.
enum class Waiting {
  kService,         // a service that was already running to answer its health probe
  kStartedService,  // the service program just started to come up
  kReply,           // the reply to a request
};

// Called again and again, about every kWaitTickMs, while ruvo waits; an
// empty function listens to nothing, and then the waits are exactly as they
// are without one. It must return quickly and must not call back into the
// client.
using OnWait = std::function<void(Waiting)>;

inline constexpr int kWaitTickMs = 100;

}  // namespace ruvo::client
