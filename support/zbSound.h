// The desktop's sound scheme: silencing one application event for the current user.
#pragma once

#include <array>
#include <functional>
#include <string_view>

typedef struct _GtkWindow GtkWindow;  // NOLINT(bugprone-reserved-identifier): GTK's own tag
typedef struct _GtkWidget GtkWidget;  // NOLINT(bugprone-reserved-identifier): GTK's own tag

namespace zb {

constexpr int AppEventCount = 25;

// Key names below "AppEvents\Schemes\Apps", indexed 0 to 24.
extern const std::array<std::u16string_view, AppEventCount> AppEventNames;

// Index of "Explorer\Navigating", the HTML engine's navigation click.
constexpr int AppEventNavigating = 24;

// Empties the event's current sound when the user's scheme has that event; creates nothing.
// An Event outside 0..24 raises EzbRangeError.
void MuteAppEventSound(int AEvent);

// The wait cursor: nested Begin/End pairs keep it until the outermost End; the counter changes
// atomically. Cursors are the component library's numbers (crDefault 0, crHourGlass -11).
using TCursor = int;
constexpr TCursor crDefault = 0;
constexpr TCursor crHourGlass = -11;
void BeginWaitCursor(TCursor ACursor = crHourGlass);
// True when no wait cursor is pending any more.
bool EndWaitCursor();
TCursor ScreenCursor();
// The host shows the screen cursor on its windows; without a handler only ScreenCursor changes.
void SetScreenCursorHandler(std::function<void(TCursor)> AHandler);

// Window helpers (zbSoundGtk.cpp, library zbsoundgtk: only programs with windows link it).
// The main form is the window an application registers as its main one; none by default.
void SetMainForm(GtkWindow* AForm);
GtkWindow* MainForm();
// Raises the application's windows above the calling program: its visible top-levels, and the main
// form, shown first when AShowMainForm. Presenting with the current event time is how a Linux desktop
// lets a program take the front.
void BringApplicationToFront(bool AShowMainForm);
// Shows (de-iconified) and raises AForm; false when that failed.
bool ShowAndBringToFront(GtkWindow* AForm);

// Modal windows run through RunModalDialog (platform/gtk/zbModalRun.h), which presents them with
// ShowAndBringToFront.

// Results of ShellExecuteOrOpenWith, as the shell gives them: above 32 is success.
constexpr int SE_ERR_FNF = 2;
constexpr int SE_ERR_PNF = 3;
constexpr int SE_ERR_ACCESSDENIED = 5;
constexpr int SE_ERR_NOASSOC = 31;
constexpr int SE_OK = 42;
// AFileName a program: it runs with AParameters (split as a shell would) in ADirectory. Otherwise the
// file (or address) opens with the desktop's default program; with none associated, or a program that
// is not there while the file is, GTK's "open with" chooser is offered instead. Never raises.
int ShellExecuteOrOpenWith(GtkWindow* AWindow, std::u16string_view AOperation, std::u16string_view AFileName,
                           std::u16string_view AParameters, std::u16string_view ADirectory, int AShowCommand);

}  // namespace zb
