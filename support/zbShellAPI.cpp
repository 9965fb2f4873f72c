#include "support/zbShellAPI.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "support/zbStr.h"

namespace zb {
namespace {

std::u16string Env(const char* AName) {
  const char* v = std::getenv(AName);
  return v ? Utf8ToUtf16(v) : std::u16string();
}

std::u16string Join(std::u16string_view AFolder, std::u16string_view ASub) {
  if (AFolder.empty()) return {};
  return ExcludeTrailingChar(AFolder, u'/') + u"/" + std::u16string(ASub);
}

}  // namespace

std::u16string HomeFolder() {
  std::u16string home = Env("HOME");
  if (!home.empty()) return ExcludeTrailingChar(home, u'/');
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
    return ExcludeTrailingChar(Utf8ToUtf16(pw->pw_dir), u'/');
  return {};
}

std::u16string XdgBaseFolder(const char* AVariable, const char* AFallback) {
  const std::u16string value = Env(AVariable);
  if (!value.empty() && value.front() == u'/') return ExcludeTrailingChar(value, u'/');
  return Join(HomeFolder(), Utf8ToUtf16(AFallback));
}

std::u16string XdgUserFolder(const char* AVariable) {
  // Lines look like XDG_DOCUMENTS_DIR="$HOME/Dokumente"; only "$HOME/…" and absolute paths are allowed.
  std::ifstream in(Utf16ToUtf8(XdgBaseFolder("XDG_CONFIG_HOME", ".config")) + "/user-dirs.dirs");
  const std::string prefix = std::string(AVariable) + "=";
  std::string line;
  std::u16string result;
  while (std::getline(in, line)) {
    const auto start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.compare(start, prefix.size(), prefix) != 0) continue;
    std::u16string value = TrimBlanks(Utf8ToUtf16(line.substr(start + prefix.size())));
    value = Dequote(value, u'\0');
    if (StartsWithText(u"$HOME", value, true))
      value = HomeFolder() + value.substr(5);
    else if (value.empty() || value.front() != u'/')
      continue;
    result = ExcludeTrailingChar(value, u'/');
  }
  return result;
}

std::u16string GetSpecialFolder(int AIndex) {
  const auto userDir = [](const char* AVariable, bool AHomeFallback) {
    std::u16string dir = XdgUserFolder(AVariable);
    return dir.empty() && AHomeFallback ? HomeFolder() : dir;
  };
  switch (AIndex) {
    case 1: return XdgBaseFolder("XDG_CONFIG_HOME", ".config");  // AppData
    case 4: {                                                    // Desktop
      std::u16string dir = XdgUserFolder("XDG_DESKTOP_DIR");
      return dir.empty() ? Join(HomeFolder(), u"Desktop") : dir;
    }
    case 8: return userDir("XDG_DOCUMENTS_DIR", true);                                      // Personal
    case 9: return userDir("XDG_PICTURES_DIR", false);                                      // My Pictures
    case 13:                                                                                // Start Menu
    case 16: return Join(XdgBaseFolder("XDG_DATA_HOME", ".local/share"), u"applications");  // Programs
    case 14: return userDir("XDG_TEMPLATES_DIR", false);                                    // Templates
    case 17: return Join(XdgBaseFolder("XDG_CONFIG_HOME", ".config"), u"autostart");        // Startup
    case 19: return XdgBaseFolder("XDG_DATA_HOME", ".local/share");                         // Local AppData
    case 20: return XdgBaseFolder("XDG_CACHE_HOME", ".cache");                              // Cache
    case 22: return Join(XdgBaseFolder("XDG_DATA_HOME", ".local/share"), u"fonts");         // Fonts
    case 23: return u"/var/lib";                                                            // Common AppData
    case 24:                                                                                // Common Programs
    case 27:
      return u"/usr/share/applications";  // Common Start Menu
    // Reports hold system details that must not be world-readable, so the "shared" documents of
    // this system are the user's private state folder.
    case 25: return XdgBaseFolder("XDG_STATE_HOME", ".local/state");  // Common Documents
    case 32: return u"/etc/xdg/autostart";                            // Common Startup
    default: return {};
  }
}

}  // namespace zb
