#include "support/zbSound.h"

#include <atomic>
#include <mutex>

#include "support/zbException.h"
#include "support/zbRegistry.h"

namespace zb {

const std::array<std::u16string_view, AppEventCount> AppEventNames = {
    u".Default\\.Default",
    u".Default\\AppGPFault",
    u".Default\\CCSelect",
    u".Default\\Close",
    u".Default\\MailBeep",
    u".Default\\Maximize",
    u".Default\\MenuCommand",
    u".Default\\MenuPopup",
    u".Default\\Minimize",
    u".Default\\Open",
    u".Default\\RestoreDown",
    u".Default\\RestoreUp",
    u".Default\\RingIn",
    u".Default\\RingOut",
    u".Default\\ShowBand",
    u".Default\\SystemAsterisk",
    u".Default\\SystemExclamation",
    u".Default\\SystemExit",
    u".Default\\SystemHand",
    u".Default\\SystemQuestion",
    u".Default\\SystemStart",
    u"Explorer\\ActivatingDocument",
    u"Explorer\\EmptyRecycleBin",
    u"Explorer\\MoveMenuItem",
    u"Explorer\\Navigating",
};

namespace {
constexpr std::u16string_view AppEventKeyFormat = u"\\AppEvents\\Schemes\\Apps\\%s\\.Current";
}

void MuteAppEventSound(int AEvent) {
  if (AEvent < 0 || AEvent >= AppEventCount) throw EzbRangeError(u"Fehler bei Bereichsprüfung");
  TzbRegistry reg(KEY_ALL_ACCESS, HKEY_CURRENT_USER);
  // Nothing is restored later: the sound stays off for the user, as the engine's click should.
  if (reg.OpenKey(AppEventKeyFormat, {AppEventNames[static_cast<std::size_t>(AEvent)]}, false)) {
    reg.WriteString(u"", u"");
    reg.CloseKey();
  }
}

namespace {
std::atomic<int> WaitCursorCount{0};
std::atomic<TCursor> CurrentCursor{crDefault};
TCursor SavedCursor = crDefault;
std::mutex& CursorHandlerMutex() {
  static std::mutex m;
  return m;
}
std::function<void(TCursor)>& CursorHandler() {
  static std::function<void(TCursor)> handler;
  return handler;
}
void ShowCursor(TCursor ACursor) {
  CurrentCursor = ACursor;
  std::function<void(TCursor)> handler;
  {
    std::lock_guard lock(CursorHandlerMutex());
    handler = CursorHandler();
  }
  if (handler) handler(ACursor);
}
}  // namespace

void BeginWaitCursor(TCursor ACursor) {
  if (WaitCursorCount.load() == 0) {
    SavedCursor = CurrentCursor;
    ShowCursor(ACursor);
  }
  ++WaitCursorCount;
}

bool EndWaitCursor() {
  int count = WaitCursorCount.load();
  while (count > 0 && !WaitCursorCount.compare_exchange_weak(count, count - 1)) {
  }
  if (count == 1) ShowCursor(SavedCursor);
  return WaitCursorCount.load() == 0;
}

TCursor ScreenCursor() { return CurrentCursor; }

void SetScreenCursorHandler(std::function<void(TCursor)> AHandler) {
  std::lock_guard lock(CursorHandlerMutex());
  CursorHandler() = std::move(AHandler);
}

}  // namespace zb
