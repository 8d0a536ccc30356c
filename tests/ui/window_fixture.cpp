#include "window_fixture.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "platform/eventlog_record.h"

namespace qs::test {

QApplication& App() {
  static QApplication* app = [] {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "ui_tests";
    static char* argv[] = {name, nullptr};
    auto* a = new QApplication(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return a;
  }();
  return *app;
}

FakeLog::FakeLog(int records) {
  for (int i = 0; i < records; ++i) {
    platform::EventRecordFields f;
    f.RecordNumber = static_cast<std::uint32_t>(i + 1);
    f.TimeGenerated = f.TimeWritten = 1700000000u + static_cast<std::uint32_t>(i);
    f.EventID = 528;  // a logon: never selected
    f.EventType = 8;
    f.SourceName = "Security";
    f.ComputerName = "FILESERVER";
    f.Strings = {"alice", "DOMAIN"};
    records_.push_back(platform::BuildAnsiRecord(f));
  }
}

platform::EventLogHandle FakeLog::OpenLog(std::string_view, std::string_view source) {
  if (openFailuresLeft > 0) {
    --openFailuresLeft;
    return 0;
  }
  if (source != "Security") return 0;
  if (open_) ++nestedOpens;
  ++opens;
  open_ = true;
  next_ = 0;
  return 7;
}

bool FakeLog::NumberOfRecords(platform::EventLogHandle, std::uint32_t& count) {
  count = static_cast<std::uint32_t>(records_.size());
  return true;
}

bool FakeLog::ReadRecord(platform::EventLogHandle, std::uint32_t, std::uint32_t, void* buffer,
                         std::uint32_t bytesToRead, std::uint32_t& bytesRead,
                         std::uint32_t& bytesNeeded) {
  bytesRead = 0;
  bytesNeeded = 0;
  if (next_ >= records_.size()) return false;
  const auto& r = records_[next_];
  if (bytesToRead < r.size()) {
    bytesNeeded = static_cast<std::uint32_t>(r.size());
    return false;
  }
  std::memcpy(buffer, r.data(), r.size());
  bytesRead = static_cast<std::uint32_t>(r.size());
  ++next_;
  ++recordsRead;
  if (onRecordRead) onRecordRead(static_cast<int>(next_));
  return true;
}

bool FakeLog::CloseLog(platform::EventLogHandle) {
  open_ = false;
  return true;
}

BoxAnswerer::BoxAnswerer(QMessageBox::StandardButton answer) : answer_(answer) {
  App();  // timers need the application's event dispatcher
  timer_ = std::make_unique<QTimer>();
  timer_->setInterval(5);
  QObject::connect(timer_.get(), &QTimer::timeout, [this] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    seen.push_back({box->windowTitle(), box->text(), box->icon(), box->standardButtons()});
    QAbstractButton* button = box->button(answer_);
    if (button == nullptr) button = box->buttons().value(0);
    if (button != nullptr) button->click();
  });
  timer_->start();
}

WindowRig::WindowRig(SystemAnswers answers, Settings storedSettings, int records, double dpi,
                     bool trayAvailable, const std::function<void(frmQuillstamp&)>& prepare,
                     std::chrono::milliseconds passPaintInterval)
    : system(std::move(answers)), log(records), stored(storedSettings), tray(trayAvailable) {
  App();
  WindowServices services;
  services.system = &system;
  services.eventLog = &log;
  services.readSettings = [this] { return stored; };
  services.settingsWriter = &settingsWriter;
  services.trayAvailable = [this] { return tray; };
  services.quit = [this] { ++quits; };
  services.logicalDpi = dpi;
  services.passPaintInterval = passPaintInterval;
  window = std::make_unique<frmQuillstamp>(state, services);
  window->SetCommentStep(&comments);
  if (prepare) prepare(*window);
  window->Form_Load();
  window->show();
  QApplication::processEvents();
}

WindowRig::~WindowRig() { window.reset(); }

QString WindowRig::Text(const char* label) const {
  if (auto* l = Find<QLabel>(label)) return l->text();
  ADD_FAILURE() << "no label " << label;
  return {};
}

int WindowRig::WaitingValue() const { return Find<QProgressBar>("ProgressBarAttente")->value(); }

namespace {

std::string Describe(const QRect& r) {
  std::ostringstream out;
  out << "(" << r.x() << "," << r.y() << " " << r.width() << "x" << r.height() << ")";
  return out.str();
}

std::string NameOf(const QWidget* w) { return w->objectName().toStdString(); }

// The part of a control that shows something: a label's text where its alignment puts it (a
// wrapped label fills its place), any other control all of its place. In its parent's coordinates.
QRect InkOf(const QWidget* w) {
  if (const auto* label = qobject_cast<const QLabel*>(w)) {
    if (label->text().isEmpty()) return {};
    if (label->wordWrap()) return label->geometry();
    const QRect inside = label->contentsRect();
    const QRect text = QStyle::alignedRect(label->layoutDirection(), label->alignment(),
                                           label->sizeHint().boundedTo(inside.size()), inside);
    return text.translated(label->pos());
  }
  return w->geometry();
}

void CheckCaption(const QWidget* w, std::vector<std::string>& faults) {
  const std::string name = NameOf(w);
  const QSize size = w->size();
  if (const auto* label = qobject_cast<const QLabel*>(w)) {
    if (label->wordWrap()) {
      if (label->heightForWidth(size.width()) > size.height())
        faults.push_back(name + ": wrapped caption needs " +
                         std::to_string(label->heightForWidth(size.width())) +
                         " pixels of height, has " + std::to_string(size.height()));
      return;
    }
  }
  // A check box or option button is whole when its caption's width fits and its indicator and
  // caption line do (CheckIndicator); its size hint also holds a focus frame around the caption.
  const QSize hint = w->sizeHint();
  const bool indicated = qobject_cast<const QCheckBox*>(w) != nullptr ||
                         qobject_cast<const QRadioButton*>(w) != nullptr;
  if (hint.width() > size.width() || (!indicated && hint.height() > size.height()))
    faults.push_back(name + ": needs " + std::to_string(hint.width()) + "x" +
                     std::to_string(hint.height()) + ", has " + std::to_string(size.width()) + "x" +
                     std::to_string(size.height()));
}

void CheckIndicator(const QAbstractButton* button, std::vector<std::string>& faults) {
  const bool radio = qobject_cast<const QRadioButton*>(button) != nullptr;
  if (!radio && qobject_cast<const QCheckBox*>(button) == nullptr) return;
  QStyleOptionButton option;
  option.initFrom(button);
  option.text = button->text();
  const QRect indicator = button->style()->subElementRect(
      radio ? QStyle::SE_RadioButtonIndicator : QStyle::SE_CheckBoxIndicator, &option, button);
  if (!button->rect().contains(indicator))
    faults.push_back(NameOf(button) + ": indicator " + Describe(indicator) + " cut by its place " +
                     Describe(button->rect()));
  if (button->fontMetrics().height() > button->height())
    faults.push_back(NameOf(button) + ": caption line higher than its place");
}

}  // namespace

std::vector<std::string> LayoutFaults(const frmQuillstamp& window) {
  std::vector<std::string> faults;
  const QWidget* client = window.centralWidget();
  std::vector<const QWidget*> parents = {client};
  for (const QGroupBox* frame : client->findChildren<QGroupBox*>()) parents.push_back(frame);
  for (const QWidget* parent : parents) {
    const auto* frame = qobject_cast<const QGroupBox*>(parent);
    // Inside a frame: within its border and below its top line.
    const QRect room = frame != nullptr ? frame->contentsRect() : parent->rect();
    std::vector<const QWidget*> controls;
    for (const QWidget* w : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      if (!w->isVisibleTo(client)) continue;
      controls.push_back(w);
      if (!room.contains(w->geometry()))
        faults.push_back(NameOf(w) + " " + Describe(w->geometry()) + " outside " +
                         (frame != nullptr ? "the border of " + NameOf(frame) : "the window") +
                         " " + Describe(room));
      if (qobject_cast<const QLabel*>(w) != nullptr ||
          qobject_cast<const QAbstractButton*>(w) != nullptr)
        CheckCaption(w, faults);
      if (const auto* button = qobject_cast<const QAbstractButton*>(w))
        CheckIndicator(button, faults);
    }
    for (std::size_t i = 0; i < controls.size(); ++i)
      for (std::size_t j = i + 1; j < controls.size(); ++j)
        if (InkOf(controls[i]).intersects(InkOf(controls[j])))
          faults.push_back(NameOf(controls[i]) + " " + Describe(InkOf(controls[i])) + " overlaps " +
                           NameOf(controls[j]) + " " + Describe(InkOf(controls[j])));
  }
  return faults;
}

}  // namespace qs::test

// Fontconfig keeps a cache for the life of the process that Qt's font database never frees; that
// is not a leak of ours. Read by LeakSanitizer when the tests run under it.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
