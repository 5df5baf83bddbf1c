// Windows names and values the window code is written in: BOOL, the dialog result
// ids, window and control style bits, show commands and notification codes. They
// keep the values Windows gives them, so window templates read like the originals.
#pragma once

#include <cstdint>

using BOOL = int;
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

namespace framework {

// Dialog results and standard command ids.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDC_STATIC = -1;

// Window styles.
constexpr std::uint32_t WS_POPUP = 0x80000000;
constexpr std::uint32_t WS_CHILD = 0x40000000;
constexpr std::uint32_t WS_MINIMIZE = 0x20000000;
constexpr std::uint32_t WS_VISIBLE = 0x10000000;
constexpr std::uint32_t WS_DISABLED = 0x08000000;
constexpr std::uint32_t WS_CAPTION = 0x00C00000;
constexpr std::uint32_t WS_BORDER = 0x00800000;
constexpr std::uint32_t WS_VSCROLL = 0x00200000;
constexpr std::uint32_t WS_HSCROLL = 0x00100000;
constexpr std::uint32_t WS_SYSMENU = 0x00080000;
constexpr std::uint32_t WS_THICKFRAME = 0x00040000;
constexpr std::uint32_t WS_GROUP = 0x00020000;
constexpr std::uint32_t WS_TABSTOP = 0x00010000;
constexpr std::uint32_t WS_MINIMIZEBOX = 0x00020000;  // same bit as WS_GROUP, on windows
constexpr std::uint32_t WS_MAXIMIZEBOX = 0x00010000;  // same bit as WS_TABSTOP, on windows

// Dialog styles.
constexpr std::uint32_t DS_3DLOOK = 0x0004;
constexpr std::uint32_t DS_SETFONT = 0x0040;
constexpr std::uint32_t DS_MODALFRAME = 0x0080;
constexpr std::uint32_t DS_SETFOREGROUND = 0x0200;

// Extended styles.
constexpr std::uint32_t WS_EX_DLGMODALFRAME = 0x00000001;
constexpr std::uint32_t WS_EX_TRANSPARENT = 0x00000020;
constexpr std::uint32_t WS_EX_CLIENTEDGE = 0x00000200;
constexpr std::uint32_t WS_EX_STATICEDGE = 0x00020000;
constexpr std::uint32_t WS_EX_APPWINDOW = 0x00040000;

// Edit styles.
constexpr std::uint32_t ES_LEFT = 0x0000;
constexpr std::uint32_t ES_PASSWORD = 0x0020;
constexpr std::uint32_t ES_AUTOHSCROLL = 0x0080;
constexpr std::uint32_t ES_READONLY = 0x0800;

// List box styles.
constexpr std::uint32_t LBS_NOTIFY = 0x0001;
constexpr std::uint32_t LBS_SORT = 0x0002;
constexpr std::uint32_t LBS_USETABSTOPS = 0x0080;
constexpr std::uint32_t LBS_NOINTEGRALHEIGHT = 0x0100;

// Button and static styles.
constexpr std::uint32_t BS_PUSHBUTTON = 0x0000;
constexpr std::uint32_t BS_DEFPUSHBUTTON = 0x0001;
constexpr std::uint32_t SS_LEFT = 0x0000;
constexpr std::uint32_t SS_CENTER = 0x0001;
constexpr std::uint32_t SS_RIGHT = 0x0002;
constexpr std::uint32_t SS_BITMAP = 0x000E;
constexpr std::uint32_t SS_TYPEMASK = 0x001F;
constexpr std::uint32_t SS_SUNKEN = 0x1000;

// Notification codes carried by WM_COMMAND.
constexpr unsigned BN_CLICKED = 0;
constexpr unsigned EN_CHANGE = 0x0300;

// Show commands.
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOW = 5;

// System metrics used when drawing the minimised icon.
constexpr int SM_CXICON = 11;
constexpr int SM_CYICON = 12;
int GetSystemMetrics(int index);

// Help commands.
constexpr unsigned HELP_CONTENTS = 3;

// Command ids the framework passes on to the application object when a dialog
// does not handle them.
constexpr int kFirstAppCommand = 0x8000;
constexpr int kLastAppCommand = 0xEFFF;
constexpr int ID_DEFAULT_HELP = 0xE147;

// (a * b) / c, rounded to the nearest integer, halves away from zero; -1 when c is 0.
int MulDiv(int a, int b, int c);

}  // namespace framework
