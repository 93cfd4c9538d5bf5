#include "sim/programmer.h"

#include <algorithm>
#include <array>

#include "sim/protocol.h"

namespace qmx::sim {

namespace {

// Counts of READ_DATA in the two's-complement form start here.
constexpr std::uint8_t kTwosComplementCountFloor = 0x80;
constexpr int kFullBlock = 256;
// Real timing's defaults: a USB round trip's share per answer, a datasheet write cycle.
constexpr std::chrono::microseconds kRealLatency{1000};
constexpr std::chrono::microseconds kRealWriteCycle{5000};

struct ControlEntry {
  std::uint8_t subCode;
  void (*apply)(ProgrammerState& state);
  bool forwarded;  // the bus sees it; LED changes stay inside the programmer
  bool edge;       // a bus line edge, one bit time at the set clock
};

constexpr std::array<ControlEntry, 12> kControls = {{
    {kCtrlInit, [](ProgrammerState& s) { s.initSeen = true; }, true, false},
    {kCtrlChipSelectHigh, [](ProgrammerState& s) { s.chipSelectHigh = true; }, true, true},
    {kCtrlChipSelectLow, [](ProgrammerState& s) { s.chipSelectHigh = false; }, true, true},
    {kCtrlI2cStart, [](ProgrammerState& s) { s.i2cStarted = true; }, true, true},
    {kCtrlI2cStop, [](ProgrammerState& s) { s.i2cStarted = false; }, true, true},
    {kCtrlI2cRestart, [](ProgrammerState& s) { s.i2cStarted = true; }, true, true},
    {kCtrlSupplyOn, [](ProgrammerState& s) { s.supplyOn = true; }, true, false},
    {kCtrlSupplyOff, [](ProgrammerState& s) { s.supplyOn = false; }, true, false},
    {kCtrlLedOff, [](ProgrammerState& s) { s.led = kCtrlLedOff; }, false, false},
    {kCtrlLedOn, [](ProgrammerState& s) { s.led = kCtrlLedOn; }, false, false},
    {kCtrlLedBusy, [](ProgrammerState& s) { s.led = kCtrlLedBusy; }, false, false},
    {kCtrlLedError, [](ProgrammerState& s) { s.led = kCtrlLedError; }, false, false},
}};

}  // namespace

ReadCount DecodeReadCount(std::uint8_t family, std::uint8_t countByte) {
  if (family == kFamilyI2c && countByte >= kTwosComplementCountFloor) {
    return {kFullBlock - countByte, true};
  }
  return {countByte == 0 ? kFullBlock : countByte, false};
}

std::chrono::microseconds AnswerLatency(const Options& options) {
  return options.answerLatency.value_or(options.timing == Timing::kReal ? kRealLatency
                                                                        : std::chrono::microseconds::zero());
}

std::chrono::microseconds WriteCycle(const Options& options) {
  return options.writeCycle.value_or(options.timing == Timing::kReal ? kRealWriteCycle
                                                                     : std::chrono::microseconds::zero());
}

Programmer::Programmer(Options options)
    : options_(std::move(options)),
      clock_(options_.timing == Timing::kReal),
      latency_(AnswerLatency(options_)),
      writeCycle_(WriteCycle(options_)),
      contactNoise_(options_.flakyContactSeed) {}

void Programmer::SetFlakyContact(double rate, std::uint32_t seed) {
  options_.flakyContactRate = std::clamp(rate, 0.0, 1.0);
  contactNoise_.seed(seed);
}

const Programmer::CommandEntry* Programmer::FindCommand(std::uint8_t code) {
  static const std::array<CommandEntry, 14> kCommands = {{
      {GET_VERSION, 0, &Programmer::OnGetVersion},
      {SET_MODE, 3, &Programmer::OnSetMode},
      {WR_GPIO, 1, &Programmer::OnWriteGpio},
      {WRITE_DATA, 1, &Programmer::OnWriteData},
      {READ_DATA, 1, &Programmer::OnReadData},
      {CHK_DEVICE, 0, &Programmer::OnCheckDevice},
      {DEV_CTRL, 1, &Programmer::OnDevCtrl},
      {SET_FREQ, 3, &Programmer::OnSetFreq},
      {GET_FREQ, 0, &Programmer::OnGetFreq},
      {WRITE_DONE, 1, &Programmer::OnWriteDone},
      {GET_LAST_ERR, 0, &Programmer::OnGetLastError},
      {GET_NAME, 0, &Programmer::OnGetName},
      {SET_RESTART, 1, &Programmer::OnSetRestart},
      {GET_VOLTAGE, 0, &Programmer::OnGetVoltage},
  }};
  auto it = std::find_if(kCommands.begin(), kCommands.end(),
                         [code](const CommandEntry& e) { return e.code == code; });
  return it == kCommands.end() ? nullptr : &*it;
}

void Programmer::Receive(std::span<const std::uint8_t> bytes, std::vector<Answer>& answersOut,
                         Clock::time_point arrival) {
  decoder_.Feed(bytes, [&](std::span<const std::uint8_t> payload) {
    clock_.Start(arrival);
    Execute(payload, answersOut);
  });
}

void Programmer::Receive(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& answersOut) {
  std::vector<Answer> answers;
  Receive(bytes, answers);
  for (const Answer& a : answers) answersOut.insert(answersOut.end(), a.frame.begin(), a.frame.end());
}

std::vector<std::uint8_t> Programmer::SwitchReport(bool pressed) {
  state_.switchPressed = pressed;
  const std::array<std::uint8_t, 2> payload = {kAnswerSwitch, static_cast<std::uint8_t>(pressed ? 1 : 0)};
  return EncodeFrame(payload);
}

void Programmer::SetPartPresent(bool present, std::uint8_t addressBits) {
  options_.partPresent = present;
  options_.detectedAddressBits = addressBits;
}

void Programmer::AttachDevice(std::shared_ptr<BusDevice> device) {
  part_.reset();
  device_ = std::move(device);
}

bool Programmer::InsertPart(const std::string& name) {
  std::shared_ptr<EepromPart> part = MakePart(name);
  if (!part) return false;
  part->SetExternalSupply(options_.externalSupply);
  part->OnModeChanged(state_.family, state_.variant);
  part->OnGpio(state_.gpio);
  if (state_.supplyOn) part->OnControl(kCtrlSupplyOn);
  part_ = part;
  device_ = std::move(part);
  return true;
}

void Programmer::RemovePart() {
  part_.reset();
  device_.reset();
  SetPartPresent(false, 1);
}

std::string Programmer::PartName() const { return part_ ? part_->Name() : std::string(); }

std::vector<std::uint8_t> Programmer::PartContents() const {
  return part_ ? part_->Contents() : std::vector<std::uint8_t>();
}

bool Programmer::SetPartContents(std::span<const std::uint8_t> bytes) {
  return part_ && part_->SetContents(bytes);
}

void Programmer::Execute(std::span<const std::uint8_t> payload, std::vector<Answer>& out) {
  if (part_) part_->SetTime(clock_.Now());
  LoggedCommand logged{payload[0], {payload.begin() + 1, payload.end()}};
  if (observer_) observer_(logged);
  const Args args(payload.subspan(1));
  const CommandEntry* entry = FindCommand(payload[0]);
  if (options_.keepLog) log_.push_back(std::move(logged));
  if (entry == nullptr || args.size() < entry->minArgs) {
    state_.lastError = INVALID_CMD_ERROR;
    return;
  }
  (this->*entry->handler)(args, out);
}

void Programmer::Reply(std::uint8_t command, std::uint8_t answerCode, std::span<const std::uint8_t> data,
                       std::vector<Answer>& out) {
  std::vector<std::uint8_t> payload;
  payload.reserve(data.size() + 1);
  payload.push_back(answerCode);
  payload.insert(payload.end(), data.begin(), data.end());
  clock_.CountAnswer();
  out.push_back({command, EncodeFrame(payload), clock_.Now() + latency_});
}

BusDevice& Programmer::Device() { return device_ ? *device_ : floatingBus_; }

// The firmware polls the part until its write cycle ends or the maximum write
// time runs out; nothing else is served meanwhile.
void Programmer::AfterPrimitive() {
  BusDevice& device = Device();
  if (std::uint8_t error = device.TakeError(); error != ERROR_NONE) state_.lastError = error;
  if (!device.TakeWriteCycle() || writeCycle_ <= Clock::duration::zero()) return;
  if (part_) part_->SetBusyUntil(clock_.Now() + writeCycle_);
  const std::chrono::microseconds limit = std::chrono::milliseconds(state_.maxWriteTimeMs);
  if (state_.modeSet && writeCycle_ > limit) {
    clock_.WaitForWrite(limit);
    state_.lastError = WAIT_TIMEOUT_ERROR;
  } else {
    clock_.WaitForWrite(writeCycle_);
  }
}

void Programmer::OnGetVersion(Args, std::vector<Answer>& out) {
  const std::array<std::uint8_t, 2> data = {options_.firmwareMajor, options_.firmwareMinor};
  Reply(GET_VERSION, kAnswerVersion, data, out);
}

void Programmer::OnSetMode(Args args, std::vector<Answer>&) {
  if (args[0] > kFamilySpi || args[1] > kVariantSeries90) {
    state_.lastError = INVALID_MODE_ERROR;
    return;
  }
  state_.family = args[0];
  state_.variant = args[1];
  state_.maxWriteTimeMs = args[2];
  state_.modeSet = true;
  Device().OnModeChanged(state_.family, state_.variant);
  AfterPrimitive();
}

void Programmer::OnWriteGpio(Args args, std::vector<Answer>&) {
  state_.gpio = args[0];
  Device().OnGpio(state_.gpio);
  AfterPrimitive();
}

void Programmer::OnWriteData(Args args, std::vector<Answer>&) {
  clock_.ShiftBytes(static_cast<int>(args.size()), state_.family == kFamilyI2c);
  Device().OnShiftOut(args, false);
  AfterPrimitive();
}

void Programmer::OnWriteDone(Args args, std::vector<Answer>&) {
  clock_.ShiftBytes(static_cast<int>(args.size()), state_.family == kFamilyI2c);
  Device().OnShiftOut(args, true);
  AfterPrimitive();
}

void Programmer::OnReadData(Args args, std::vector<Answer>& out) {
  const ReadCount rc = DecodeReadCount(state_.family, args[0]);
  clock_.ShiftBytes(rc.count, state_.family == kFamilyI2c);
  std::vector<std::uint8_t> data = Device().OnShiftIn(rc.count, rc.i2cLastRead);
  data.resize(static_cast<std::size_t>(rc.count), 0xFF);
  if (options_.flakyContactRate > 0) {
    std::bernoulli_distribution flips(std::clamp(options_.flakyContactRate, 0.0, 1.0));
    std::uniform_int_distribution<int> bit(0, 7);
    for (std::uint8_t& b : data) {
      if (flips(contactNoise_)) b = static_cast<std::uint8_t>(b ^ (1u << bit(contactNoise_)));
    }
  }
  AfterPrimitive();
  Reply(READ_DATA, kAnswerData, data, out);
}

void Programmer::OnCheckDevice(Args, std::vector<Answer>& out) {
  std::array<std::uint8_t, 2> data = {static_cast<std::uint8_t>(options_.partPresent ? 1 : 0),
                                      options_.detectedAddressBits};
  if (part_) data = {1, part_->DetectedAddressBits()};
  Reply(CHK_DEVICE, kAnswerDeviceCheck, data, out);
}

void Programmer::OnDevCtrl(Args args, std::vector<Answer>&) {
  const std::uint8_t sub = args[0];
  auto it = std::find_if(kControls.begin(), kControls.end(),
                         [sub](const ControlEntry& e) { return e.subCode == sub; });
  if (it == kControls.end()) {
    state_.lastError = INVALID_DEV_CTRL_ERROR;
    return;
  }
  it->apply(state_);
  if (!it->forwarded) return;
  if (it->edge) clock_.LineEdge();
  Device().OnControl(sub);
  AfterPrimitive();
}

void Programmer::OnSetFreq(Args args, std::vector<Answer>&) {
  state_.freqLow = args[0];
  state_.freqHigh = args[1];
  state_.freqUnit = args[2];
  clock_.SetBusClock(DecodeBusClock(args[0], args[1], args[2]));
}

void Programmer::OnGetFreq(Args, std::vector<Answer>& out) {
  const std::array<std::uint8_t, 3> data = {state_.freqLow, state_.freqHigh, state_.freqUnit};
  Reply(GET_FREQ, kAnswerFrequency, data, out);
}

void Programmer::OnGetLastError(Args, std::vector<Answer>& out) {
  const std::array<std::uint8_t, 2> data = {0, state_.lastError};
  state_.lastError = ERROR_NONE;  // reading the error clears it
  Reply(GET_LAST_ERR, kAnswerLastError, data, out);
}

void Programmer::OnGetName(Args, std::vector<Answer>& out) {
  std::vector<std::uint8_t> data(options_.model.begin(), options_.model.end());
  if (options_.nameZeroTerminated) data.push_back(0);
  Reply(GET_NAME, kAnswerName, data, out);
}

void Programmer::OnSetRestart(Args, std::vector<Answer>&) { ++state_.restarts; }

void Programmer::OnGetVoltage(Args, std::vector<Answer>& out) {
  const std::array<std::uint8_t, 1> data = {options_.vccReading};
  Reply(GET_VOLTAGE, kAnswerVoltage, data, out);
}

}  // namespace qmx::sim
