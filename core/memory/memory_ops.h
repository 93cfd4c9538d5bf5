// The memory procedures of both deliverables: one bus sequence per family,
// with the range, block or page length and the action as parameters, and two
// thin front ends (the program's whole-part pass with its set-up and report,
// the library's range pass).
#pragma once

#include <cstdint>
#include <string>

namespace qmx {

class BitReversal;
class Connection;
class MemoryImage;

enum ReadSideOperation : int { kRead = 0, kCompare = 1, kBlankCheck = 2, kChecksum = 3 };
enum WriteSideOperation : int { kWrite = 0, kErase = 1 };

// What the program's procedures need of the window, so core needs no GUI.
class Operator {
 public:
  virtual ~Operator() = default;
  virtual void LogLine(const std::string& utf8) = 0;
  virtual bool AskOkCancel(const std::string& text, const std::string& caption) = 0;
  virtual void StartErrorIndication() = 0;
  // "checksum=%04X" of the image after a Read, for the status bar.
  virtual void ShowImageChecksum(std::uint16_t sum) { (void)sum; }
  // Blocks or pages done out of total, for a progress display.
  virtual void Progress(int done, int total) {
    (void)done;
    (void)total;
  }
  // True once the operator asked to stop: a pass looks between blocks or
  // pages, switches the supply off and reports "中止しました。".
  virtual bool Cancelled() { return false; }
  // A Compare's blocks as the part gave them, in address order from 0, before
  // they are compared: the window keeps them to show where the part differs.
  virtual void ComparedBlock(std::int32_t offset, const std::uint8_t* data, int count) {
    (void)offset;
    (void)data;
    (void)count;
  }
};

// The window's settings as the procedures read them.
struct ProgramSettings {
  int family = -1;            // DeviceFamily
  int row = -1;               // position in the part list
  int model = 3;              // ProgrammerModel
  int readSize = 0;           // 0 multi, 1 single
  int dataMode = 2;           // Microwire: 0 byte, 1 little endian, 2 big endian
  int gp0 = 1, gp1 = 1;       // Microwire pin levels, 0 L, 1 H
  int clockIndex = 1;         // 400k, 100k, 10k, 2k
  std::string maxWriteTime = "50";
  bool vppOut = true;         // model 2 only: supply the part from VPP
  std::string pageSize = "1";
  bool readAhead = true;      // false: each block read after the answer to the one before
};

// Program: whole part against the image, with the device set-up and the log
// report. 1 success, 0 failure.
int ProgramReadSide(Connection& link, MemoryImage& image, const BitReversal& reverse,
                    const ProgramSettings& settings, Operator& op, int operation);
int ProgramWriteSide(Connection& link, MemoryImage& image, const BitReversal& reverse,
                     const ProgramSettings& settings, Operator& op, int operation);

// Library: a range of the part given by device number, no set-up. Read side:
// 1/0, or the sum for Checksum (0 on failure). Write side: 1/0.
// Refused with 0 and nothing sent: closed port, unknown family or device
// number, negative start or length, a range past the part, a null buffer
// where the operation uses one, odd start or length on a word-organised write.
std::int32_t LibraryReadSide(Connection& link, const BitReversal& reverse, int family, int operation,
                             int deviceNumber, std::int32_t start, std::uint8_t* buffer, std::int32_t length,
                             std::int32_t blockSize);
std::int32_t LibraryWriteSide(Connection& link, const BitReversal& reverse, int family, int operation,
                              int deviceNumber, std::int32_t start, const std::uint8_t* buffer,
                              std::int32_t length, std::int32_t blockSize);

// Text fields as the procedures read them.
int ParseIntOr(const std::string& text, int fallback);
int PageLengthFromText(const std::string& text);  // 1..256, 1 when not a number

// Largest transfer that fits `maxData` and divides `page` (a power of two
// when the page must be split), so a part's real page boundaries are never crossed.
int FrameChunk(int page, int maxData);

}  // namespace qmx
