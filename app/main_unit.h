// The main window: finds, connects to and watches the programmer by itself,
// offers the families and parts the model allows, and keeps the operator's
// choices in the settings file.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/connect_retry.h"
#include "core/discovery/port_discovery.h"
#include "core/link/connection.h"
#include "core/memory/memory_ops.h"
#include "image/memory_image.h"

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;
class QToolButton;
class QWidget;

namespace qmx::app {

class ProductionPanel;
struct ProductionRun;
class TAboutUnit;
class THexEdit;

struct AppOptions {
  std::string settingsPath;  // empty: nothing is loaded or saved
};

class TMainUnit : public QMainWindow {
  Q_OBJECT

 public:
  explicit TMainUnit(AppOptions options, QWidget* parent = nullptr);
  ~TMainUnit() override;

  // Program-wide state the operations read.
  int ProgrammerModelValue() const { return programmerModel_; }
  int DeviceFamilyValue() const { return deviceFamily_; }
  int MicrowireVariantValue() const { return microwireVariant_; }
  bool FactoryMode() const { return factoryMode_; }
  bool ReadAhead() const { return readAhead_; }
  bool ControlsEnabled() const { return controlsEnabled_; }
  bool Connected() const { return link_.IsOpen(); }
  MemoryImage& Image() { return image_; }
  Connection& Link() { return link_; }
  QString StatusText(int panel) const;
  TAboutUnit* AboutDialog() const { return about_; }
  THexEdit* HexEditor() const { return hexEdit_; }
  ProductionPanel* Production() const { return production_; }
  bool OperationRunning() const { return opRunning_; }
  bool Busy() const { return busy_; }
  QStringList LogLines() const;

 public slots:
  void ConnectTimerTimer();
  bool ConnectDevice();
  void DisconnectDevice();
  void ConnectBtnClick();
  void SetControlsEnabled(bool enabled);
  void ShowSupplyVoltage();
  void SetModelFamilies(int model);
  void cbTypeChange();
  void cbDeviceChange();
  void edPageSizeExit();
  void ShowPageHint(int row);
  void mnExtPanelClick();
  void cbMcwDataModeChange();
  void mnHWResetClick();
  void LedTestBtnClick();
  void LoadSettings();
  void SaveSettings();
  void mnVersionClick();
  // Counters: n < 0 clears them, 0 counts a success, > 0 an error.
  void UpdateCounters(int n);
  // The Program sequence; the push switch runs it through the poll.
  void ProgBtnClick();
  void ReadBtnClick();
  void CompareBtnClick();
  void BlankChkBtnClick();
  void mnCheckSumClick();
  void WriteBtnClick();
  void EraseBtnClick();
  void DataFileBtnClick();
  void mnSaveHexClick();
  void mnClearBufferClick();
  void mnLogClearClick();
  void mnHexEditorClick();
  void StartErrorIndication();
  void ErrorTimerTimer();
  // The steps of the file commands after their dialogs: true when loaded or
  // written.
  bool LoadDataFile(const QString& path);
  // `filter`: the save dialog's filter chosen (0 HEX, 1 S-record, 2 binary),
  // for a name whose suffix does not tell.
  bool SaveDataFile(const QString& path, int filter = 0);

 signals:
  void operationFinished(int result);

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildMenus();
  QWidget* BuildTopPanel();
  QWidget* BuildExtPanel();
  QWidget* BuildMcwExtPanel();
  QWidget* BuildLogArea();
  void BuildStatusBar();
  QToolButton* OperationButton(QWidget* parent, const char* name, const QString& caption, const char* icon);
  void SendSetMode(int family);
  void FormDestroy();
  void LogLine(const QString& line);
  ProgramSettings CurrentSettings() const;
  int DumpLayoutIndex() const;
  enum class Reload { kNoFile, kLoaded, kFailed };
  // Reloads the named file in its own format; `reportDropped` logs the HEX
  // data that lies beyond the part.
  Reload ReloadDataFile(bool reportDropped = false);
  // Runs `job` on the operation thread with the window as its operator, the
  // window painting meanwhile; `done` gets the result on the window thread.
  void RunOperation(std::function<int(Operator&)> job, std::function<void(int)> done = {});
  void StartReadSide(const QString& name, int operation);
  void FinishOperation(int result, const std::function<void(int)>& done);
  void SetOperationControls(bool running);
  void OnProgress(int done, int total);
  void OnLinkClosed();
  friend class WindowOperator;

  AppOptions options_;

  // Program-wide state.
  int programmerModel_ = 3;
  int deviceFamily_ = -1;
  int microwireVariant_ = 0;
  std::atomic<bool> switchPressed_{false};

  // Window-owned state.
  Connection link_;
  std::unique_ptr<DeviceListProvider> provider_;
  std::unique_ptr<PortDiscovery> discovery_;
  ConnectRetry retry_;
  MemoryImage image_;
  BitReversal reverse_;
  bool controlsEnabled_ = false;
  int executed_ = 0, succeeded_ = 0, failed_ = 0;
  bool busy_ = false;
  bool factoryMode_ = false;
  bool readAhead_ = true;  // INI ExtSetting ReadAhead
  int ledState_ = 0;
  bool destroyed_ = false;
  // The operation thread owns the link and the image while it runs.
  std::thread worker_;
  bool opRunning_ = false;
  std::atomic<bool> disconnectPending_{false};
  bool ledReadyPending_ = false;
  bool closePending_ = false;

  // Controls, named as the operator's documentation names them.
  QComboBox* cbType = nullptr;
  QComboBox* cbDevice = nullptr;
  QLineEdit* edDataFile = nullptr;
  QPushButton* DataFileBtn = nullptr;
  QPushButton* ConnectBtn = nullptr;
  QLabel* exeCntLbl = nullptr;
  QLabel* OkCntLbl = nullptr;
  QLabel* ErrCntLbl = nullptr;
  QPushButton* ClearBtn = nullptr;
  QToolButton* ReadBtn = nullptr;
  QToolButton* WriteBtn = nullptr;
  QToolButton* CompareBtn = nullptr;
  QToolButton* EraseBtn = nullptr;
  QToolButton* BlankChkBtn = nullptr;
  QToolButton* ProgBtn = nullptr;
  QWidget* ExtPanel = nullptr;
  QWidget* McwExtPanel = nullptr;
  QLineEdit* edPageSize = nullptr;
  QLabel* lbPageHint = nullptr;  // the datasheet's page, offered
  QComboBox* cbClockFreq = nullptr;
  QComboBox* cbProgramMode = nullptr;
  QComboBox* cbMaxWriteTime = nullptr;
  QCheckBox* chVppOut = nullptr;
  QCheckBox* cbExtSave = nullptr;
  QComboBox* cbMcwDataMode = nullptr;
  QComboBox* cbMcwGP0 = nullptr;
  QComboBox* cbMcwGP1 = nullptr;
  QComboBox* cbReadSize = nullptr;
  QLabel* lblVcc = nullptr;
  QFrame* LedTestPnl = nullptr;
  QLabel* LedLabel = nullptr;
  QPushButton* LedTestBtn = nullptr;
  QPushButton* btnReset = nullptr;
  QPushButton* LogClearBtn = nullptr;
  QPlainTextEdit* Memo = nullptr;
  QLabel* statusPanels_[3] = {nullptr, nullptr, nullptr};
  QAction* mnSaveHex = nullptr;
  QAction* mnExit = nullptr;
  QAction* mnHexEditor = nullptr;
  QAction* mnExtPanel = nullptr;
  QAction* mnCheckSum = nullptr;
  QAction* mnLogClear = nullptr;
  QAction* mnClearBuffer = nullptr;
  QAction* mnHWReset = nullptr;
  QAction* mnVersion = nullptr;
  QMenu* PopupMenu = nullptr;
  QTimer* ConnectTimer = nullptr;
  QTimer* ResetTimer = nullptr;
  QTimer* ErrorTimer = nullptr;
  QProgressBar* progress_ = nullptr;
  TAboutUnit* about_ = nullptr;
  THexEdit* hexEdit_ = nullptr;

  // --- Production: start on insertion, serial numbers, run log
  // (production_panel.cpp, production_run.cpp). ---
  QWidget* BuildProductionPanel();
  // Starts the Program sequence when a part appears in the socket, once the
  // socket was seen empty since the last start.
  void PollSocketForAutoStart();
  // Before a Program run: the serial number locked and placed in the image,
  // the run log opened. Nothing when the panel asks for neither; nothing with
  // `refused` set (and the reason logged) when its choices cannot be met.
  std::shared_ptr<ProductionRun> PrepareProductionRun(bool* refused);
  // After it: the next number stored once the part verified, the log line
  // appended. The run's result, a failure when the number could not be stored.
  int FinishProductionRun(ProductionRun& run, int result);
  std::string connectedPort_;
  ProductionPanel* production_ = nullptr;
  QAction* mnProduction = nullptr;
  bool socketEmptySeen_ = false;

  // --- Checksum with CRC-32 and SHA-256 in the log (checksum_digests.cpp). ---
 public slots:
  void mnDigestsClick();

 private:
  QAction* mnDigests = nullptr;

  // --- The running operation's own panel: its name, progress and cancel
  // (operations.cpp, window_layout.cpp). ---
 public slots:
  // Asks the running operation to stop at its next block or page.
  void CancelBtnClick();

 private:
  // The label and bar, hidden while idle; also makes CancelBtn.
  QWidget* BuildProgressPanel(QWidget* parent);
  void ShowProgressText();
  // Set by each command before RunOperation: what the panel calls it.
  QString opName_;
  int opPercent_ = -1;
  std::chrono::steady_clock::time_point opStarted_;
  std::atomic<bool> cancelRequested_{false};
  QWidget* ProgressPanel = nullptr;
  QLabel* ProgressLabel = nullptr;
  QPushButton* CancelBtn = nullptr;
  QTimer* ProgressTimer = nullptr;
  // --- The part as the last Compare read it, for the hex editor's marks
  // (operations.cpp). Filled by the operation thread, read only between
  // operations. ---
  struct PartAsRead {
    int model = -1, family = -1, row = -1;
    bool byteOrganised = false;
    std::vector<std::uint8_t> bytes;
  };
  // Before a pass that reads the part or changes it: what was read before no longer holds.
  void ForgetPartAsRead(const ProgramSettings& settings);
  // Nothing once another part is chosen.
  std::vector<std::uint8_t> PartAsReadForEditor() const;
  PartAsRead partAsRead_;
};

}  // namespace qmx::app
