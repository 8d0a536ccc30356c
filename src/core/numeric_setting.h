// The rules of the three numeric settings dialogs (frmTempo, frmMaxSelected, frmMaxWinComments),
// free of any toolkit: each dialog's captions, limits and messages, what its arrows make of the
// typed text, and the test that OK applies. The windows of each front end only show them.
#pragma once

#include <cstdint>
#include <string>

#include "core/settings.h"
#include "core/settings_file.h"

namespace qs {

// The three numeric dialogs are one family; the kind picks its row of the table.
enum class NumericDialogKind { Tempo, MaxSelected, MaxWinComments };

// Everything in which the three dialogs differ, apart from the order of their main-window updates
// on OK.
struct NumericSettingRow {
  const char* titleCaption;  // lblTempo
  const char* unitName;      // the unit label's name
  const char* unitCaption;
  std::int32_t minimum;
  std::int32_t maximum;
  const char* minimumMessage;
  const char* maximumMessage;
  std::int32_t (*get)(const Settings&);
  // Stores the accepted value in the settings and writes its key.
  void (*write)(SettingsKeyWriter&, Settings&, std::int32_t);
};

const NumericSettingRow& NumericSettingRowOf(NumericDialogKind kind);

// What an arrow click makes of the number read from Text1: the new number, and the limit message
// that Label1 shows (nullptr: Label1 is hidden). The down arrow tests only the minimum, the up
// arrow only the maximum.
struct ArrowStep {
  double value;
  const char* message;
};
ArrowStep DownArrowStep(NumericDialogKind kind, double typed);
ArrowStep UpArrowStep(NumericDialogKind kind, double typed);

// OK's test, on the number as read, before rounding: 9.6 is refused where 10 is not.
bool NumericValueAccepted(NumericDialogKind kind, double typed);

// Decimal text of a number read from Text1 after an arrow click: no exponent, no leading blank,
// the shortest digits that read back as the same number (twenty typed digits stay twenty digits).
std::string DecimalText(double n);

}  // namespace qs
