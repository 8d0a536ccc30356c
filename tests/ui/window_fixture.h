// Fakes of the system services and a main window built over them, for the window's tests.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/eventlog.h"
#include "platform/sysinfo.h"
#include "scan/scan_pass.h"
#include "support/fakes.h"
#include "ui/main_window.h"

namespace qs::test {

// The QApplication of the test program, on the offscreen platform unless one was chosen.
QApplication& App();

// A Security log of `records` records that the selection rule passes over (logons), which counts
// what a pass does with it and lets a test act while a given record is read.
class FakeLog : public platform::EventLogService {
 public:
  explicit FakeLog(int records);
  platform::EventLogHandle OpenLog(std::string_view server, std::string_view source) override;
  bool NumberOfRecords(platform::EventLogHandle log, std::uint32_t& count) override;
  bool ReadRecord(platform::EventLogHandle log, std::uint32_t flags, std::uint32_t offset,
                  void* buffer, std::uint32_t bytesToRead, std::uint32_t& bytesRead,
                  std::uint32_t& bytesNeeded) override;
  bool CloseLog(platform::EventLogHandle log) override;

  int opens = 0;             // passes that opened the log
  int openFailuresLeft = 0;  // the next opens that fail
  int recordsRead = 0;       // records handed out, all passes together
  int nestedOpens = 0;       // opens while another pass still held the log
  // Called when record `index` (1-based, within the pass) has just been read.
  std::function<void(int index)> onRecordRead;

 private:
  std::vector<std::vector<std::uint8_t>> records_;
  bool open_ = false;
  std::size_t next_ = 0;
};

// Answers every modal message box that comes up, recording its title, text and icon.
class BoxAnswerer {
 public:
  explicit BoxAnswerer(QMessageBox::StandardButton answer);
  struct Seen {
    QString title, text;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
  };
  std::vector<Seen> seen;

 private:
  QMessageBox::StandardButton answer_;
  std::unique_ptr<QTimer> timer_;
};

// A loaded and shown main window over the fakes. `dpi` forces the logical DPI of the design
// places; 0 takes the screen's. `prepare` runs on the new window before start-up and showing.
// `passPaintInterval` is the window's shortest time between two paints during a pass.
struct WindowRig {
  explicit WindowRig(
      SystemAnswers answers = {}, Settings stored = {}, int records = 20, double dpi = 96,
      bool trayAvailable = true, const std::function<void(frmQuillstamp&)>& prepare = {},
      std::chrono::milliseconds passPaintInterval = WindowServices{}.passPaintInterval);
  ~WindowRig();
  ProgramState state;
  FakeSystem system;
  FakeLog log;
  FakeCommentStep comments;
  Settings stored;
  // The keys the window writes, in order, through the settings writer it is given.
  struct KeyRecorder : SettingsKeyWriter {
    std::vector<std::pair<std::string, std::string>> writes;
    bool WriteKey(std::string_view key, std::string_view value) override {
      writes.emplace_back(std::string(key), std::string(value));
      return true;
    }
  } settingsWriter;
  std::vector<std::pair<std::string, std::string>>& writes = settingsWriter.writes;
  int quits = 0;
  bool tray = true;
  std::unique_ptr<frmQuillstamp> window;

  template <class T>
  T* Find(const char* name) const {
    return window->findChild<T*>(name);
  }
  QString Text(const char* label) const;
  int WaitingValue() const;
};

// What the window's places cut or hide, one line per fault naming the control: a caption wider or
// higher than its control, a check box's or option button's indicator outside its control, a
// control outside its frame's border or above its top line or outside the window, and controls
// whose drawings overlap. Empty when every control is whole.
std::vector<std::string> LayoutFaults(const frmQuillstamp& window);

}  // namespace qs::test
