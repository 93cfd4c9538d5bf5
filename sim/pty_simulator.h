// The firmware model behind a pseudo-terminal, served by its own thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "sim/programmer.h"
#include "sim/pty_port.h"
#include "sim/send_queue.h"
#include "sim/wake_pacer.h"

namespace qmx::sim {

// All methods are thread-safe. Unplug and Replug keep the command log and the
// programmer's state; pending answers and a half-received frame are lost.
// The serving thread takes no more host bytes while the firmware's clock runs
// more than a millisecond ahead of real time, so a host that outpaces the
// modelled programmer stalls on a full pty as it would on a busy device.
class PtySimulator {
 public:
  explicit PtySimulator(Options options = {});
  ~PtySimulator();
  PtySimulator(const PtySimulator&) = delete;
  PtySimulator& operator=(const PtySimulator&) = delete;

  bool Start();                          // opens a pty and starts serving; false on failure
  void Stop();                           // stops serving, closes the pty, removes the link
  std::string PortPath() const;          // "/dev/pts/N" of the current pty (empty while unplugged)
  // Keeps a symlink at `path` pointing to the current pty; an empty path removes it.
  // False when the link cannot be made or `path` exists and is not a symlink.
  bool SetLinkPath(const std::string& path);
  void Unplug();                         // the host sees a hang-up; the pts node disappears
  bool Replug();                         // a new pty under a new path, serving again
  bool Plugged() const;

  void PressSwitch();                    // unsolicited 0F 8B 01 04
  void ReleaseSwitch();                  // unsolicited 0F 8B 00 04

  std::vector<LoggedCommand> Log() const;
  void ClearLog();
  bool WaitForLog(std::size_t count, std::chrono::milliseconds timeout) const;
  // True once every byte the host wrote so far has been carried out and
  // every answer sent (for hosts in other processes, whose last writes may
  // still sit in the pty).
  bool WaitIdle(std::chrono::milliseconds timeout) const;
  // Called on the serving thread for every decoded command, without the lock held.
  void SetCommandObserver(std::function<void(const LoggedCommand&)> observer);

  ProgrammerState State() const;
  void SetVccReading(std::uint8_t r);
  void SetModel(const std::string& name);
  void SetPartPresent(bool present, std::uint8_t addressBits = 1);
  void AttachDevice(std::shared_ptr<BusDevice> device);
  // The socket, as on Programmer.
  bool InsertPart(const std::string& name);
  void RemovePart();
  std::string PartName() const;
  std::vector<std::uint8_t> PartContents() const;
  bool SetPartContents(const std::vector<std::uint8_t>& bytes);

  // Fault injection; each applies to the next answer to the given command code
  // (garbage and splitting: to the next answer of any command).
  void DropNextAnswer(std::uint8_t command, int times = 1);
  // The delayed answer may be overtaken by answers to later commands.
  void DelayNextAnswer(std::uint8_t command, std::chrono::milliseconds delay);
  void GarbageBeforeNextAnswer(std::vector<std::uint8_t> junk);   // in the same write(), before it
  // Data bytes taken off the end (delta < 0) or 0x5A bytes added (delta > 0).
  void ResizeNextAnswer(std::uint8_t command, int delta);
  void SplitNextAnswer(int pieces, std::chrono::milliseconds gap);
  // A bad contact from now on (rate 0 ends it), as Options::flakyContactRate.
  void SetFlakyContact(double rate, std::uint32_t seed = 1);
  void SendUnsolicited(std::vector<std::uint8_t> payload);       // framed and stuffed, sent now
  void SendRaw(std::vector<std::uint8_t> bytes);                 // written exactly as given
  // Hung firmware: the port stays, but nothing more is read from the host (its
  // writes stall once the pty is full) and nothing is sent. Resume carries out
  // what was queued meanwhile and sends what was held; a replug ends a hang.
  void Hang();
  void Resume();
  bool Hung() const;

  // The firmware's modelled time, as on Programmer.
  TimingAccount Account() const;
  void ResetAccount();

 private:
  using Clock = SendQueue::Clock;

  bool PlugLocked();      // lifecycle lock held
  void UnplugLocked();    // lifecycle lock held
  void ServeLoop(int masterFd);
  bool ReadMaster(int masterFd);
  bool WriteDue(int masterFd);
  struct WakeUp {
    Clock::time_point at;
    std::optional<Clock::time_point> answerDue;  // the answer it wakes for, if any
  };
  bool TakesInput(Clock::time_point now) const;                     // lock held
  WakeUp NextWakeUp(bool outputBlocked, Clock::time_point now) const;  // lock held
  void AfterTimedWait(const WakeUp& wakeUp);
  void ScheduleAnswer(Answer answer);
  void SendNow(std::vector<std::uint8_t> bytes);
  void Wake() const;
  void IdleBriefly() const;

  std::mutex lifecycleMu_;  // serialises Start, Stop, Unplug, Replug and SetLinkPath
  mutable std::mutex mu_;   // everything below
  mutable std::condition_variable logChanged_;
  Programmer programmer_;
  WakePacer pacer_;  // serving thread only
  SendQueue queue_;
  PtyPort port_;
  std::string lastPath_;
  std::string linkPath_;
  bool stopRequested_ = false;
  bool hung_ = false;
  std::function<void(const LoggedCommand&)> observer_;
  std::vector<LoggedCommand> toObserve_;

  std::map<std::uint8_t, int> drops_;
  std::map<std::uint8_t, Clock::duration> delays_;
  Clock::time_point lastAnswerDue_{};  // one serial line: answers leave in order
  std::map<std::uint8_t, int> resizes_;
  std::vector<std::uint8_t> garbage_;
  int splitPieces_ = 0;
  Clock::duration splitGap_{};

  int wakeFd_ = -1;
  std::thread thread_;
  std::atomic<bool> consuming_{false};  // from before a read of the master until its bytes are carried out
};

}  // namespace qmx::sim
