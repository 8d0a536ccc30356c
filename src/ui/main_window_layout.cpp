// The main window's controls and menus, at their design places grown to what the style and the
// fonts need.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOption>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <array>
#include <climits>
#include <cmath>

#include "scan/event_time.h"
#include "ui/event_list_model.h"
#include "ui/main_window.h"
#include "ui/main_window_parts.h"
#include "ui/paint_pacer.h"

// The images live in this static library; naming them here links them into every program.
static void InitResources() { Q_INIT_RESOURCE(quillstamp); }

namespace qs {
namespace {

QRect DesignPlace(const QWidget* w) { return w->property("designPlace").toRect(); }

// A bar that shows no text. The toolkit's bar formats its text (two numbers in the locale) at
// every value it is given, to decide whether to repaint, and a pass gives it a value for every
// record.
class TextlessProgressBar final : public QProgressBar {
 public:
  using QProgressBar::QProgressBar;
  QString text() const override { return QString(); }
};

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

void SetCaption(QLabel* label, const QString& text) {
  // The count is set after every event listed, mostly to the text it has already.
  if (label->text() == text) return;
  label->setText(text);
  FitCaption(label);
}

void FitCaption(QLabel* label) {
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
  pacer_ = std::make_unique<PaintPacer>(this, services_.passPaintInterval);
}

frmQuillstamp::~frmQuillstamp() {
  pacer_.reset();
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
  QFont captionFont = client_->font();
  captionFont.setFamilies({"Liberation Sans", "Arial", "Helvetica", captionFont.family()});
  captionFont.setPointSizeF(8);
  client_->setFont(captionFont);
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
  ProgressEvents_ = new TextlessProgressBar(client_);
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
  ProgressBarAttente_ = new TextlessProgressBar(client_);
  ProgressBarAttente_->setObjectName("ProgressBarAttente");
  ProgressBarAttente_->setTextVisible(false);
  ProgressBarAttente_->setRange(0, 100);
  ProgressBarAttente_->setValue(0);
  place(ProgressBarAttente_, 2760, 6480, 6615, 225);

  for (const char* name : {"Label9", "lblEvents", "lblSelectedEvents", "lblAttente"}) {
    auto* l = client_->findChild<QLabel*>(name);
    FitCaption(l);
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

}  // namespace qs
