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
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "sim/programmer.h"
#include "sim/pty_port.h"
#include "sim/send_queue.h"

namespace qmx::sim {

// All methods are thread-safe. Unplug and Replug keep the command log and the
// programmer's state; pending answers and a half-received frame are lost.
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
  // True once every byte the host wrote so far has been carried out (for
  // hosts in other processes, whose last writes may still sit in the pty).
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
  void SplitNextAnswer(int pieces, std::chrono::milliseconds gap);
  void SendUnsolicited(std::vector<std::uint8_t> payload);       // framed and stuffed, sent now
  void SendRaw(std::vector<std::uint8_t> bytes);                 // written exactly as given

 private:
  using Clock = SendQueue::Clock;

  bool PlugLocked();      // lifecycle lock held
  void UnplugLocked();    // lifecycle lock held
  void ServeLoop(int masterFd);
  bool ReadMaster(int masterFd);
  bool WriteDue(int masterFd);
  Clock::duration PollTimeout(bool outputBlocked) const;
  void ScheduleAnswer(Answer answer, Clock::time_point now);
  void SendNow(std::vector<std::uint8_t> bytes);
  void Wake() const;
  void IdleBriefly() const;

  std::mutex lifecycleMu_;  // serialises Start, Stop, Unplug, Replug and SetLinkPath
  mutable std::mutex mu_;   // everything below
  mutable std::condition_variable logChanged_;
  Programmer programmer_;
  SendQueue queue_;
  PtyPort port_;
  std::string lastPath_;
  std::string linkPath_;
  bool stopRequested_ = false;
  std::function<void(const LoggedCommand&)> observer_;
  std::vector<LoggedCommand> toObserve_;

  std::map<std::uint8_t, int> drops_;
  std::map<std::uint8_t, Clock::duration> delays_;
  std::vector<std::uint8_t> garbage_;
  int splitPieces_ = 0;
  Clock::duration splitGap_{};

  int wakeFd_ = -1;
  std::thread thread_;
  std::atomic<bool> consuming_{false};  // from before a read of the master until its bytes are carried out
};

}  // namespace qmx::sim
