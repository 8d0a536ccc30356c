// The four settings dialogs of the Configuration menu: the wait between two passes (frmTempo), the
// most events kept in the list (frmMaxSelected), the most characters of a Windows 2000 comment
// (frmMaxWinComments) and the performance scroll bar (frmPerformance).
//
// Each Show... function builds its dialog afresh, runs it modally over `parent` and returns true
// when the user accepted a value (OK), false on Cancel or Esc. On OK the dialog stores the value in
// `settings`, writes its one key through `writer` and brings the main window up to date through
// `window`; on Cancel nothing changes. The about box and help live in ui/about_box.h.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>

#include "core/app_title.h"
#include "core/numeric_setting.h"
#include "core/settings.h"
#include "core/settings_file.h"
#include "ui/about_box.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QScrollBar;
class QToolButton;

namespace qs {

// What the dialogs change on the main window once a value is accepted. The main window implements
// it over its own controls; the dialogs compose the captions.
class MainWindowUpdates {
 public:
  virtual ~MainWindowUpdates() = default;
  // ProgressBarAttente's maximum: 1 when the new wait is below 2, else the wait - 1.
  virtual void SetWaitingBarMaximum(int maximum) = 0;
  // lblMaxAttente, e.g. "30 s".
  virtual void SetMaxAttenteCaption(const QString& caption) = 0;
  // RemainingWait of the run control: the wait starts over from the new value.
  virtual void SetRemainingWait(std::int32_t seconds) = 0;
  // lblMaxSelectedEvents, e.g. "(Max selected events in list=300)".
  virtual void SetMaxSelectedEventsCaption(const QString& caption) = 0;
  // chkWinComments, e.g. "in Windows 2000 files comments [<2000 chars]".
  virtual void SetWinCommentsCaption(const QString& caption) = 0;
};

// --- What the main window calls (Configuration menu) -------------------------------------------

bool ShowTempoDialog(QWidget* parent, Settings& settings, SettingsKeyWriter& writer,
                     MainWindowUpdates& window);  // mnuSetTime
bool ShowMaxSelectedDialog(QWidget* parent, Settings& settings, SettingsKeyWriter& writer,
                           MainWindowUpdates& window);  // mnuMaxSelectedEvents
bool ShowMaxWinCommentsDialog(QWidget* parent, Settings& settings, SettingsKeyWriter& writer,
                              MainWindowUpdates& window);  // mnuSetMaxWinComments
bool ShowPerformanceDialog(QWidget* parent, Settings& settings,
                           SettingsKeyWriter& writer);  // mnuPerformance

// --- The dialogs themselves (for tests and screenshots; the main window needs only the above) ---

// The three numeric dialogs are one class; the kind picks its row of the dialogs' table (captions,
// limits, messages, setting, key; core/numeric_setting.h) and its main-window updates.
class NumericSettingDialog : public QDialog {
 public:
  NumericSettingDialog(NumericDialogKind kind, Settings& settings, SettingsKeyWriter& writer,
                       MainWindowUpdates& window, QWidget* parent = nullptr);

  // The controls, named as objects after their roles: "lblTempo", "Text1", "UpDown1" (with the
  // arrow buttons "UpDown1Up" and "UpDown1Down"), the unit label ("lblSecondes", "lblEvents" or
  // "lblCharacters"), "Label1", "cmdOK", "cmdAnnuler".
  QLineEdit* Text1() const { return text1_; }
  QLabel* Label1() const { return label1_; }
  QToolButton* UpButton() const { return up_; }
  QToolButton* DownButton() const { return down_; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }

 private:
  void UpDown1_DownClick();
  void UpDown1_UpClick();
  void ShowArrowStep(const ArrowStep& step);
  void cmdOK_Click();

  NumericDialogKind kind_;
  Settings& settings_;
  SettingsKeyWriter& writer_;
  MainWindowUpdates& window_;
  QLineEdit* text1_ = nullptr;
  QLabel* label1_ = nullptr;
  QToolButton* up_ = nullptr;
  QToolButton* down_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

class PerformanceDialog : public QDialog {
 public:
  PerformanceDialog(Settings& settings, SettingsKeyWriter& writer, QWidget* parent = nullptr);

  // "lblPerformance", "HScroll1", "lblMin", "lblMax", "cmdOK", "cmdAnnuler".
  QScrollBar* HScroll1() const { return scroll_; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }

 private:
  void cmdOK_Click();

  Settings& settings_;
  SettingsKeyWriter& writer_;
  QScrollBar* scroll_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

}  // namespace qs
