// The programmer's firmware model without I/O: host bytes in, framed answers out.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "sim/bus_device.h"
#include "sim/eeprom_part.h"
#include "sim/firmware_clock.h"
#include "sim/frame_codec.h"

namespace qmx::sim {

struct LoggedCommand {
  std::uint8_t code;
  std::vector<std::uint8_t> args;
};

// Instant: everything is carried out at once. Real: commands take the bus time
// of what they clock at the set clock, one after the other, and answers and
// write cycles take datasheet-like defaults.
enum class Timing { kInstant, kReal };

struct Options {
  std::string model = "QMX-71A";     // GET_NAME text; presets "QMX-71A", "QMX-71B", "QMX-71C", "QMX-ISP"
  bool nameZeroTerminated = true;    // false: the name answer carries no terminating zero
  std::uint8_t vccReading = 79;      // GET_VOLTAGE answer byte r (host shows 26100/r in 10 mV units)
  std::uint8_t firmwareMajor = 1, firmwareMinor = 0;
  bool partPresent = true;           // CHK_DEVICE byte 0
  std::uint8_t detectedAddressBits = 1;  // CHK_DEVICE byte 1
  Timing timing = Timing::kInstant;
  // Time from a command's end to its answer leaving; unset: 1 ms in real timing, none in instant.
  std::optional<std::chrono::microseconds> answerLatency;
  bool keepLog = true;               // false: commands are not kept (long-running program)
  // Each programmed write keeps the part busy this long and the firmware waits
  // for it before its next command; unset: 5 ms in real timing, none in instant.
  std::optional<std::chrono::microseconds> writeCycle;
  bool externalSupply = false;       // the part is powered by its board, whatever DEV_CTRL 7/8 say
  // A bad contact: each data byte read from the bus has one random bit flipped
  // with this probability (0..1); the part keeps its contents.
  double flakyContactRate = 0.0;
  std::uint32_t flakyContactSeed = 1;
};

// The latency and write cycle in force: the explicit setting, else the timing's default.
std::chrono::microseconds AnswerLatency(const Options& options);
std::chrono::microseconds WriteCycle(const Options& options);

struct ProgrammerState {
  std::uint8_t family = 0, variant = 0, maxWriteTimeMs = 0;  // from SET_MODE
  bool modeSet = false;
  int restarts = 0;                  // SET_RESTART count
  bool initSeen = false;             // DEV_CTRL 1 received
  bool supplyOn = false;             // DEV_CTRL 7 / 8
  bool chipSelectHigh = false;       // DEV_CTRL 2 high / 3 low
  bool i2cStarted = false;           // between DEV_CTRL 4 (or 6) and 5
  std::uint8_t gpio = 0;             // WR_GPIO levels
  // From SET_FREQ, echoed by GET_FREQ; 100 kHz until the first SET_FREQ, as the firmware starts.
  std::uint8_t freqLow = 0x64, freqHigh = 0, freqUnit = 1;
  std::uint8_t led = 13;             // last LED sub-code (12 OFF, 13 ON, 14 BUSY, 15 ERROR)
  std::uint8_t lastError = 0;        // programmer error code
  bool switchPressed = false;
};

// One framed answer, the command code that provoked it and when it leaves the
// programmer (its command's end plus the answer latency).
struct Answer {
  std::uint8_t command;
  std::vector<std::uint8_t> frame;
  std::chrono::steady_clock::time_point due{};
};

// Thread-compatible: one caller at a time.
class Programmer {
 public:
  using Clock = std::chrono::steady_clock;

  explicit Programmer(Options options = {});

  // Decodes, logs and executes every complete command; answers are appended.
  // Commands start when they arrived or when the previous one ended, whichever
  // is later; the byte form is for callers that ignore time.
  void Receive(std::span<const std::uint8_t> bytes, std::vector<Answer>& answersOut,
               Clock::time_point arrival = Clock::now());
  void Receive(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& answersOut);

  // When the firmware will be through with every command received so far.
  Clock::time_point FreeAt() const { return clock_.Now(); }
  std::uint64_t BusClockHz() const { return clock_.BusClockHz(); }
  const TimingAccount& Account() const { return clock_.Account(); }
  void ResetAccount() { clock_.ResetAccount(); }

  // Forgets a half-received frame (the link went down under it).
  void ResetDecoder() { decoder_.Reset(); }
  // Drops the work still ahead of the firmware, as a power cycle does.
  void AbandonPendingWork(Clock::time_point now) { clock_.AbandonAfter(now); }

  // Records the switch state and returns the unsolicited report frame.
  std::vector<std::uint8_t> SwitchReport(bool pressed);

  const ProgrammerState& State() const { return state_; }
  const Options& Settings() const { return options_; }
  const std::vector<LoggedCommand>& Log() const { return log_; }
  void ClearLog() { log_.clear(); }

  void SetVccReading(std::uint8_t r) { options_.vccReading = r; }
  void SetModel(const std::string& name) { options_.model = name; }
  void SetPartPresent(bool present, std::uint8_t addressBits);
  // Any other device replaces an inserted part.
  void AttachDevice(std::shared_ptr<BusDevice> device);

  // The socket. An inserted part answers CHK_DEVICE; after RemovePart it
  // reports no part. The part takes on the programmer's mode, GPIO and supply.
  bool InsertPart(const std::string& name);  // false for a name not catalogued
  void RemovePart();
  std::string PartName() const;              // empty when no part is inserted
  std::vector<std::uint8_t> PartContents() const;
  bool SetPartContents(std::span<const std::uint8_t> bytes);  // false without part or on a wrong size
  // As Options::flakyContactRate; the same seed gives the same flips.
  void SetFlakyContact(double rate, std::uint32_t seed);
  // Called for every decoded command before it is executed, kept in the log or not.
  void SetCommandObserver(std::function<void(const LoggedCommand&)> observer) {
    observer_ = std::move(observer);
  }

 private:
  using Args = std::span<const std::uint8_t>;
  using Handler = void (Programmer::*)(Args args, std::vector<Answer>& out);
  struct CommandEntry {
    std::uint8_t code;
    std::size_t minArgs;
    Handler handler;
  };
  static const CommandEntry* FindCommand(std::uint8_t code);

  void Execute(std::span<const std::uint8_t> payload, std::vector<Answer>& out);
  void Reply(std::uint8_t command, std::uint8_t answerCode, std::span<const std::uint8_t> data,
             std::vector<Answer>& out);
  void AfterPrimitive();
  BusDevice& Device();

  void OnGetVersion(Args args, std::vector<Answer>& out);
  void OnSetMode(Args args, std::vector<Answer>& out);
  void OnWriteGpio(Args args, std::vector<Answer>& out);
  void OnWriteData(Args args, std::vector<Answer>& out);
  void OnWriteDone(Args args, std::vector<Answer>& out);
  void OnReadData(Args args, std::vector<Answer>& out);
  void OnCheckDevice(Args args, std::vector<Answer>& out);
  void OnDevCtrl(Args args, std::vector<Answer>& out);
  void OnSetFreq(Args args, std::vector<Answer>& out);
  void OnGetFreq(Args args, std::vector<Answer>& out);
  void OnGetLastError(Args args, std::vector<Answer>& out);
  void OnGetName(Args args, std::vector<Answer>& out);
  void OnSetRestart(Args args, std::vector<Answer>& out);
  void OnGetVoltage(Args args, std::vector<Answer>& out);

  Options options_;
  ProgrammerState state_;
  FrameDecoder decoder_;
  std::vector<LoggedCommand> log_;
  std::shared_ptr<BusDevice> device_;
  std::shared_ptr<EepromPart> part_;  // also device_ while inserted
  FirmwareClock clock_;
  std::chrono::microseconds latency_;
  std::chrono::microseconds writeCycle_;
  std::function<void(const LoggedCommand&)> observer_;
  BusDevice floatingBus_;  // stands in when no part model is attached
  std::mt19937 contactNoise_;
};

// Decodes a READ_DATA count byte: I2C reads that end a transfer send 256 - count.
struct ReadCount {
  int count;
  bool i2cLastRead;
};
ReadCount DecodeReadCount(std::uint8_t family, std::uint8_t countByte);

}  // namespace qmx::sim
