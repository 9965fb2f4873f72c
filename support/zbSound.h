// The desktop's sound scheme: silencing one application event for the current user.
#pragma once

#include <array>
#include <functional>
#include <string_view>

namespace zb {

constexpr int AppEventCount = 25;

// Key names below "AppEvents\Schemes\Apps", indexed 0 to 24.
extern const std::array<std::u16string_view, AppEventCount> AppEventNames;

// Index of "Explorer\Navigating", the HTML engine's navigation click.
constexpr int AppEventNavigating = 24;

// Empties the event's current sound when the user's scheme has that event; creates nothing.
// An Event outside 0..24 raises EzbRangeError.
void MuteAppEventSound(int Event);

// The wait cursor: nested Begin/End pairs keep it until the outermost End; the counter changes
// atomically. Cursors are the component library's numbers (crDefault 0, crHourGlass -11).
using TCursor = int;
constexpr TCursor crDefault = 0;
constexpr TCursor crHourGlass = -11;
void BeginWaitCursor(TCursor Cursor = crHourGlass);
// True when no wait cursor is pending any more.
bool EndWaitCursor();
TCursor ScreenCursor();
// The host shows the screen cursor on its windows; without a handler only ScreenCursor changes.
void SetScreenCursorHandler(std::function<void(TCursor)> Handler);

}  // namespace zb
