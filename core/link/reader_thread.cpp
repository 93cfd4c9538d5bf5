#include "core/link/reader_thread.h"

#include <pthread.h>

#include <algorithm>

#include "core/link/frame_decoder.h"
#include "core/link/scommx.h"

namespace qmx {

ReaderThread::~ReaderThread() { Stop(); }

bool ReaderThread::Start(SCommX& channel, FrameDecoder& decoder) {
  if (thread_.joinable() || !wake_.Valid()) return false;
  wake_.Reset();
  portGone_ = false;
  run_ = true;
  thread_ = std::thread([this, &channel, &decoder] { Loop(channel, decoder); });
  return true;
}

void ReaderThread::Stop() {
  if (!thread_.joinable()) return;
  run_ = false;
  wake_.Set();
  thread_.join();
  wake_.Reset();
}

void ReaderThread::Loop(SCommX& channel, FrameDecoder& decoder) {
#if defined(__linux__)
  pthread_setname_np(pthread_self(), "thRead");  // so debuggers and ps show which thread it is
#endif
  while (run_.load()) {
    int queued = 0;
    switch (channel.WaitReceive(wake_, &queued)) {
      case ReceiveWait::Readable:
        Drain(channel, decoder, queued);
        break;
      case ReceiveWait::Stopped:
        break;
      case ReceiveWait::HungUp:
      case ReceiveWait::Closed:
        // Nothing more can arrive on this port; waking again would only spin.
        portGone_ = true;
        SleepUntilStopped();
        break;
    }
  }
}

void ReaderThread::Drain(SCommX& channel, FrameDecoder& decoder, int queued) {
  while (queued > 0) {
    const int k = channel.Read(buffer_, std::min(queued, kBlock));
    // A failed read makes no progress through the count: end the drain.
    if (k <= 0) return;
    decoder.Feed(buffer_, k);
    queued -= k;
  }
}

void ReaderThread::SleepUntilStopped() {
  while (run_.load()) {
    if (wake_.Wait(-1)) return;
  }
}

}  // namespace qmx
