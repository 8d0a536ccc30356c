// The three numeric dialogs and the performance dialog, driven through their controls.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/profile.h"
#include "qt_test_support.h"
#include "support/temp_dir.h"
#include "ui/settings_dialogs.h"

namespace qs {
namespace {

using test::AnswerMessageBoxes;
using test::SeenBox;

// Keeps, in order, every key written and every main-window update, with whether the dialog was
// still open at that moment.
struct Recorder : SettingsKeyWriter, MainWindowUpdates {
  std::vector<std::string> log;
  std::vector<std::pair<std::string, std::string>> writes;
  QWidget* dialog = nullptr;

  std::string Open() const {
    return dialog != nullptr && dialog->isVisible() ? " open" : " closed";
  }
  bool WriteKey(std::string_view key, std::string_view value) override {
    writes.emplace_back(key, value);
    log.push_back("write " + std::string(key) + "=" + std::string(value) + Open());
    return true;
  }
  void SetWaitingBarMaximum(int maximum) override {
    log.push_back("bar " + std::to_string(maximum) + Open());
  }
  void SetMaxAttenteCaption(const QString& caption) override {
    log.push_back("lblMaxAttente " + caption.toStdString() + Open());
  }
  void SetRemainingWait(std::int32_t seconds) override {
    log.push_back("RemainingWait " + std::to_string(seconds) + Open());
  }
  void SetMaxSelectedEventsCaption(const QString& caption) override {
    log.push_back("lblMaxSelectedEvents " + caption.toStdString() + Open());
  }
  void SetWinCommentsCaption(const QString& caption) override {
    log.push_back("chkWinComments " + caption.toStdString() + Open());
  }
};

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override { test::EnsureApplication(); }
};

std::int32_t ValueOf(const Settings& s, NumericDialogKind kind) {
  switch (kind) {
    case NumericDialogKind::Tempo:
      return s.Temporisation;
    case NumericDialogKind::MaxSelected:
      return s.MaxSelectedEvents;
    case NumericDialogKind::MaxWinComments:
      return s.MaxWinComments;
  }
  return 0;
}

// ---- Load ---------------------------------------------------------------------------------------

struct LoadCase {
  NumericDialogKind kind;
  const char* titleLabel;
  const char* unitName;
  const char* unitCaption;
};

TEST_F(DialogTest, OpensWithItsCaptionsTheCurrentValueAndTheMessageHidden) {
  const LoadCase cases[] = {
      {NumericDialogKind::Tempo, "Set time between two Security Log analysis", "lblSecondes",
       "seconds"},
      {NumericDialogKind::MaxSelected, "Set max selected events in list", "lblEvents", "events"},
      {NumericDialogKind::MaxWinComments, "Set max size for Windows 2000 comments", "lblCharacters",
       "characters"},
  };
  for (const LoadCase& c : cases) {
    SCOPED_TRACE(c.titleLabel);
    Settings settings;
    settings.Temporisation = -3;  // a hand-edited file can hold values the dialog would refuse
    settings.MaxSelectedEvents = 5;
    settings.MaxWinComments = 1234;
    Recorder rec;
    NumericSettingDialog dialog(c.kind, settings, rec, rec);
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Quillstamp 1.0b");
    auto* title = dialog.findChild<QLabel*>("lblTempo");
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->text(), c.titleLabel);
    auto* unit = dialog.findChild<QLabel*>(c.unitName);
    ASSERT_NE(unit, nullptr);
    EXPECT_EQ(unit->text(), c.unitCaption);
    EXPECT_EQ(dialog.Text1()->text().toStdString(), std::to_string(ValueOf(settings, c.kind)));
    EXPECT_FALSE(dialog.Label1()->isVisible());
    EXPECT_EQ(dialog.OkButton()->text(), "&OK");
    EXPECT_EQ(dialog.CancelButton()->text(), "&Cancel");
    EXPECT_TRUE(dialog.OkButton()->isDefault());
    EXPECT_NE(dialog.findChild<QWidget*>("UpDown1"), nullptr);
  }
}

// ---- OK -----------------------------------------------------------------------------------------

struct OkCase {
  NumericDialogKind kind;
  const char* typed;
  bool accepted;
  std::int32_t stored;  // when accepted
};

TEST_F(DialogTest, OkAcceptsTheRangeAsTypedAndStoresTheRoundedValue) {
  using K = NumericDialogKind;
  const OkCase cases[] = {
      {K::Tempo, "0", false, 0},
      {K::Tempo, "60000", true, 60000},
      {K::Tempo, "60001", false, 0},
      {K::Tempo, "1.4", true, 1},
      {K::Tempo, "abc", false, 0},
      {K::Tempo, "0.6", false, 0},  // would round to 1, but the test comes first
      {K::Tempo, "2.5", true, 2},   // halves go to the even neighbour
      {K::Tempo, "3.5", true, 4},
      {K::Tempo, " 3 0 ", true, 30},  // blanks are dropped wherever they stand
      {K::Tempo, "45 seconds", true, 45},
      {K::Tempo, "12345678901234567890", false, 0},
      {K::Tempo, "-5", false, 0},
      {K::MaxSelected, "9.6", false, 0},
      {K::MaxSelected, "2999.5", true, 3000},
      {K::MaxSelected, "10", true, 10},
      {K::MaxSelected, "3000.1", false, 0},
      {K::MaxSelected, "&H64", true, 100},  // hexadecimal, as in the settings file
      {K::MaxWinComments, "99", false, 0},
      {K::MaxWinComments, "100", true, 100},
      {K::MaxWinComments, "2000", true, 2000},
      {K::MaxWinComments, "10000", true, 10000},
      {K::MaxWinComments, "10001", false, 0},
  };
  for (const OkCase& c : cases) {
    SCOPED_TRACE(std::string("typed \"") + c.typed + "\"");
    Settings settings;
    const Settings before = settings;
    Recorder rec;
    NumericSettingDialog dialog(c.kind, settings, rec, rec);
    dialog.show();
    dialog.Text1()->setText(QString::fromUtf8(c.typed));
    const SeenBox box = AnswerMessageBoxes([&] { dialog.OkButton()->click(); });
    if (c.accepted) {
      EXPECT_FALSE(box.shown);
      EXPECT_FALSE(dialog.isVisible());
      EXPECT_EQ(dialog.result(), QDialog::Accepted);
      EXPECT_EQ(ValueOf(settings, c.kind), c.stored);
      const char* key = c.kind == K::Tempo         ? "Temporisation"
                        : c.kind == K::MaxSelected ? "MaxSelectedEvents"
                                                   : "MaxWinComments";
      ASSERT_EQ(rec.writes.size(), 1u);
      EXPECT_EQ(rec.writes[0].first, key);
      EXPECT_EQ(rec.writes[0].second, std::to_string(c.stored));
    } else {
      EXPECT_TRUE(box.shown);
      EXPECT_EQ(box.count, 1);
      EXPECT_EQ(box.icon, QMessageBox::Critical);
      EXPECT_EQ(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
      EXPECT_EQ(box.title, "Quillstamp 1.0b");
      EXPECT_EQ(box.text, QStringLiteral("Invalid value: ") + QString::fromUtf8(c.typed));
      EXPECT_TRUE(dialog.isVisible());  // stays open for a correction
      EXPECT_EQ(dialog.Text1()->text(), QString::fromUtf8(c.typed));
      EXPECT_TRUE(rec.log.empty());
      EXPECT_EQ(settings.Temporisation, before.Temporisation);
      EXPECT_EQ(settings.MaxSelectedEvents, before.MaxSelectedEvents);
      EXPECT_EQ(settings.MaxWinComments, before.MaxWinComments);
    }
  }
}

TEST_F(DialogTest, RefusalShowsTheTypedTextLiterallyEvenWhenItLooksLikeMarkup) {
  Settings settings;
  Recorder rec;
  NumericSettingDialog dialog(NumericDialogKind::Tempo, settings, rec, rec);
  dialog.show();
  dialog.Text1()->setText("<b>7</b>");
  const SeenBox box = AnswerMessageBoxes([&] { dialog.OkButton()->click(); });
  ASSERT_TRUE(box.shown);
  EXPECT_EQ(box.text, "Invalid value: <b>7</b>");
  EXPECT_EQ(box.format, Qt::PlainText);
}

TEST_F(DialogTest, OkUpdatesTheMainWindowInEachDialogsOrder) {
  struct Case {
    NumericDialogKind kind;
    const char* typed;
    std::vector<std::string> log;
  };
  const Case cases[] = {
      {NumericDialogKind::Tempo,
       "30",
       {"bar 29 open", "lblMaxAttente 30 s open", "RemainingWait 30 open",
        "write Temporisation=30 open"}},
      {NumericDialogKind::Tempo,
       "1",
       {"bar 1 open", "lblMaxAttente 1 s open", "RemainingWait 1 open",
        "write Temporisation=1 open"}},
      {NumericDialogKind::Tempo,
       "2",
       {"bar 1 open", "lblMaxAttente 2 s open", "RemainingWait 2 open",
        "write Temporisation=2 open"}},
      {NumericDialogKind::MaxSelected,
       "300",
       {"write MaxSelectedEvents=300 open",
        "lblMaxSelectedEvents (Max selected events in list=300) closed"}},
      {NumericDialogKind::MaxWinComments,
       "2000",
       {"write MaxWinComments=2000 open",
        "chkWinComments in Windows 2000 files comments [<2000 chars] open"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    Settings settings;
    Recorder rec;
    NumericSettingDialog dialog(c.kind, settings, rec, rec);
    rec.dialog = &dialog;
    dialog.show();
    dialog.Text1()->setText(c.typed);
    dialog.OkButton()->click();
    EXPECT_EQ(rec.log, c.log);
    EXPECT_FALSE(dialog.isVisible());
  }
}

// ---- Arrows -------------------------------------------------------------------------------------

enum class Arrow { Up, Down };
struct ArrowCase {
  NumericDialogKind kind;
  const char* typed;
  std::vector<Arrow> clicks;
  const char* shown;
  const char* message;  // nullptr: Label1 hidden
};

TEST_F(DialogTest, ArrowsStepByOneAndStopAtTheirOwnLimitOnly) {
  using K = NumericDialogKind;
  const Arrow U = Arrow::Up, D = Arrow::Down;
  const ArrowCase cases[] = {
      {K::Tempo, "59999", {U}, "60000", "Maximal temporisation reached"},
      {K::Tempo, "59999", {U, U}, "60000", "Maximal temporisation reached"},
      {K::Tempo, "2", {D}, "1", "Minimal temporisation reached"},
      {K::Tempo, "2", {D, D}, "1", "Minimal temporisation reached"},
      {K::Tempo, "2", {D, U}, "2", nullptr},
      {K::Tempo, "59999", {U, D}, "59999", nullptr},
      {K::Tempo, "10", {U}, "11", nullptr},
      {K::Tempo, "abc", {U}, "1", nullptr},  // counts as 0; the up arrow tests only the maximum
      {K::Tempo, "abc", {D}, "1", "Minimal temporisation reached"},
      {K::Tempo, "-7", {U}, "-6", nullptr},
      {K::Tempo, "70000", {D}, "69999", nullptr},  // the down arrow tests only the minimum
      {K::Tempo, "70000", {U}, "60000", "Maximal temporisation reached"},
      {K::Tempo, "3.5", {D}, "2", nullptr},  // 2.5, to the even neighbour
      {K::Tempo, "4.5", {U}, "6", nullptr},  // 5.5, to the even neighbour
      {K::Tempo, "1.5", {D}, "1", "Minimal temporisation reached"},
      {K::MaxSelected, "11", {D}, "10", "Minimal selected events reached"},
      {K::MaxSelected, "2999", {U}, "3000", "Maximal selected events reached"},
      {K::MaxSelected, "5000", {D}, "4999", nullptr},
      {K::MaxSelected, "5", {U}, "6", nullptr},
      {K::MaxWinComments, "101", {D}, "100", "Minimal size reached"},
      {K::MaxWinComments, "9999", {U}, "10000", "Maximal size reached"},
      {K::MaxWinComments, "9999", {U, U}, "10000", "Maximal size reached"},
      // Twenty digits do not fit any integer type; the number is carried as a floating value.
      {K::Tempo, "99999999999999999999", {U}, "60000", "Maximal temporisation reached"},
      {K::Tempo, "12345678901234567890", {D}, "12345678901234567000", nullptr},
      {K::Tempo, "-99999999999999999999", {D}, "1", "Minimal temporisation reached"},
      {K::Tempo, "-12345678901234567890", {U}, "-12345678901234567000", nullptr},
      {K::Tempo, "1e300", {U}, "60000", "Maximal temporisation reached"},
  };
  for (const ArrowCase& c : cases) {
    SCOPED_TRACE(std::string("typed \"") + c.typed + "\", " + std::to_string(c.clicks.size()) +
                 " click(s)");
    Settings settings;
    Recorder rec;
    NumericSettingDialog dialog(c.kind, settings, rec, rec);
    dialog.show();
    dialog.Text1()->setText(c.typed);
    for (Arrow a : c.clicks) (a == U ? dialog.UpButton() : dialog.DownButton())->click();
    EXPECT_EQ(dialog.Text1()->text(), c.shown);
    if (c.message == nullptr) {
      EXPECT_FALSE(dialog.Label1()->isVisible());
    } else {
      EXPECT_TRUE(dialog.Label1()->isVisible());
      EXPECT_EQ(dialog.Label1()->text(), c.message);
    }
    EXPECT_TRUE(rec.log.empty());  // arrows never store or write
    EXPECT_EQ(settings.Temporisation, Settings{}.Temporisation);
  }
}

TEST_F(DialogTest, TypedValueAboveTheRangeWalksDownThenOkRefusesIt) {
  Settings settings;
  Recorder rec;
  NumericSettingDialog dialog(NumericDialogKind::MaxSelected, settings, rec, rec);
  dialog.show();
  dialog.Text1()->setText("5000");
  dialog.DownButton()->click();
  EXPECT_EQ(dialog.Text1()->text(), "4999");
  EXPECT_FALSE(dialog.Label1()->isVisible());
  const SeenBox box = AnswerMessageBoxes([&] { dialog.OkButton()->click(); });
  EXPECT_EQ(box.text, "Invalid value: 4999");
  EXPECT_EQ(settings.MaxSelectedEvents, 500);
  EXPECT_TRUE(rec.writes.empty());
}

TEST_F(DialogTest, TwentyDigitsThroughTheDownArrowAreRefusedAtOk) {
  Settings settings;
  Recorder rec;
  NumericSettingDialog dialog(NumericDialogKind::Tempo, settings, rec, rec);
  dialog.show();
  dialog.Text1()->setText("99999999999999999999");
  dialog.DownButton()->click();
  // The nearest floating value of twenty nines is 1e20; one less is still 1e20.
  EXPECT_EQ(dialog.Text1()->text(), "100000000000000000000");
  const SeenBox box = AnswerMessageBoxes([&] { dialog.OkButton()->click(); });
  EXPECT_EQ(box.text, "Invalid value: 100000000000000000000");
  EXPECT_TRUE(rec.writes.empty());
  dialog.UpButton()->click();
  EXPECT_EQ(dialog.Text1()->text(), "60000");
}

TEST(DecimalText, WritesWholeNumbersWithoutExponentOrLeadingBlank) {
  EXPECT_EQ(DecimalText(0), "0");
  EXPECT_EQ(DecimalText(-0.0), "0");
  EXPECT_EQ(DecimalText(60000), "60000");
  EXPECT_EQ(DecimalText(-6), "-6");
  EXPECT_EQ(DecimalText(1e20), "100000000000000000000");
  EXPECT_EQ(DecimalText(1e30), "1000000000000000000000000000000");
  EXPECT_EQ(DecimalText(9007199254740993.0), "9007199254740992");
  EXPECT_EQ(DecimalText(std::numeric_limits<double>::infinity()).size(), 309u);
}

// ---- Enter, Esc and the menu functions ----------------------------------------------------------

TEST_F(DialogTest, EnterIsOkAndEscapeIsCancel) {
  {
    Settings settings;
    Recorder rec;
    bool accepted = false;
    EXPECT_TRUE(test::ActOnModal([&] { accepted = ShowTempoDialog(nullptr, settings, rec, rec); },
                                 [](QWidget* modal) {
                                   auto* text1 = modal->findChild<QLineEdit*>("Text1");
                                   text1->setText("30");
                                   QTest::keyClick(text1, Qt::Key_Return);
                                 }));
    EXPECT_TRUE(accepted);
    EXPECT_EQ(settings.Temporisation, 30);
    EXPECT_EQ(rec.writes.size(), 1u);
  }
  {
    Settings settings;
    Recorder rec;
    bool accepted = true;
    EXPECT_TRUE(
        test::ActOnModal([&] { accepted = ShowMaxWinCommentsDialog(nullptr, settings, rec, rec); },
                         [](QWidget* modal) {
                           auto* text1 = modal->findChild<QLineEdit*>("Text1");
                           text1->setText("2000");
                           QTest::keyClick(text1, Qt::Key_Escape);
                         }));
    EXPECT_FALSE(accepted);
    EXPECT_EQ(settings.MaxWinComments, 500);
    EXPECT_TRUE(rec.log.empty());
  }
  {
    Settings settings;
    Recorder rec;
    bool accepted = true;
    EXPECT_TRUE(
        test::ActOnModal([&] { accepted = ShowMaxSelectedDialog(nullptr, settings, rec, rec); },
                         [](QWidget* modal) {
                           modal->findChild<QLineEdit*>("Text1")->setText("20");
                           modal->findChild<QPushButton*>("cmdAnnuler")->click();
                         }));
    EXPECT_FALSE(accepted);
    EXPECT_EQ(settings.MaxSelectedEvents, 500);
    EXPECT_TRUE(rec.log.empty());
  }
}

// ---- Performance --------------------------------------------------------------------------------

TEST_F(DialogTest, PerformanceShowsTheSettingBetweenItsTwoEndLabels) {
  Settings settings;
  settings.Performance = 37;
  Recorder rec;
  PerformanceDialog dialog(settings, rec);
  dialog.show();
  QApplication::processEvents();
  EXPECT_EQ(dialog.windowTitle(), "Quillstamp 1.0b");
  EXPECT_EQ(dialog.findChild<QLabel*>("lblPerformance")->text(), "Set performance");
  QScrollBar* bar = dialog.HScroll1();
  EXPECT_EQ(bar->orientation(), Qt::Horizontal);
  EXPECT_EQ(bar->minimum(), 1);
  EXPECT_EQ(bar->maximum(), 100);
  EXPECT_EQ(bar->value(), 37);
  auto* lblMin = dialog.findChild<QLabel*>("lblMin");
  auto* lblMax = dialog.findChild<QLabel*>("lblMax");
  EXPECT_EQ(lblMin->text(), "Flowing less freely and quicker");
  EXPECT_EQ(lblMax->text(), "Flowing more freely and slower");
  EXPECT_TRUE(lblMax->alignment() & Qt::AlignRight);
  // Under the two ends of the bar.
  EXPECT_EQ(lblMin->geometry().left(), bar->geometry().left());
  EXPECT_EQ(lblMax->geometry().right(), bar->geometry().right());
  EXPECT_GT(lblMin->geometry().top(), bar->geometry().bottom());
  EXPECT_EQ(dialog.OkButton()->text(), "&OK");
  EXPECT_EQ(dialog.CancelButton()->text(), "&Cancel");
  // One step per arrow and per click beside the thumb; the ends hold.
  bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(bar->value(), 38);
  bar->triggerAction(QAbstractSlider::SliderPageStepSub);
  EXPECT_EQ(bar->value(), 37);
  bar->setValue(100);
  bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(bar->value(), 100);
  bar->setValue(0);
  EXPECT_EQ(bar->value(), 1);
}

TEST_F(DialogTest, PerformanceOkWritesOnlyItsKeyAndCancelChangesNothing) {
  {
    Settings settings;
    Recorder rec;
    PerformanceDialog dialog(settings, rec);
    dialog.show();
    dialog.HScroll1()->setValue(88);
    dialog.OkButton()->click();
    EXPECT_EQ(settings.Performance, 88);
    ASSERT_EQ(rec.writes.size(), 1u);
    EXPECT_EQ(rec.writes[0], std::make_pair(std::string("Performance"), std::string("88")));
    EXPECT_FALSE(dialog.isVisible());
  }
  {
    // A hand-edited file can hold a value beyond the bar: the bar shows its end, and Cancel keeps
    // the setting as it was rather than the bar's clamped value.
    Settings settings;
    settings.Performance = 500;
    Recorder rec;
    PerformanceDialog dialog(settings, rec);
    dialog.show();
    EXPECT_EQ(dialog.HScroll1()->value(), 100);
    dialog.CancelButton()->click();
    EXPECT_EQ(settings.Performance, 500);
    EXPECT_TRUE(rec.writes.empty());
  }
  for (bool escape : {false, true}) {
    Settings settings;
    Recorder rec;
    bool accepted = true;
    EXPECT_TRUE(test::ActOnModal([&] { accepted = ShowPerformanceDialog(nullptr, settings, rec); },
                                 [escape](QWidget* modal) {
                                   auto* bar = modal->findChild<QScrollBar*>("HScroll1");
                                   bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
                                   bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
                                   if (escape) {
                                     QTest::keyClick(modal, Qt::Key_Escape);
                                   } else {
                                     modal->findChild<QPushButton*>("cmdAnnuler")->click();
                                   }
                                 }));
    EXPECT_FALSE(accepted);
    EXPECT_EQ(settings.Performance, 50);
    EXPECT_TRUE(rec.writes.empty());
  }
}

// The keyboard on the performance bar: Left and Right move the thumb the way they point, as the
// mouse arrows do; Up and Page Up go towards the minimum, Down and Page Down towards the maximum.
struct PerformanceKeysCase {
  const char* what;
  int from;
  std::vector<Qt::Key> keys;
  int expected;
};

TEST_F(DialogTest, PerformanceKeysMoveTheThumbTheWayTheyPoint) {
  const PerformanceKeysCase cases[] = {
      {"left", 50, {Qt::Key_Left}, 49},
      {"right twice", 51, {Qt::Key_Right, Qt::Key_Right}, 53},
      {"left then right", 50, {Qt::Key_Left, Qt::Key_Right}, 50},
      {"left at the minimum", 1, {Qt::Key_Left}, 1},
      {"right at the maximum", 100, {Qt::Key_Right}, 100},
      {"up", 50, {Qt::Key_Up}, 49},
      {"down", 50, {Qt::Key_Down}, 51},
      {"page up", 50, {Qt::Key_PageUp}, 49},
      {"page down", 50, {Qt::Key_PageDown}, 51},
      {"home", 50, {Qt::Key_Home}, 1},
      {"end", 50, {Qt::Key_End}, 100},
  };
  for (const PerformanceKeysCase& c : cases) {
    SCOPED_TRACE(c.what);
    Settings settings;
    settings.Performance = static_cast<std::int16_t>(c.from);
    Recorder rec;
    PerformanceDialog dialog(settings, rec);
    dialog.show();
    QApplication::processEvents();
    for (Qt::Key key : c.keys) QTest::keyClick(dialog.HScroll1(), key);
    EXPECT_EQ(dialog.HScroll1()->value(), c.expected);
    EXPECT_TRUE(rec.writes.empty());
  }
}

// As the user does it: the dialog from the menu, arrow keys on the bar, then Enter for OK.
TEST_F(DialogTest, PerformanceArrowKeysThenEnterWriteTheValueTheKeysPointTo) {
  const PerformanceKeysCase cases[] = {
      {"left from 50", 50, {Qt::Key_Left}, 49},
      {"right twice from 51", 51, {Qt::Key_Right, Qt::Key_Right}, 53},
  };
  for (const PerformanceKeysCase& c : cases) {
    SCOPED_TRACE(c.what);
    Settings settings;
    settings.Performance = static_cast<std::int16_t>(c.from);
    Recorder rec;
    bool accepted = false;
    EXPECT_TRUE(test::ActOnModal([&] { accepted = ShowPerformanceDialog(nullptr, settings, rec); },
                                 [&c](QWidget* modal) {
                                   auto* bar = modal->findChild<QScrollBar*>("HScroll1");
                                   for (Qt::Key key : c.keys) QTest::keyClick(bar, key);
                                   QTest::keyClick(bar, Qt::Key_Return);
                                 }));
    EXPECT_TRUE(accepted);
    EXPECT_EQ(settings.Performance, c.expected);
    ASSERT_EQ(rec.writes.size(), 1u);
    EXPECT_EQ(rec.writes[0],
              std::make_pair(std::string("Performance"), std::to_string(c.expected)));
  }
}

// ---- With the real settings file ----------------------------------------------------------------

const char kHandWritten[] =
    "; settings kept by hand\r\n"
    "[Configuration]\r\n"
    "Temporisation = 10\r\n"
    "MaxSelectedEvents=500\r\n"
    "Performance=50\r\n"
    "\r\n"
    "[Platform]\r\n"
    "SecurityLog=/srv/logs/SecEvent.Evt\r\n";

TEST_F(DialogTest, OkChangesOnlyItsKeyInTheSettingsFileAndCancelLeavesItAlone) {
  struct Case {
    const char* name;
    std::function<void(Settings&, SettingsKeyWriter&, MainWindowUpdates&)> run;
    const char* key;  // nullptr: nothing written
    const char* value;
  };
  const Case cases[] = {
      {"tempo ok",
       [](Settings& s, SettingsKeyWriter& w, MainWindowUpdates& m) {
         NumericSettingDialog d(NumericDialogKind::Tempo, s, w, m);
         d.show();
         d.Text1()->setText("30");
         d.OkButton()->click();
       },
       "Temporisation", "30"},
      {"size ok, a key the file lacks",
       [](Settings& s, SettingsKeyWriter& w, MainWindowUpdates& m) {
         NumericSettingDialog d(NumericDialogKind::MaxWinComments, s, w, m);
         d.show();
         d.Text1()->setText("2000");
         d.OkButton()->click();
       },
       "MaxWinComments", "2000"},
      {"performance ok",
       [](Settings& s, SettingsKeyWriter& w, MainWindowUpdates&) {
         PerformanceDialog d(s, w);
         d.show();
         d.HScroll1()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
         d.OkButton()->click();
       },
       "Performance", "51"},
      {"performance cancel after moving the thumb",
       [](Settings& s, SettingsKeyWriter& w, MainWindowUpdates&) {
         PerformanceDialog d(s, w);
         d.show();
         d.HScroll1()->setValue(90);
         d.CancelButton()->click();
       },
       nullptr, nullptr},
      {"events refused",
       [](Settings& s, SettingsKeyWriter& w, MainWindowUpdates& m) {
         NumericSettingDialog d(NumericDialogKind::MaxSelected, s, w, m);
         d.show();
         d.Text1()->setText("9.6");
         AnswerMessageBoxes([&] { d.OkButton()->click(); });
         d.CancelButton()->click();
       },
       nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    const std::string ini = dir / "Quillstamp.ini";
    test::WriteFile(ini, kHandWritten);
    Settings settings;
    SettingsFile writer(ini);
    Recorder window;
    c.run(settings, writer, window);
    const std::string after = test::ReadFile(ini);
    if (c.key == nullptr) {
      EXPECT_EQ(after, kHandWritten);
      EXPECT_EQ(settings.Performance, 50);
      EXPECT_EQ(settings.MaxSelectedEvents, 500);
    } else {
      // Exactly the one key changed: the same as that single write applied to the old content.
      const auto expected = platform::ProfileWithKey(kHandWritten, "Configuration", c.key, c.value);
      ASSERT_TRUE(expected.has_value());
      EXPECT_EQ(after, *expected);
      EXPECT_EQ(platform::ReadIniString("configuration", c.key, "", ini), c.value);
    }
  }
}

}  // namespace
}  // namespace qs
