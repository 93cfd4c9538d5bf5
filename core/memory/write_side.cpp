// Write and Erase: the family's enable, then one write command per page,
// streamed without waits. Pages longer than a frame can carry are split into
// power-of-two pieces that divide the page; the last page is cut to the range.
#include <algorithm>
#include <array>
#include <chrono>
#include <optional>

#include "core/catalogue/catalogue.h"
#include "core/link/connection.h"
#include "core/memory/bus_sequences.h"
#include "core/memory/memory_ops.h"
#include "core/memory/part_target.h"
#include "core/memory/program_setup.h"
#include "image/memory_image.h"

namespace qmx {

namespace {

struct WritePlan {
  std::int32_t start = 0;   // byte address of the first byte
  std::int32_t length = 0;
  int page = 1;
  const std::uint8_t* source = nullptr;  // null: erase with 0xFF
};

const std::uint8_t* ErasedBlock() {
  static const std::array<std::uint8_t, 256> kErased = [] {
    std::array<std::uint8_t, 256> a{};
    a.fill(0xFF);
    return a;
  }();
  return kErased.data();
}

int MaxData(const PartTarget& part) {
  switch (part.family) {
    case kFamilyI2c: return kMaxI2cData;
    case kFamilySpi: return MaxSpiData(*part.spi);
    default: return part.series90 ? 2 : kMaxMicrowireData;
  }
}

// One piece of a page: a single write command at byte address `address`.
void WritePiece(Connection& link, const BitReversal& reverse, const PartTarget& part, std::int32_t address,
                const std::uint8_t* data, int count) {
  switch (part.family) {
    case kFamilyMicrowire:
      if (part.series90) {
        Series90WriteWord(link, reverse, part.addressBits, address / 2, data);
      } else {
        MicrowireWriteUnits(link, part.addressBits, part.byteOrganisation ? address : address / 2, data, count);
      }
      break;
    case kFamilyI2c: I2cWritePage(link, *part.i2c, address, data, count); break;
    case kFamilySpi: SpiWritePage(link, *part.spi, address, data, count); break;
    default: break;
  }
}

// An operator's stop can only end the pass at the host: what the port and the
// programmer already hold is written anyway, and a pseudo-terminal alone holds
// some 18 kB (seconds of write cycles). So a pass that can be stopped puts a
// version query behind every interval of streamed work and, before sending the
// next, waits for the answer to the last: at most two intervals are ever queued
// ahead of the programmer, and the pages of the next are on their way while it
// answers. The modelled work prices a write cycle at its maximum, so the real
// bound is shorter still.
class Checkpoints {
 public:
  static constexpr std::chrono::milliseconds kInterval{50};
  explicit Checkpoints(Connection& link) : link_(link), last_(link.WorkSent()) {}
  // After each page; false when the programmer did not answer the last
  // query, which ends the connection: it is hung with pages queued.
  bool Passed() {
    if (link_.WorkSent() - last_ < kInterval) return true;
    if (armed_ && !link_.WaitResponse(RESP_VERSION)) {
      link_.Abandon();
      return false;
    }
    link_.Expect(RESP_VERSION);
    armed_ = link_.SendCommand(GET_VERSION) && link_.Flush();
    last_ = link_.WorkSent();
    return armed_;
  }

 private:
  Connection& link_;
  std::chrono::nanoseconds last_;
  bool armed_ = false;
};

// Pages and their pieces end on multiples of their length in the part's own
// addresses: a range that starts inside a page is cut at the page's end
// rather than wrapping round inside the chip and overwriting its first bytes.
// True when every page went out; false when the link closed, the programmer
// stopped answering or the operator stopped the pass first (passes with an
// operator are the ones that can be stopped, and only they are checkpointed).
bool RunWritePass(Connection& link, const BitReversal& reverse, const PartTarget& part, const WritePlan& plan,
                  Operator* op, std::int32_t* position) {
  const int chunk = FrameChunk(plan.page, MaxData(part));
  const std::int32_t end = plan.start + plan.length;
  const int total = plan.length > 0 ? static_cast<int>((end - 1) / plan.page - plan.start / plan.page + 1) : 0;
  int done = 0;
  std::optional<Checkpoints> checkpoints;
  if (op) checkpoints.emplace(link);
  // A programmer that stopped taking bytes has closed the link: the pass
  // ends at the first page that could not go out whole.
  for (std::int32_t t = 0; t < plan.length && link.IsOpen() && !(op && op->Cancelled());) {
    const std::int32_t address = plan.start + t;
    const std::int32_t pageLength = std::min<std::int32_t>(plan.page - address % plan.page, plan.length - t);
    for (std::int32_t k = 0; k < pageLength;) {
      const std::int32_t at = address + k;
      const int count = static_cast<int>(std::min<std::int32_t>(chunk - at % chunk, pageLength - k));
      const std::uint8_t* data = plan.source ? plan.source + t + k : ErasedBlock();
      WritePiece(link, reverse, part, at, data, count);
      k += count;
    }
    t += pageLength;
    if (position) *position = t;
    if (op) op->Progress(++done, total);
    if (checkpoints && !checkpoints->Passed()) return false;
  }
  return done == total && link.IsOpen();
}

void WriteEnable(Connection& link, const PartTarget& part) {
  if (part.family != kFamilyMicrowire) return;  // SPI enables before every page
  if (part.series90) {
    Series90WriteEnable(link);
  } else {
    MicrowireWriteEnable(link, part.addressBits);
  }
}

int ProgramPage(const PartTarget& part, const ProgramSettings& settings) {
  if (part.family == kFamilyMicrowire) return part.series90 || !part.byteOrganisation ? 2 : 1;
  return PageLengthFromText(settings.pageSize);
}

int LibraryPage(const PartTarget& part, std::int32_t blockSize) {
  // A Microwire part stores one unit per WRITE instruction; the clock pulses
  // of a longer block would not be a second write.
  if (part.family == kFamilyMicrowire) return part.byteOrganisation ? 1 : 2;
  if (blockSize > 256) return 256;
  if (blockSize > 0) return static_cast<int>(blockSize);
  return part.WordOrganised() ? 2 : 1;
}

}  // namespace

int FrameChunk(int page, int maxData) {
  if (page <= maxData) return page;
  int chunk = 1;
  while (chunk * 2 <= maxData && page % (chunk * 2) == 0) chunk *= 2;
  return chunk;
}

std::int32_t LibraryWriteSide(Connection& link, const BitReversal& reverse, int family, int operation,
                              int deviceNumber, std::int32_t start, const std::uint8_t* buffer,
                              std::int32_t length, std::int32_t blockSize) {
  if (!link.IsOpen() || operation < kWrite || operation > kErase) return 0;
  SendBatch batch(link);
  const std::optional<PartTarget> part = LibraryTarget(family, deviceNumber);
  if (!part || start < 0 || length < 0 || start > part->size - length) return 0;
  if (buffer == nullptr && operation == kWrite) return 0;
  WritePlan plan;
  plan.start = start;
  plan.length = length;
  plan.page = LibraryPage(*part, blockSize);
  plan.source = operation == kWrite ? buffer : nullptr;
  // Word-organised parts take whole words only: an odd start or length
  // would leave half a word to come from beyond the caller's data.
  if (part->WordOrganised() && (start % 2 != 0 || length % 2 != 0)) return 0;

  if (part->family == kFamilyMicrowire)
    link.SendCommand2(WR_GPIO, part->series90 ? 0 : (part->byteOrganisation ? 1 : 3));
  if (part->family == kFamilyI2c) link.SendCommand2(WR_GPIO, 0);
  const std::uint64_t failuresBefore = link.SendFailures();
  WriteEnable(link, *part);
  RunWritePass(link, reverse, *part, plan, nullptr, nullptr);
  link.Flush();
  return link.SendFailures() == failuresBefore ? 1 : 0;
}

int ProgramWriteSide(Connection& link, MemoryImage& image, const BitReversal& reverse,
                     const ProgramSettings& settings, Operator& op, int operation) {
  const std::optional<PartTarget> part = ProgramTarget(settings);
  if (!part || operation < kWrite || operation > kErase) return 0;
  SendBatch batch(link);
  const bool microwire = part->family == kFamilyMicrowire;
  if (microwire) LastError(link);  // clears what an earlier command left behind
  if (!ProgramDeviceSetup(link, settings, *part, op)) {
    if (microwire) op.StartErrorIndication();
    return 0;
  }
  WritePlan plan;
  plan.length = part->size;
  plan.page = ProgramPage(*part, settings);
  plan.source = operation == kWrite ? image.Data() : nullptr;
  image.writePosition = 0;
  const std::uint64_t failuresBefore = link.SendFailures();
  WriteEnable(link, *part);
  const bool finished = RunWritePass(link, reverse, *part, plan, &op, &image.writePosition);
  link.Flush();
  const bool sentWhole = link.SendFailures() == failuresBefore;
  link.SendCommand2(DEV_CTRL, DEVCTRL_SUPPLY_OFF);
  // Its answer also says that the pages taken are written: without it the
  // programmer may have vanished with pages still queued, in every family.
  const bool answered = link.Query(GET_LAST_ERR, RESP_LAST_ERR);
  const int error = answered ? static_cast<int>(link.Response().data[1]) : static_cast<int>(UNKNOWN_ERROR);
  if (!finished && op.Cancelled()) {
    op.LogLine("中止しました。");
    return 0;
  }
  // Only the Microwire passes are judged on the programmer's last error; a
  // pass that did not reach the programmer whole, or lost its answers on the
  // way, fails in every family.
  if (!finished || !answered || (microwire && error != ERROR_NONE) || !sentWhole) {
    op.LogLine("エラーが発生しました。");
    return 0;
  }
  op.LogLine(operation == kErase ? "デバイス消去が完了しました。" : "書き込みが完了しました。");
  return 1;
}

}  // namespace qmx
