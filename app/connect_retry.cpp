#include "app/connect_retry.h"

#include "core/link/scommx.h"

namespace qmx::app {

bool ConnectRetry::MayTry(const std::string& port, Clock::time_point now) const {
  return port != port_ || now >= until_;
}

void ConnectRetry::Failed(const std::string& port, Clock::time_point now) {
  port_ = port;
  until_ = now + kRest;
}

bool ConnectRetry::FirstHeld(const std::string& port) {
  if (port == held_) return false;
  held_ = port;
  return true;
}

HandshakeWrites::HandshakeWrites(SCommX& channel) : channel_(channel), usualMs_(channel.timeoutMs) {
  channel_.SetTimeouts(kTimeoutMs);
}

HandshakeWrites::~HandshakeWrites() { channel_.SetTimeouts(usualMs_); }

}  // namespace qmx::app
