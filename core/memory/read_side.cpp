// Read, Compare, BlankCheck and Checksum: one block loop per pass, the
// family's block read, and the per-block action.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>

#include "core/catalogue/catalogue.h"
#include "core/discovery/port_discovery.h"
#include "core/link/connection.h"
#include "core/memory/bus_sequences.h"
#include "core/memory/memory_ops.h"
#include "core/memory/part_target.h"
#include "core/memory/program_setup.h"
#include "image/hex_dump.h"
#include "image/memory_image.h"

namespace qmx {

namespace {

class ReadAction {
 public:
  // countAll: a Compare reads on past a difference to count them all.
  ReadAction(int operation, std::uint8_t* target, bool countAll = false)
      : operation_(operation), target_(target), countAll_(countAll) {}

  // False when the block fails the operation.
  bool Apply(const std::uint8_t* data, int count, std::int32_t offset) {
    switch (operation_) {
      case kRead:
        std::memcpy(target_ + offset, data, static_cast<std::size_t>(count));
        return true;
      case kCompare:
        if (!countAll_) return std::memcmp(target_ + offset, data, static_cast<std::size_t>(count)) == 0;
        for (int i = 0; i < count; ++i) {
          if (data[i] == target_[offset + i]) continue;
          if (differing_++ == 0) first_ = {offset + i, data[i], target_[offset + i]};
        }
        return true;
      case kBlankCheck:
        for (int i = 0; i < count; ++i) {
          if (data[i] != 0xFF) return false;
        }
        return true;
      default:
        for (int i = 0; i < count; ++i) sum_ += data[i];
        return true;
    }
  }
  std::int32_t Sum() const { return sum_; }
  bool Compares() const { return operation_ == kCompare; }
  struct Difference {
    std::int32_t address = 0;
    std::uint8_t part = 0, buffer = 0;
  };
  int Differing() const { return differing_; }
  const Difference& First() const { return first_; }

 private:
  int operation_;
  std::uint8_t* target_;
  bool countAll_;
  std::int32_t sum_ = 0;
  int differing_ = 0;
  Difference first_;
};

void SendReadBlock(Connection& link, const BitReversal& reverse, const PartTarget& part, std::int32_t unit,
                   int count) {
  switch (part.family) {
    case kFamilyMicrowire:
      if (part.series90) {
        Series90SendRead(link, reverse, part.addressBits, unit, count);
      } else {
        MicrowireSendRead(link, part.addressBits, unit, count);
      }
      break;
    case kFamilyI2c: I2cSendRead(link, *part.i2c, unit, count); break;
    case kFamilySpi: SpiSendRead(link, *part.spi, unit, count); break;
    default: break;
  }
}

// The block loop both front ends share. The last block is cut to the bytes
// that remain, so nothing past the range is stored or compared. Up to
// plan.depth blocks are sent ahead of their answers, which are taken strictly
// in order: the frames are those of one block after another, only sooner. A
// failed block ends the pass there; the answers still owed are the
// connection's to clear before its next wait.
bool RunReadPass(Connection& link, const BitReversal& reverse, const PartTarget& part, const ReadPlan& plan,
                 ReadAction& action, Operator* op, std::int32_t* position) {
  const int total = plan.block > 0 ? static_cast<int>((plan.length + plan.block - 1) / plan.block) : 0;
  const std::size_t depth = static_cast<std::size_t>(std::max(plan.depth, 1));
  const BitReversal* reversed = part.family == kFamilyMicrowire && part.series90 ? &reverse : nullptr;
  struct Sent {
    std::int32_t offset;
    int count;
  };
  std::deque<Sent> inFlight;
  // However the pass ends, answers it will not take are owed.
  struct Owed {
    Connection& link;
    ~Owed() { link.AbandonExpected(); }
  } owed{link};
  Answer answer;
  std::int32_t next = 0;
  std::int32_t unit = plan.unitStart;
  int done = 0;
  while (next < plan.length || !inFlight.empty()) {
    while (next < plan.length && inFlight.size() < depth) {
      if (op && op->Cancelled()) return false;
      const int count = static_cast<int>(std::min<std::int32_t>(plan.block, plan.length - next));
      if (inFlight.empty()) {
        link.Expect(RESP_DATA);
      } else {
        link.ExpectAnother(RESP_DATA);
      }
      SendReadBlock(link, reverse, part, unit, count);
      inFlight.push_back({next, count});
      next += plan.block;
      unit += plan.unitStep;
    }
    const Sent block = inFlight.front();
    inFlight.pop_front();
    if (!AwaitReadData(link, block.count, answer, reversed)) return false;
    if (op && action.Compares()) op->ComparedBlock(block.offset, answer.data.data(), block.count);
    if (!action.Apply(answer.data.data(), block.count, block.offset)) return false;
    if (position) *position = block.offset + block.count;
    if (op) op->Progress(++done, total);
  }
  return true;
}

constexpr int kMaxI2cReadBlock = 128;

int ClampBlock(std::int32_t block, int whenZero) {
  if (block > 256) return 256;
  return block <= 0 ? whenZero : static_cast<int>(block);
}

// "0" or "1": block by block; "2" to "8": that many blocks in flight, for
// firmware with smaller or larger buffers; anything else: the default.
int ReadDepth() {
  const std::optional<std::string> value = ReadProcessEnv(kPipelineVariable);
  if (!value || value->size() != 1 || (*value)[0] < '0' || (*value)[0] > '0' + kMaxReadDepth) return kReadDepth;
  return std::max(1, (*value)[0] - '0');
}

ReadPlan LibraryReadPlan(const PartTarget& part, std::int32_t start, std::int32_t length, std::int32_t blockSize) {
  ReadPlan plan;
  plan.depth = ReadDepth();
  plan.length = length;
  const bool words = part.WordOrganised();
  plan.block = ClampBlock(blockSize, words ? 2 : 1);
  // Word parts step by whole words: an odd block would read a word twice.
  if (words) plan.block = std::max(plan.block & ~1, 2);
  // An I2C read count travels negated (256 - count); above 128 that byte
  // reads like a plain count, so larger I2C blocks go as two transfers.
  if (part.family == kFamilyI2c) plan.block = std::min(plan.block, kMaxI2cReadBlock);
  plan.unitStart = words ? start / 2 : start;
  plan.unitStep = words ? plan.block / 2 : plan.block;
  return plan;
}

ReadPlan ProgramReadPlan(const PartTarget& part, int readSize, bool readAhead) {
  ReadPlan plan;
  plan.depth = readAhead ? ReadDepth() : 1;
  plan.length = part.size;
  if (part.family == kFamilyMicrowire) {
    plan.block = readSize == 1 ? 2 : 16;
    if (part.byteOrganisation) plan.block /= 2;
    plan.unitStep = part.byteOrganisation ? plan.block : plan.block / 2;
  } else {
    plan.block = 16;
    plan.unitStep = 16;
  }
  return plan;
}

std::string ChecksumLine(std::uint32_t sum) {
  char line[24];
  std::snprintf(line, sizeof line, "checksum=%04X", static_cast<unsigned>(sum & 0xFFFF));
  return line;
}

void ReportRead(MemoryImage& image, const PartTarget& part, const ProgramSettings& settings, Operator& op,
                int operation, const ReadAction& action) {
  switch (operation) {
    case kRead: {
      op.LogLine("読出しデータ:");
      const DumpLayout layout =
          part.family == kFamilyMicrowire ? DumpLayoutFromIndex(settings.dataMode) : DumpLayout::kBytes;
      for (const std::string& line : HexDumpLines(image.Data(), static_cast<std::size_t>(image.Size()), layout))
        op.LogLine(line);
      op.LogLine(ChecksumLine(image.ImageSum()));
      op.ShowImageChecksum(image.ImageSum());
      break;
    }
    case kCompare: op.LogLine("データはバッファと同一です。"); break;
    case kBlankCheck: op.LogLine("デバイスはブランクです。"); break;
    default: op.LogLine(ChecksumLine(static_cast<std::uint32_t>(action.Sum()))); break;
  }
}

void ReportReadFailure(Operator& op, int operation) {
  op.StartErrorIndication();
  if (operation == kRead) op.LogLine("メモリ読出しでエラーが発生しました。");
  if (operation == kCompare) op.LogLine("データ比較でエラーが発生しました。");
  if (operation == kBlankCheck) op.LogLine("デバイスはブランクではありません。");
  if (operation == kChecksum) op.LogLine("チェックサムの取得でエラーが発生しました。");
}

// Where the part and the buffer part ways, after the failure line.
void ReportDifferences(Operator& op, const ReadAction& action) {
  if (action.Differing() == 0) return;
  const ReadAction::Difference& d = action.First();
  char line[160];
  std::snprintf(line, sizeof line, "相違 %d バイト: 最初はアドレス %04X (デバイス %02X, バッファ %02X)", action.Differing(),
                static_cast<unsigned>(d.address), d.part, d.buffer);
  op.LogLine(line);
}

}  // namespace

std::int32_t LibraryReadSide(Connection& link, const BitReversal& reverse, int family, int operation,
                             int deviceNumber, std::int32_t start, std::uint8_t* buffer, std::int32_t length,
                             std::int32_t blockSize) {
  if (!link.IsOpen() || operation < kRead || operation > kChecksum) return 0;
  SendBatch batch(link);
  const std::optional<PartTarget> part = LibraryTarget(family, deviceNumber);
  if (!part || start < 0 || length < 0 || start > part->size - length) return 0;
  if (buffer == nullptr && (operation == kRead || operation == kCompare)) return 0;
  // Word parts are addressed by words: an odd start would give the byte before it.
  if (part->WordOrganised() && start % 2 != 0) return 0;

  if (part->family == kFamilyMicrowire && !part->series90)
    link.SendCommand2(WR_GPIO, part->byteOrganisation ? 1 : 3);
  if (part->family == kFamilyI2c) link.SendCommand2(WR_GPIO, 0);

  ReadAction action(operation, buffer);
  if (!RunReadPass(link, reverse, *part, LibraryReadPlan(*part, start, length, blockSize), action, nullptr, nullptr))
    return 0;
  return operation == kChecksum ? action.Sum() : 1;
}

int ProgramReadSide(Connection& link, MemoryImage& image, const BitReversal& reverse,
                    const ProgramSettings& settings, Operator& op, int operation) {
  const std::optional<PartTarget> part = ProgramTarget(settings);
  if (!part || operation < kRead || operation > kChecksum) return 0;
  SendBatch batch(link);
  if (!ProgramDeviceSetup(link, settings, *part, op)) {
    if (part->family == kFamilyMicrowire) op.StartErrorIndication();
    return 0;
  }
  image.readPosition = 0;
  ReadAction action(operation, image.Data(), /*countAll=*/true);
  const bool passed =
      RunReadPass(link, reverse, *part, ProgramReadPlan(*part, settings.readSize, settings.readAhead), action, &op,
                  &image.readPosition);
  const bool ok = passed && action.Differing() == 0;
  link.SendCommand2(DEV_CTRL, DEVCTRL_SUPPLY_OFF);
  LastError(link);
  if (!passed && op.Cancelled()) {
    op.LogLine("中止しました。");
    return 0;
  }
  if (!ok) {
    ReportReadFailure(op, operation);
    ReportDifferences(op, action);
    return 0;
  }
  ReportRead(image, *part, settings, op, operation, action);
  return 1;
}

}  // namespace qmx
