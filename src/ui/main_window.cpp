#include "ui/main_window.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCursor>
#include <QDateTime>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOption>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QWindow>
#include <QWindowStateChangeEvent>
#include <algorithm>
#include <array>
#include <climits>
#include <cmath>

#include "scan/event_time.h"
#include "ui/about_box.h"
#include "ui/event_list_model.h"

// The images live in this static library; naming them here links them into every program.
static void InitResources() { Q_INIT_RESOURCE(quillstamp); }

namespace qs {
namespace {

// Design size of the window's client area, in twips.
constexpr int kClientWidth = 9510;
constexpr int kClientHeight = 6810;

QString Q(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string TrimBlanks(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

// A name call's buffer as start-up reads it: blanks around it removed, then the terminating NUL.
std::string NameFromBuffer(const std::string& buffer) {
  std::string name = TrimBlanks(buffer);
  if (name.size() > 1 && name.back() == '\0') name.pop_back();
  return name;
}

const char* Flag(bool on) { return on ? "1" : "0"; }

// A label keeps its design place, but a caption longer than the design width widens it rather
// than being cut: to the left for a right-aligned label, to the right otherwise.
void SetCaption(QLabel* label, const QString& text) {
  label->setText(text);
  const int needed = label->sizeHint().width();
  QRect box = label->geometry();
  const int design = label->property("designWidth").toInt();
  const int width = std::max(design, needed);
  if (width == box.width()) return;
  if (label->alignment() & Qt::AlignRight)
    box.setLeft(box.right() + 1 - width);
  else
    box.setWidth(width);
  label->setGeometry(box);
}

QRect DesignPlace(const QWidget* w) { return w->property("designPlace").toRect(); }

// The height that shows a check box's or option button's indicator and caption line whole.
int WholeButtonHeight(const QAbstractButton* button) {
  const bool radio = qobject_cast<const QRadioButton*>(button) != nullptr;
  const int indicator = button->style()->pixelMetric(
      radio ? QStyle::PM_ExclusiveIndicatorHeight : QStyle::PM_IndicatorHeight, nullptr, button);
  return std::max(indicator, button->fontMetrics().height());
}

// A place grown to at least `width` and `height`, the height about its centre line so that the
// caption stays on its design line. Never smaller than before.
QRect Grown(const QRect& place, int width, int height) {
  QRect grown = place;
  if (width > grown.width()) grown.setWidth(width);
  if (height > grown.height())
    grown = QRect(grown.left(), grown.top() - (height - grown.height()) / 2, grown.width(), height);
  return grown;
}

}  // namespace

SystemIdentity ReadSystemIdentity(platform::SystemInfoService& system) {
  SystemIdentity id;
  id.title = kVersionedTitle;

  std::string buffer(1024, ' ');
  system.GetComputerNameA(buffer);
  id.ComputerName = NameFromBuffer(buffer);
  if (!id.ComputerName.empty()) id.title += "   " + id.ComputerName;

  buffer.assign(1024, ' ');
  system.GetUserNameA(buffer);
  id.OwnAccountName = NameFromBuffer(buffer);
  if (!id.OwnAccountName.empty()) id.title += "; " + id.OwnAccountName;

  platform::OSVERSIONINFOA info;
  info.szCSDVersion.fill(' ');
  system.GetVersionExA(info);
  if (info.dwPlatformId == platform::VER_PLATFORM_WIN32_WINDOWS) {
    if (info.dwMinorVersion == 0)
      id.SystemName = "Windows 95";
    else if (info.dwMinorVersion == 10)
      id.SystemName = "Windows 98";
  } else if (info.dwPlatformId == platform::VER_PLATFORM_WIN32_NT) {
    id.SystemName =
        (info.dwMajorVersion == 3 || info.dwMajorVersion == 4) ? "Windows NT" : "Windows 2000";
  } else {
    id.SystemName = "???";
  }
  id.ntFamily = info.dwPlatformId == platform::VER_PLATFORM_WIN32_NT;
  id.offersWin2000Comment = id.SystemName == "Windows 2000";
  if (!info.hostSystemName.empty()) {
    // A host other than Windows names itself; its platform layer offers every service.
    id.SystemName = info.hostSystemName;
    id.offersWin2000Comment = true;
  }

  const auto build = static_cast<std::int16_t>(info.dwBuildNumber & 0xFFFF);
  id.SystemDescription = id.SystemName + " v." + std::to_string(info.dwMajorVersion) + "." +
                         std::to_string(info.dwMinorVersion) + ", Build " + std::to_string(build);
  std::string servicePack(info.szCSDVersion.data(), info.szCSDVersion.size());
  if (const auto nul = servicePack.find('\0'); nul != std::string::npos) servicePack.resize(nul);
  servicePack = TrimBlanks(servicePack);
  if (!servicePack.empty()) id.SystemDescription += ", " + servicePack;
  id.title += "; " + id.SystemDescription;
  return id;
}

// Every event that the application delivers passes through here; a round of event processing
// had something to do exactly when this count moved during it.
class frmQuillstamp::EventCounter : public QObject {
 public:
  std::uint64_t count = 0;
  bool eventFilter(QObject*, QEvent*) override {
    ++count;
    return false;
  }
};

frmQuillstamp::frmQuillstamp(ProgramState& state, WindowServices services, QWidget* parent)
    : QMainWindow(parent),
      state_(state),
      services_(std::move(services)),
      runControl_(state.run, state.settings, *this),
      eventCounter_(std::make_unique<EventCounter>()) {
  InitResources();
  setObjectName("frmQuillstamp");
  QCoreApplication::instance()->installEventFilter(eventCounter_.get());
  model_ = std::make_unique<EventListModel>(state_.eventList);
  state_.eventList.SetObserver(model_.get());
  BuildMenus();
  BuildControls();
}

frmQuillstamp::~frmQuillstamp() {
  // Form_Unload: the icon goes with the window.
  if (tray_ != nullptr) tray_->hide();
  state_.eventList.SetObserver(nullptr);
  if (auto* app = QCoreApplication::instance()) app->removeEventFilter(eventCounter_.get());
}

QScreen* frmQuillstamp::ScreenOf() const {
  if (QScreen* own = screen()) return own;
  return QGuiApplication::primaryScreen();
}

double frmQuillstamp::twipsPerPixel() const {
  double dpi = services_.logicalDpi;
  if (dpi <= 0 && ScreenOf() != nullptr) dpi = ScreenOf()->logicalDotsPerInch();
  return TwipsPerPixel(dpi > 0 ? dpi : 96.0);
}

double frmQuillstamp::iconTwipsPerPixel() const {
  // The toolkit's high-DPI scaling shows a 120-dpi screen as 96 logical dots per inch at a device
  // pixel ratio of 1.25; the icon must still act as at 120. The product is rounded to whole dots,
  // as a screen's DPI is, so that 96 x 1.25 gives exactly 12 twips per pixel.
  QScreen* screen = ScreenOf();
  double dpi = services_.logicalDpi;
  if (dpi <= 0 && screen != nullptr) dpi = screen->logicalDotsPerInch();
  if (dpi <= 0) dpi = 96.0;
  const double ratio = screen != nullptr ? screen->devicePixelRatio() : 1.0;
  return TwipsPerPixel(static_cast<double>(std::lround(dpi * ratio)));
}

int frmQuillstamp::Px(int twips) const {
  return static_cast<int>(std::lround(twips / twipsPerPixel()));
}

void frmQuillstamp::BuildMenus() {
  mnuFichier_ = menuBar()->addMenu("&File");
  mnuFichier_->setObjectName("mnuFichier");
  mnuStart_ = mnuFichier_->addAction(Q(kStartAnalysis));
  mnuStart_->setObjectName("mnuStart");
  mnuRestaurer_ = mnuFichier_->addAction("Show main window");
  mnuRestaurer_->setObjectName("mnuRestaurer");
  mnuRestaurer_->setVisible(false);
  mnuQuitter_ = mnuFichier_->addAction("&Exit");
  mnuQuitter_->setObjectName("mnuQuitter");
  connect(mnuStart_, &QAction::triggered, this, [this] { mnuStart_Click(); });
  connect(mnuRestaurer_, &QAction::triggered, this, [this] { mnuRestaurer_Click(); });
  connect(mnuQuitter_, &QAction::triggered, this, [this] { mnuQuitter_Click(); });

  mnuConfiguration_ = menuBar()->addMenu("&Configuration");
  mnuConfiguration_->setObjectName("mnuConfiguration");
  auto item = [this](QMenu* menu, const char* name, const char* caption,
                     void (frmQuillstamp::*handler)()) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(name);
    connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    return action;
  };
  item(mnuConfiguration_, "mnuSetTime", "&Time between two Security Log analysis",
       &frmQuillstamp::mnuSetTime_Click);
  item(mnuConfiguration_, "mnuSetMaxWinComments", "Max &size for Windows 2000 comments",
       &frmQuillstamp::mnuSetMaxWinComments_Click);
  item(mnuConfiguration_, "mnuMaxSelectedEvents", "Max selected &events in list",
       &frmQuillstamp::mnuMaxSelectedEvents_Click);
  mnuConfiguration_->addSeparator()->setObjectName("Sep0");
  item(mnuConfiguration_, "mnuPerformance", "Set &performance",
       &frmQuillstamp::mnuPerformance_Click);
  mnuConfiguration_->addSeparator()->setObjectName("Sep1");
  mnuAutomatic_ = mnuConfiguration_->addAction("&Automatic start up");
  mnuAutomatic_->setObjectName("mnuAutomatic");
  mnuAutomatic_->setCheckable(true);
  connect(mnuAutomatic_, &QAction::triggered, this, [this] { mnuAutomatic_Click(); });

  QMenu* about = menuBar()->addMenu("&?");
  about->setObjectName("mnuAbout");
  item(about, "mnuAide", "&Help", &frmQuillstamp::mnuAide_Click);
  item(about, "mnuAPropos", "&About...", &frmQuillstamp::mnuAPropos_Click);
}

void frmQuillstamp::BuildControls() {
  client_ = new QWidget(this);
  client_->setObjectName("client");
  // The controls' design sizes were made for a narrow 8-point sans-serif face; a face of the
  // same metrics keeps every caption inside its control.
  QFont small = client_->font();
  small.setFamilies({"Liberation Sans", "Arial", "Helvetica", small.family()});
  small.setPointSizeF(8);
  client_->setFont(small);
  client_->setFixedSize(Px(kClientWidth), Px(kClientHeight));
  setCentralWidget(client_);

  auto place = [this](QWidget* w, int left, int top, int width, int height) {
    w->setGeometry(Px(left), Px(top), Px(width), Px(height));
    w->setProperty("designPlace", w->geometry());
  };
  auto label = [&](QWidget* parent, const char* name, const char* text, int left, int top,
                   int width = 0, int height = 0) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    if (width > 0) {
      place(l, left, top, width, height);
      l->setProperty("designWidth", l->width());
    } else {
      l->move(Px(left), Px(top));
      l->adjustSize();
      l->setProperty("designPlace", l->geometry());
    }
    return l;
  };

  gridEvenements_ = new QTableView(client_);
  gridEvenements_->setObjectName("gridEvenements");
  gridEvenements_->setModel(model_.get());
  gridEvenements_->verticalHeader()->hide();
  gridEvenements_->verticalHeader()->setDefaultSectionSize(Px(240));
  gridEvenements_->horizontalHeader()->setHighlightSections(false);
  gridEvenements_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  gridEvenements_->setSelectionMode(QAbstractItemView::NoSelection);
  gridEvenements_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  gridEvenements_->setWordWrap(false);
  place(gridEvenements_, 0, 0, 9495, 4065);

  FrameComments_ = new QGroupBox("Write Date/Time/User", client_);
  FrameComments_->setObjectName("FrameComments");
  place(FrameComments_, 120, 4080, 3975, 1335);
  chkWinComments_ = new QCheckBox("in Windows 2000 files comments [<10000 chars]", FrameComments_);
  chkWinComments_->setObjectName("chkWinComments");
  place(chkWinComments_, 120, 360, 3735, 195);
  chkMacComments_ = new QCheckBox("in Macintosh files comments [<200 chars]", FrameComments_);
  chkMacComments_->setObjectName("chkMacComments");
  place(chkMacComments_, 120, 720, 3735, 195);
  optTimeSeconds_ = new QRadioButton("Time with seconds", FrameComments_);
  optTimeSeconds_->setObjectName("optTimeSeconds");
  place(optTimeSeconds_, 240, 960, 1695, 195);
  optTimeSeconds_->setEnabled(false);
  optTimeNotSeconds_ = new QRadioButton("Time without seconds", FrameComments_);
  optTimeNotSeconds_->setObjectName("optTimeNotSeconds");
  place(optTimeNotSeconds_, 1920, 960, 1935, 195);
  optTimeNotSeconds_->setEnabled(false);
  connect(chkWinComments_, &QCheckBox::toggled, this, [this] { chkWinComments_Click(); });
  connect(chkMacComments_, &QCheckBox::toggled, this, [this] { chkMacComments_Click(); });
  connect(optTimeSeconds_, &QRadioButton::toggled, this, [this](bool on) {
    if (on) optTimeSeconds_Click();
  });
  connect(optTimeNotSeconds_, &QRadioButton::toggled, this, [this](bool on) {
    if (on) optTimeNotSeconds_Click();
  });

  FrameStatus_ = new QGroupBox("Win/Mac", client_);
  FrameStatus_->setObjectName("FrameStatus");
  place(FrameStatus_, 4200, 4080, 5175, 1335);
  label(FrameStatus_, "Label2", "U: Unknown (file removed)", 120, 240);
  label(FrameStatus_, "Label4", "RO: Read only", 120, 480);
  label(FrameStatus_, "Label8", "?: Failed to write comment (file probably opened)", 120, 720, 1980,
        435)
      ->setWordWrap(true);
  label(FrameStatus_, "Label3", "w: Win 2000 comment written", 2400, 240);
  label(FrameStatus_, "Label7", "W: Win 2000 comment regenerated", 2400, 480);
  label(FrameStatus_, "Label6", "m: Macintosh comment written", 2400, 720);
  label(FrameStatus_, "Label5", "M: Macintosh comment regenerated", 2400, 960);

  QLabel* note = label(client_, "Label9", "Important note", 1680, 5520, 1020, 195);
  note->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  QFont underlined = note->font();
  underlined.setUnderline(true);
  note->setFont(underlined);
  lblNotSelected_ = label(client_, "lblNotSelected", "", 2760, 5520, 3645, 195);

  cmdGo_ = new QToolButton(client_);
  cmdGo_->setObjectName("cmdGo");
  cmdGo_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  cmdGo_->setIcon(QIcon(":/quillstamp/start.png"));
  cmdGo_->setIconSize(QSize(Px(540), Px(540)));
  cmdGo_->setText(Q(kStartCaption));
  place(cmdGo_, 120, 5760, 960, 960);
  connect(cmdGo_, &QToolButton::clicked, this, [this] { cmdGo_Click(); });

  lblEvents_ = label(client_, "lblEvents", "Reading Security Log", 1155, 5985, 1530, 195);
  lblEvents_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  ProgressEvents_ = new QProgressBar(client_);
  ProgressEvents_->setObjectName("ProgressEvents");
  ProgressEvents_->setTextVisible(false);
  ProgressEvents_->setRange(0, 100);
  ProgressEvents_->setValue(0);
  place(ProgressEvents_, 2760, 5955, 6615, 225);
  // The count grows to the left, so that a long number never runs into "events".
  lblMaxEvents_ = label(client_, "lblMaxEvents", "0", 7340, 5730, 1500, 195);
  lblMaxEvents_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  label(client_, "Label1", "events", 8880, 5730);

  QLabel* selected = label(client_, "lblSelectedEvents", "Selected events:", 2760, 6240, 1215, 195);
  selected->setAlignment(Qt::AlignCenter);
  lblNbSelectedEvents_ = label(client_, "lblNbSelectedEvents", "0", 4080, 6240, 1200, 195);
  lblMaxSelectedEvents_ =
      label(client_, "lblMaxSelectedEvents", "(Max events in list=500)", 5400, 6240, 1665, 195);
  lblMaxAttente_ = label(client_, "lblMaxAttente", "0", 8375, 6240, 1000, 195);
  lblMaxAttente_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  QLabel* waiting = label(client_, "lblAttente", "Waiting", 2040, 6480, 615, 225);
  waiting->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  ProgressBarAttente_ = new QProgressBar(client_);
  ProgressBarAttente_->setObjectName("ProgressBarAttente");
  ProgressBarAttente_->setTextVisible(false);
  ProgressBarAttente_->setRange(0, 100);
  ProgressBarAttente_->setValue(0);
  place(ProgressBarAttente_, 2760, 6480, 6615, 225);

  for (const char* name : {"Label9", "lblEvents", "lblSelectedEvents", "lblAttente"}) {
    auto* l = client_->findChild<QLabel*>(name);
    SetCaption(l, l->text());
  }
  // The check box holds its design caption, the widest that the settings allow ("[<10000 chars]"),
  // so the frames are fitted to it once and for all.
  FitFrames();
  model_->SetCountListener(
      [this](int count) { SetCaption(lblNbSelectedEvents_, QString::number(count)); });

  Timer1_ = new QTimer(this);
  Timer1_->setObjectName("Timer1");
  Timer1_->setInterval(1000);
  connect(Timer1_, &QTimer::timeout, this, [this] { Timer1_Timer(); });

  activationGrace_ = new QTimer(this);
  activationGrace_->setObjectName("activationGrace");
  activationGrace_->setSingleShot(true);
  activationGrace_->setInterval(kActivationGraceMs);
  connect(activationGrace_, &QTimer::timeout, this, [this] { FirstActivation(); });

  setWindowIcon(QIcon(":/quillstamp/quillstamp_32.png"));
  layout()->setSizeConstraint(QLayout::SetFixedSize);
}

void frmQuillstamp::FitFrames() {
  // The design places were made for a narrower face and smaller indicators: each option grows to
  // its caption's width and to the height of its indicator, about its design line.
  for (QAbstractButton* button : std::initializer_list<QAbstractButton*>{
           chkWinComments_, chkMacComments_, optTimeSeconds_, optTimeNotSeconds_}) {
    button->setGeometry(
        Grown(button->geometry(), button->sizeHint().width(), WholeButtonHeight(button)));
  }
  // "Time without seconds" starts where "Time with seconds" ends, not over its caption.
  QRect next = optTimeNotSeconds_->geometry();
  const int after = optTimeSeconds_->geometry().right() + 1;
  if (next.left() < after) next.moveLeft(after);
  optTimeNotSeconds_->setGeometry(next);

  // Each frame keeps its controls inside its border and a little below its top line: the style
  // draws a frame's caption above the line rather than on it, so the line lies lower than the
  // design assumed.
  for (QGroupBox* frame : {FrameComments_, FrameStatus_}) {
    frame->ensurePolished();  // its margins follow the style and the font
    const QRect inside = frame->contentsRect();
    const int firstTop = inside.top() + Px(60);
    const auto controls = frame->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    int top = INT_MAX;
    for (const QWidget* control : controls) top = std::min(top, control->y());
    if (top < firstTop)
      for (QWidget* control : controls) control->move(control->x(), control->y() + firstTop - top);
    int right = 0;
    int bottom = 0;
    for (const QWidget* control : controls) {
      right = std::max(right, control->geometry().right());
      bottom = std::max(bottom, control->geometry().bottom());
    }
    QRect place = frame->geometry();
    place.setWidth(std::max(place.width(), right + frame->width() - inside.right()));
    place.setHeight(std::max(place.height(), bottom + frame->height() - inside.bottom()));
    frame->setGeometry(place);
  }
  // The two frames share a row and a height.
  const int height = std::max(FrameComments_->height(), FrameStatus_->height());
  FrameComments_->resize(FrameComments_->width(), height);
  FrameStatus_->resize(FrameStatus_->width(), height);
  // The legend keeps its design distance from the comment options as far as the window's width
  // allows; it never runs over them.
  const int gap = DesignPlace(FrameStatus_).left() - DesignPlace(FrameComments_).right() - 1;
  const int clear = FrameComments_->geometry().right() + 1;
  int left = std::max(FrameStatus_->x(), clear + gap);
  left = std::max(std::min(left, client_->width() - FrameStatus_->width()), clear);
  FrameStatus_->move(left, FrameStatus_->y());
}

int frmQuillstamp::DateCellWidth() const {
  // Measured as the grid's cells measure their text, over dates that cover every month and every
  // hour (a 12-hour form adds AM or PM), so that whatever the locale's date form, its widest text
  // shows whole.
  QStyleOptionViewItem option;
  option.initFrom(gridEvenements_);
  option.font = gridEvenements_->font();
  option.fontMetrics = QFontMetrics(option.font);
  option.features = QStyleOptionViewItem::HasDisplay;
  option.displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
  option.textElideMode = Qt::ElideNone;
  const QStyle* style = gridEvenements_->style();
  int widest = 0;
  for (int month = 1; month <= 12; ++month) {
    for (int day : {8, 28}) {
      for (int hour = 0; hour < 24; ++hour) {
        option.text = Q(DateText(EventDateTime{2088, month, day, hour, 58, 58}));
        widest = std::max(
            widest,
            style->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), gridEvenements_)
                .width());
      }
    }
  }
  return widest + (gridEvenements_->showGrid() ? 1 : 0);
}

void frmQuillstamp::FitColumns() {
  std::array<int, kColumnCount> widths{};
  for (int c = 0; c < kColumnCount; ++c) widths[c] = Px(state_.eventList.ColumnWidth(c));
  // The design width cuts the date text of most fonts and locales; the user can still drag it.
  widths[kColDateTime] = std::max(widths[kColDateTime], DateCellWidth());
  // Room for the vertical scroll bar: with it shown the columns still fit, so that no horizontal
  // bar comes with it to cover the last row. The file column gives up what the others need.
  const int room = gridEvenements_->width() - 2 * gridEvenements_->frameWidth() -
                   gridEvenements_->verticalScrollBar()->sizeHint().width();
  int others = 0;
  for (int c = 0; c < kColumnCount; ++c)
    if (c != kColFile) others += widths[c];
  widths[kColFile] = std::max(0, std::min(widths[kColFile], room - others));
  for (int c = 0; c < kColumnCount; ++c) gridEvenements_->setColumnWidth(c, widths[c]);
}

void frmQuillstamp::Form_Load() {
  if (loaded_) return;
  loaded_ = true;
  // 1. The versioned title (completed below).
  setWindowTitle(QString(kVersionedTitle));
  // 2. The settings file's path is the program's own business (the services hold it).
  // 3. No close box: the window ends only through "&Exit".
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint);
  // 4. The grid at the top-left corner, as wide as the window, then its columns.
  gridEvenements_->setGeometry(0, 0, Px(kClientWidth), gridEvenements_->height());
  state_.eventList.SetUpList(kClientWidth);
  FitColumns();
  // 5. to 8. Computer, user and system.
  identity_ = ReadSystemIdentity(*services_.system);
  state_.selection.OwnAccountName = identity_.OwnAccountName;
  SetCaption(lblNotSelected_,
             Q("Events generated by account '" + identity_.OwnAccountName + "' are not selected"));
  setWindowTitle(Q(identity_.title));
  // 9. A system outside the NT family is warned, and start-up goes on.
  if (!identity_.ntFamily) {
    QMessageBox box(QMessageBox::Critical, Q(kAppName),
                    "Sorry, this program runs only on Windows NT 4 or Windows 2000",
                    QMessageBox::Ok, this);
    box.exec();
  }
  // 10. Settings, applied through the window's writers.
  if (services_.readSettings) state_.settings = services_.readSettings();
  const std::int32_t tempo = state_.settings.Temporisation;
  SetCaption(lblMaxAttente_, QString::number(tempo) + " s");
  state_.run.RemainingWait = tempo;
  ProgressBarAttente_->setMaximum(tempo < 2 ? 1 : tempo - 1);
  if (state_.settings.WinComments) chkWinComments_->setChecked(true);
  if (state_.settings.MacComments) chkMacComments_->setChecked(true);
  if (state_.settings.TimeSeconds)
    optTimeSeconds_->setChecked(true);
  else
    optTimeNotSeconds_->setChecked(true);
  chkWinComments_->setText("in Windows 2000 files comments [<" +
                           QString::number(state_.settings.MaxWinComments) + " chars]");
  FitFrames();  // a hand-written value can be wider than the design caption
  SetCaption(lblMaxSelectedEvents_, "(Max selected events in list=" +
                                        QString::number(state_.settings.MaxSelectedEvents) + ")");
  mnuAutomatic_->setChecked(state_.settings.Automatic);
  // 11. The time zone's standard offset; the analysis starts off.
  std::int32_t bias = 0;
  if (services_.system->GetTimeZoneInformation(bias) == platform::TIME_ZONE_ID_INVALID) bias = 0;
  state_.selection.TimeZoneBias = bias;
  state_.run.StopFlag = true;
  // 12. Without the Windows 2000 comment the box stays off for the whole run.
  if (!identity_.offersWin2000Comment) {
    chkWinComments_->setEnabled(false);
    chkWinComments_->setChecked(false);
  }
  // 13. The notification-area icon.
  tray_ = new QSystemTrayIcon(QIcon(":/quillstamp/quillstamp_32.png"), this);
  tray_->setObjectName("PictureQuillstamp1");
  tray_->setToolTip(QString(kVersionedTitle));
  tray_->setContextMenu(mnuFichier_);
  connect(tray_, &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) {
            switch (reason) {
              case QSystemTrayIcon::Trigger:
                IconNotified(IconClickMerger::Notice::LeftPress);
                break;
              case QSystemTrayIcon::DoubleClick:
                IconNotified(IconClickMerger::Notice::LeftDoubleClick);
                break;
              case QSystemTrayIcon::Context:
                IconNotified(IconClickMerger::Notice::RightPress);
                break;
              case QSystemTrayIcon::MiddleClick:
                IconNotified(IconClickMerger::Notice::MiddlePress);
                break;
              case QSystemTrayIcon::Unknown:
                break;
            }
          });
  tray_->show();
}

void frmQuillstamp::WriteKey(std::string_view key, std::string_view value) {
  if (services_.writeSetting) services_.writeSetting(key, value);
}

void frmQuillstamp::SetWaitingBarMaximum(int maximum) { ProgressBarAttente_->setMaximum(maximum); }

void frmQuillstamp::SetMaxAttenteCaption(const QString& caption) {
  SetCaption(lblMaxAttente_, caption);
}

void frmQuillstamp::SetRemainingWait(std::int32_t seconds) { state_.run.RemainingWait = seconds; }

void frmQuillstamp::SetMaxSelectedEventsCaption(const QString& caption) {
  SetCaption(lblMaxSelectedEvents_, caption);
}

void frmQuillstamp::SetWinCommentsCaption(const QString& caption) {
  chkWinComments_->setText(caption);
  FitFrames();
}

void frmQuillstamp::mnuSetTime_Click() { ShowTempoDialog(this, state_.settings, *this, *this); }

void frmQuillstamp::mnuSetMaxWinComments_Click() {
  ShowMaxWinCommentsDialog(this, state_.settings, *this, *this);
}

void frmQuillstamp::mnuMaxSelectedEvents_Click() {
  ShowMaxSelectedDialog(this, state_.settings, *this, *this);
}

void frmQuillstamp::mnuPerformance_Click() { ShowPerformanceDialog(this, state_.settings, *this); }

void frmQuillstamp::mnuAide_Click() { OpenHelp(this, services_.programFolder); }

void frmQuillstamp::mnuAPropos_Click() { ShowAboutBox(this); }

void frmQuillstamp::chkWinComments_Click() {
  state_.settings.WinComments = chkWinComments_->isChecked();
  WriteKey("WinComments", Flag(state_.settings.WinComments));
}

void frmQuillstamp::chkMacComments_Click() {
  state_.settings.MacComments = chkMacComments_->isChecked();
  optTimeSeconds_->setEnabled(state_.settings.MacComments);
  optTimeNotSeconds_->setEnabled(state_.settings.MacComments);
  WriteKey("MacComments", Flag(state_.settings.MacComments));
}

void frmQuillstamp::optTimeSeconds_Click() {
  state_.settings.TimeSeconds = optTimeSeconds_->isChecked();
  WriteKey("TimeSeconds", Flag(state_.settings.TimeSeconds));
}

void frmQuillstamp::optTimeNotSeconds_Click() {
  state_.settings.TimeSeconds = !optTimeNotSeconds_->isChecked();
  WriteKey("TimeSeconds", Flag(state_.settings.TimeSeconds));
}

void frmQuillstamp::mnuAutomatic_Click() {
  // The action inverts its own check mark before it reports the click.
  state_.settings.Automatic = mnuAutomatic_->isChecked();
  WriteKey("Automatic", Flag(state_.settings.Automatic));
}

// ---- Window behaviour -------------------------------------------------------------------------

bool frmQuillstamp::TrayAvailable() const {
  if (services_.trayAvailable) return services_.trayAvailable();
  return QSystemTrayIcon::isSystemTrayAvailable();
}

bool frmQuillstamp::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate) FirstActivation();
  return QMainWindow::event(e);
}

void frmQuillstamp::FirstActivation() {
  // Only the first activation starts the analysis by itself: a later one (after "Show main
  // window") would otherwise stop a running analysis.
  if (!loaded_ || activatedOnce_) return;
  activatedOnce_ = true;
  activationGrace_->stop();
  if (state_.settings.Automatic) {
    setWindowState(windowState() | Qt::WindowMinimized);
    // The pass runs from the event loop rather than inside the activation's delivery.
    QTimer::singleShot(0, this, [this] { cmdGo_Click(); });
  }
}

void frmQuillstamp::changeEvent(QEvent* e) {
  QMainWindow::changeEvent(e);
  if (e->type() == QEvent::WindowStateChange) Form_Resize();
}

void frmQuillstamp::Form_Resize() {
  // Without a notification area there would be no way back to a hidden window: it stays
  // minimised in the task bar instead.
  if (isMinimized() && TrayAvailable()) hide();
  mnuRestaurer_->setVisible(isHidden());
}

void frmQuillstamp::closeEvent(QCloseEvent* e) {
  // The window has no Close: "&Exit" is the only way out.
  e->ignore();
}

void frmQuillstamp::showEvent(QShowEvent* e) {
  QMainWindow::showEvent(e);
  // Without a window manager (a virtual display, a session that activates nothing at login) no
  // activation ever comes; the automatic start then follows the first showing.
  if (loaded_ && !activatedOnce_ && !activationGrace_->isActive()) activationGrace_->start();
  if (!centred_) {
    centred_ = true;
    if (QScreen* screen = this->screen()) {
      QRect frame = frameGeometry();
      frame.moveCenter(screen->availableGeometry().center());
      move(frame.topLeft());
    }
  }
}

void frmQuillstamp::IconNotified(IconClickMerger::Notice notice) {
  const int message = clickMerger_.MessageFor(notice, QDateTime::currentMSecsSinceEpoch(),
                                              QApplication::doubleClickInterval());
  PictureQuillstamp1_MouseMove(0, 0, IconMessageX(message, iconTwipsPerPixel()), 0);
}

void frmQuillstamp::PictureQuillstamp1_MouseMove(int /*button*/, int /*shift*/, float x,
                                                 float /*y*/) {
  switch (DecodeIconX(x)) {
    case TrayAction::Toggle:
      ToggleWindow();
      break;
    case TrayAction::PopupMenu:
      // Trays that open the icon's menu themselves have already shown it.
      if (!mnuFichier_->isVisible()) mnuFichier_->popup(QCursor::pos());
      break;
    case TrayAction::None:
      break;
  }
}

void frmQuillstamp::ToggleWindow() {
  if (isMinimized() || isHidden()) {
    // In front of every other window for a moment, then an ordinary window again.
    QWindow* handle = windowHandle();
    if (handle != nullptr) handle->setFlag(Qt::WindowStaysOnTopHint, true);
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    if (handle != nullptr) handle->setFlag(Qt::WindowStaysOnTopHint, false);
    show();
    raise();
    activateWindow();
    mnuRestaurer_->setVisible(isHidden());
  } else {
    setWindowState(windowState() | Qt::WindowMinimized);
  }
}

void frmQuillstamp::mnuRestaurer_Click() {
  setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
  mnuRestaurer_->setVisible(isHidden());
}

void frmQuillstamp::mnuQuitter_Click() {
  QMessageBox box(QMessageBox::Question, Q(kAppName), "Exit program",
                  QMessageBox::Yes | QMessageBox::No, this);
  if (box.exec() != QMessageBox::Yes) return;
  if (tray_ != nullptr) tray_->hide();
  if (services_.quit)
    services_.quit();
  else
    QCoreApplication::exit(0);
}

// ---- Run control's controls -------------------------------------------------------------------

void frmQuillstamp::SetGoButton(bool running) {
  cmdGo_->setText(running ? QString() : Q(kStartCaption));
  cmdGo_->setIcon(QIcon(running ? ":/quillstamp/stop.png" : ":/quillstamp/start.png"));
}

void frmQuillstamp::SetStartMenuCaption(std::string_view caption) {
  mnuStart_->setText(Q(caption));
}

void frmQuillstamp::SetRunLocksEnabled(bool enabled) {
  mnuQuitter_->setEnabled(enabled);
  mnuConfiguration_->menuAction()->setEnabled(enabled);
  FrameComments_->setEnabled(enabled);
}

void frmQuillstamp::RepaintNow() { repaint(); }

void frmQuillstamp::SetTimerEnabled(bool enabled) {
  if (!enabled)
    Timer1_->stop();
  else if (!Timer1_->isActive())
    Timer1_->start();
}

void frmQuillstamp::SetWaitingValue(std::int32_t value) { ProgressBarAttente_->setValue(value); }

void frmQuillstamp::RunScanPass() {
  if (commentStep_ == nullptr) qFatal("Quillstamp: a pass was started without its comment step");
  ScanContext context{*services_.eventLog, state_.eventList, state_.scan, state_.settings,
                      state_.run,          state_.selection, *this,       *commentStep_};
  ScanPass(context);
}

// ---- What the pass drives ---------------------------------------------------------------------

bool frmQuillstamp::ProcessPendingEvents() {
  // Qt 6 can no longer say beforehand whether events are pending, so a round processes what is
  // there and tells afterwards: the dispatcher reports the timers, sockets and window-system
  // events it handled, and the counter catches the posted events (repaints, queued calls) that
  // the dispatcher delivers without reporting them.
  const std::uint64_t before = eventCounter_->count;
  bool handled = false;
  if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
    handled = dispatcher->processEvents(QEventLoop::AllEvents);
  else
    QCoreApplication::processEvents(QEventLoop::AllEvents);
  return handled || eventCounter_->count != before;
}

void frmQuillstamp::ShowEventsStatus(std::string_view text) { SetCaption(lblEvents_, Q(text)); }

void frmQuillstamp::ShowMaxEvents(std::string_view text) { SetCaption(lblMaxEvents_, Q(text)); }

void frmQuillstamp::SetProgressMaximum(std::int32_t maximum) {
  ProgressEvents_->setMaximum(maximum);
}

void frmQuillstamp::SetProgressValue(std::int32_t value) { ProgressEvents_->setValue(value); }

bool frmQuillstamp::IsWindowVisible() const { return isVisible(); }

void frmQuillstamp::ShowOpenLogError(std::string_view message) {
  QMessageBox box(QMessageBox::NoIcon, Q(kAppName), Q(message), QMessageBox::Ok, this);
  box.exec();
}

void frmQuillstamp::EnableTimer() { SetTimerEnabled(true); }

}  // namespace qs
