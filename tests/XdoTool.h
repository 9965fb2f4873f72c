// The keyboard tests' one driver of the shared display: real key presses and window searches through
// xdotool, run without a shell so nothing in a name or text is interpreted.
#pragma once

#include <glib.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace zb::test::xdo {

// Runs xdotool with AArgs; true when it ran and succeeded. AOut gets its output.
inline bool Run(const std::vector<std::string>& AArgs, std::string* AOut = nullptr) {
  std::vector<std::string> args{"xdotool"};
  args.insert(args.end(), AArgs.begin(), AArgs.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  gchar* out = nullptr;
  gint status = 0;
  const bool ran = g_spawn_sync(nullptr, argv.data(), nullptr,
                                static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_STDERR_TO_DEV_NULL), nullptr,
                                nullptr, &out, nullptr, &status, nullptr);
  if (AOut) *AOut = out ? out : "";
  g_free(out);
  return ran && g_spawn_check_wait_status(status, nullptr);
}

// AArgs followed by the words of AKeys ("alt+l ctrl+a" is two presses).
inline std::vector<std::string> WithKeys(std::vector<std::string> AArgs, const std::string& AKeys) {
  for (std::size_t at = 0; at < AKeys.size();) {
    const std::size_t end = std::min(AKeys.find(' ', at), AKeys.size());
    if (end > at) AArgs.push_back(AKeys.substr(at, end - at));
    at = end + 1;
  }
  return AArgs;
}

// Key presses as a user makes them ("Return", "ctrl+plus", "alt+l ctrl+a") to the window with the
// keyboard; held modifiers are released first.
inline bool Key(const std::string& AKeys) { return Run(WithKeys({"key", "--clearmodifiers"}, AKeys)); }
// Key presses sent to one window (an X window id), whether or not it has the keyboard.
inline bool KeyTo(const std::string& AWindow, const std::string& AKeys) {
  return Run(WithKeys({"key", "--window", AWindow}, AKeys));
}
inline bool Type(const std::string& AText) { return Run({"type", "--clearmodifiers", AText}); }

// The first visible window whose title matches APattern, left as the window manager placed it; empty
// when none came within 30 s.
inline std::string FindWindow(const std::string& APattern) {
  std::string id;
  for (int i = 0; i < 60 && id.empty(); ++i) {
    if (!Run({"search", "--onlyvisible", "--name", APattern}, &id)) id.clear();
    if (id.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  if (const auto end = id.find('\n'); end != std::string::npos) id.resize(end);
  return id;
}

// The window that has the keyboard, as the window manager says (empty without one).
inline std::string ActiveWindow() {
  std::string id;
  if (!Run({"getactivewindow"}, &id)) return {};
  if (const auto end = id.find('\n'); end != std::string::npos) id.resize(end);
  return id;
}

// Whether AWindow got the keyboard within 5 s.
inline bool BecomesActive(const std::string& AWindow) {
  for (int i = 0; i < 50; ++i) {
    if (ActiveWindow() == AWindow) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

// The first visible window whose title matches APattern (a regular expression), given the keyboard once
// it is on screen; empty when none came within 30 s.
inline std::string WaitForWindow(const std::string& APattern) {
  const std::string id = FindWindow(APattern);
  if (id.empty()) return id;
  Run({"windowfocus", "--sync", id});
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the first frame is drawn before anybody looks
  return id;
}

}  // namespace zb::test::xdo
