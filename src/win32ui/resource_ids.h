// Identifiers shared by the resource script and the window code: the program's pictures, the
// dialogs and their controls. Plain macros, as the resource compiler reads this file too.
#pragma once

#define IDI_QUILLSTAMP 1
#define IDB_START 101
#define IDB_STOP 102

#define IDD_NUMERIC 201
#define IDD_PERFORMANCE 202
#define IDD_ABOUT 203

// Controls of the numeric dialogs (frmTempo, frmMaxSelected, frmMaxWinComments).
#define IDC_LBLTEMPO 1001
#define IDC_TEXT1 1002
#define IDC_UPDOWN1 1003
#define IDC_UNIT 1004
#define IDC_LABEL1 1005
// Controls of frmPerformance.
#define IDC_LBLPERFORMANCE 1011
#define IDC_HSCROLL1 1012
#define IDC_LBLMIN 1013
#define IDC_LBLMAX 1014
// Controls of frmAbout.
#define IDC_LBLCREDIT 1021
#define IDC_ABOUTICON 1022
