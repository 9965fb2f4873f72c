#include "support/zbSysUtils.h"

#include <sys/utsname.h>

#include <fstream>
#include <string>

#include "support/zbStr.h"

namespace zb {
namespace {

bool Workstation(const TzbOSVersionInfo& V) { return V.ProductType == 1; }

std::u16string OsReleaseName() {
  for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind("PRETTY_NAME=", 0) != 0) continue;
      std::u16string value = Utf8ToUtf16(line.substr(12));
      value = TrimBlanks(value);
      if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
      if (!value.empty()) return value;
    }
  }
  return u"Linux";
}

}  // namespace

std::u16string WindowsNameFromVersion(const TzbOSVersionInfo& V, const TzbSystemFacts& F) {
  const std::uint32_t M = V.MajorVersion, m = V.MinorVersion;
  switch (V.PlatformId) {
    case 0: return u"Win32s unter Windows 3.x";
    case 1:
      if (M != 4) return u"Windows";
      if (m == 0) return u"Windows 95";
      if (m < 90) {
        const bool se = V.CSDVersion.size() >= 2 && (V.CSDVersion[1] == u'A' || V.CSDVersion[1] == u'a');
        return se ? u"Windows 98 SE" : u"Windows 98";
      }
      return u"Windows Millennium Edition";
    case 2:
      if (M < 5) return u"Windows NT";
      if (M == 5 && m == 0) return u"Windows 2000";
      if (M == 5 && m == 1) {
        if (F.MediaCenter) return u"Windows XP Media Center Edition";
        if (F.Starter) return u"Windows XP Starter Edition";
        if (F.TabletPC) return u"Windows XP Tablet PC Edition";
        return u"Windows XP";
      }
      if (M == 5 && m == 2) {
        if (F.ServerR2 == 0) return u"Windows Server 2003";
        if (V.SuiteMask == 0x8000) return u"Windows Home Server";
        if (Workstation(V) && F.NativeArchitecture == 9) return u"Windows XP Professional x64 Edition";
        return u"Windows Server 2003 R2";
      }
      if (M == 6 && m == 0) return Workstation(V) ? u"Windows Vista" : u"Windows Server 2008";
      if (M == 6 && m == 1) return Workstation(V) ? u"Windows 7" : u"Windows Server 2008 R2";
      if (M == 6 && m == 2) return Workstation(V) ? u"Windows 8" : u"Windows Server 2012";
      if (M == 6 && m == 3) {
        if (!Workstation(V)) return u"Windows Server 2012 R2";
        return V.BuildNumber == 9600 ? u"Windows 8.1 Update 1" : u"Windows 8.1";
      }
      if (M == 10 && m == 0) return Workstation(V) ? u"Windows 10" : u"Windows Server 2016";
      return {};
    default: return {};
  }
}

int WindowsReleaseFromVersion(const TzbOSVersionInfo& V, const TzbSystemFacts& F) {
  const std::uint32_t M = V.MajorVersion, m = V.MinorVersion;
  const std::u16string csd = TrimBlanks(V.CSDVersion);
  const auto csdIs = [&](std::u16string_view a, std::u16string_view b) {
    return SameTextEx(csd, a, false) || SameTextEx(csd, b, false);
  };
  const bool ws = Workstation(V);
  if (V.PlatformId == 1) {
    const bool me = F.Kernel32ProductVersionMS == 0x0004005A;
    if (m < 10) return csdIs(u"B", u"C") ? 2 : 1;
    if (m < 90) {
      if (me) return 5;
      return csdIs(u"A", u"B") ? 4 : 3;
    }
    return m == 90 ? 5 : 0;
  }
  if (V.PlatformId != 2) return 0;
  if (M == 3) return m == 1 ? 6 : m == 5 ? 7 : m == 51 ? 8 : 0;
  if (M == 4) return 9;
  if (M == 5) {
    if (m == 0) return 10;
    if (m == 1) return 11;
    if (m == 2) {
      if (F.ServerR2 != 0) return 14;
      if (F.NativeArchitecture != 0 && ws) return 13;
      return 12;
    }
    return 0;
  }
  if (M == 6 && m <= 3) return static_cast<int>(15 + 2 * m) + (ws ? 0 : 1);
  if (M == 10 && m == 0) return ws ? 23 : 24;
  return 0;
}

std::u16string WindowsVersionTextFrom(const TzbOSVersionInfo& V, const TzbSystemFacts& F, std::u16string_view Edition,
                                      bool Native64) {
  std::u16string text = WindowsNameFromVersion(V, F);
  if (!Edition.empty()) text += u" " + std::u16string(Edition);
  if (Native64) text += u" 64 Bit";
  if (!IsBlankText(V.CSDVersion)) text += u" " + V.CSDVersion;
  text += u" (" + IntToText(V.MajorVersion) + u"." + IntToText(V.MinorVersion) + u"." + IntToText(V.BuildNumber) + u")";
  return text;
}

bool IsNative64Bit() {
  static const bool native64 = [] {
    utsname u{};
    if (uname(&u) != 0) return sizeof(void*) == 8;
    const std::string machine = u.machine;
    return machine == "x86_64" || machine == "aarch64" || machine == "ppc64le" || machine == "s390x" ||
           machine == "riscv64" || machine == "ia64";
  }();
  return native64;
}

std::u16string WindowsVersionText() {
  std::u16string text = OsReleaseName();
  if (IsNative64Bit()) text += u" 64 Bit";
  utsname u{};
  if (uname(&u) == 0) text += u" (" + Utf8ToUtf16(u.release) + u")";
  return text;
}

int WindowsRelease() { return 0; }

}  // namespace zb
