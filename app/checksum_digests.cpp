// Checksum with CRC-32 and SHA-256: the part read into a buffer of its own
// (the window's image stays as it is), the sum logged as Checksum logs it,
// and the two digests after it for comparing with other tools.
#include <QAction>
#include <memory>
#include <string>
#include <vector>

#include "app/main_unit.h"
#include "core/memory/memory_ops.h"
#include "image/digests.h"

namespace qmx::app {

namespace {

// Passes the read on to the window but keeps its log lines: a read's hex dump
// is not wanted here, and its lines reach the log only when it fails.
class HeldLines : public Operator {
 public:
  explicit HeldLines(Operator& window) : window_(window) {}
  void LogLine(const std::string& utf8) override { lines_.push_back(utf8); }
  bool AskOkCancel(const std::string& text, const std::string& caption) override {
    return window_.AskOkCancel(text, caption);
  }
  void StartErrorIndication() override { window_.StartErrorIndication(); }
  void Progress(int done, int total) override { window_.Progress(done, total); }
  bool Cancelled() override { return window_.Cancelled(); }
  void Release() {
    for (const std::string& line : lines_) window_.LogLine(line);
  }

 private:
  Operator& window_;
  std::vector<std::string> lines_;
};

}  // namespace

void TMainUnit::mnDigestsClick() {
  if (opRunning_ || !link_.IsOpen()) return;
  const ProgramSettings settings = CurrentSettings();
  const std::int32_t size = image_.Size();
  opName_ = tr("チェックサム");
  RunOperation([this, settings, size](Operator& op) {
    auto part = std::make_unique<MemoryImage>();
    part->SetSize(size);
    HeldLines held(op);
    if (ProgramReadSide(link_, *part, reverse_, settings, held, kRead) != 1) {
      held.Release();
      return 0;
    }
    const auto* data = part->Data();
    const auto length = static_cast<std::size_t>(size);
    char line[48];
    std::snprintf(line, sizeof line, "checksum=%04X", static_cast<unsigned>(part->ImageSum()));
    op.LogLine(line);
    std::snprintf(line, sizeof line, "CRC-32=%08X", static_cast<unsigned>(Crc32(data, length)));
    op.LogLine(line);
    op.LogLine("SHA-256=" + DigestHex(Sha256(data, length)));
    return 1;
  });
}

}  // namespace qmx::app
