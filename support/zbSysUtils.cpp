#include "support/zbSysUtils.h"

#include <sys/utsname.h>

#include <fstream>
#include <string>

#include "support/zbStr.h"

namespace zb {
namespace {

bool Workstation(const TzbOSVersionInfo& AVersion) { return AVersion.ProductType == 1; }

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

std::u16string WindowsNameFromVersion(const TzbOSVersionInfo& AVersion, const TzbSystemFacts& AFacts) {
  const std::uint32_t majorVersion = AVersion.MajorVersion, minorVersion = AVersion.MinorVersion;
  switch (AVersion.PlatformId) {
    case 0: return u"Win32s unter Windows 3.x";
    case 1:
      if (majorVersion != 4) return u"Windows";
      if (minorVersion == 0) return u"Windows 95";
      if (minorVersion < 90) {
        const bool se =
            AVersion.CSDVersion.size() >= 2 && (AVersion.CSDVersion[1] == u'A' || AVersion.CSDVersion[1] == u'a');
        return se ? u"Windows 98 SE" : u"Windows 98";
      }
      return u"Windows Millennium Edition";
    case 2:
      if (majorVersion < 5) return u"Windows NT";
      if (majorVersion == 5 && minorVersion == 0) return u"Windows 2000";
      if (majorVersion == 5 && minorVersion == 1) {
        if (AFacts.MediaCenter) return u"Windows XP Media Center Edition";
        if (AFacts.Starter) return u"Windows XP Starter Edition";
        if (AFacts.TabletPC) return u"Windows XP Tablet PC Edition";
        return u"Windows XP";
      }
      if (majorVersion == 5 && minorVersion == 2) {
        if (AFacts.ServerR2 == 0) return u"Windows Server 2003";
        if (AVersion.SuiteMask == 0x8000) return u"Windows Home Server";
        if (Workstation(AVersion) && AFacts.NativeArchitecture == 9) return u"Windows XP Professional x64 Edition";
        return u"Windows Server 2003 R2";
      }
      if (majorVersion == 6 && minorVersion == 0)
        return Workstation(AVersion) ? u"Windows Vista" : u"Windows Server 2008";
      if (majorVersion == 6 && minorVersion == 1)
        return Workstation(AVersion) ? u"Windows 7" : u"Windows Server 2008 R2";
      if (majorVersion == 6 && minorVersion == 2) return Workstation(AVersion) ? u"Windows 8" : u"Windows Server 2012";
      if (majorVersion == 6 && minorVersion == 3) {
        if (!Workstation(AVersion)) return u"Windows Server 2012 R2";
        return AVersion.BuildNumber == 9600 ? u"Windows 8.1 Update 1" : u"Windows 8.1";
      }
      if (majorVersion == 10 && minorVersion == 0)
        return Workstation(AVersion) ? u"Windows 10" : u"Windows Server 2016";
      return {};
    default: return {};
  }
}

int WindowsReleaseFromVersion(const TzbOSVersionInfo& AVersion, const TzbSystemFacts& AFacts) {
  const std::uint32_t majorVersion = AVersion.MajorVersion, minorVersion = AVersion.MinorVersion;
  const std::u16string csd = TrimBlanks(AVersion.CSDVersion);
  const auto csdIs = [&](std::u16string_view AA, std::u16string_view AB) {
    return SameTextEx(csd, AA, false) || SameTextEx(csd, AB, false);
  };
  const bool ws = Workstation(AVersion);
  if (AVersion.PlatformId == 1) {
    const bool me = AFacts.Kernel32ProductVersionMS == 0x0004005A;
    if (minorVersion < 10) return csdIs(u"B", u"C") ? 2 : 1;
    if (minorVersion < 90) {
      if (me) return 5;
      return csdIs(u"A", u"B") ? 4 : 3;
    }
    return minorVersion == 90 ? 5 : 0;
  }
  if (AVersion.PlatformId != 2) return 0;
  if (majorVersion == 3) return minorVersion == 1 ? 6 : minorVersion == 5 ? 7 : minorVersion == 51 ? 8 : 0;
  if (majorVersion == 4) return 9;
  if (majorVersion == 5) {
    if (minorVersion == 0) return 10;
    if (minorVersion == 1) return 11;
    if (minorVersion == 2) {
      if (AFacts.ServerR2 != 0) return 14;
      if (AFacts.NativeArchitecture != 0 && ws) return 13;
      return 12;
    }
    return 0;
  }
  if (majorVersion == 6 && minorVersion <= 3) return static_cast<int>(15 + 2 * minorVersion) + (ws ? 0 : 1);
  if (majorVersion == 10 && minorVersion == 0) return ws ? 23 : 24;
  return 0;
}

std::u16string WindowsVersionTextFrom(const TzbOSVersionInfo& AVersion, const TzbSystemFacts& AFacts,
                                      std::u16string_view AEdition, bool AIsNative64Bit) {
  std::u16string text = WindowsNameFromVersion(AVersion, AFacts);
  if (!AEdition.empty()) text += u" " + std::u16string(AEdition);
  if (AIsNative64Bit) text += u" 64 Bit";
  if (!IsBlankText(AVersion.CSDVersion)) text += u" " + AVersion.CSDVersion;
  text += u" (" + IntToText(AVersion.MajorVersion) + u"." + IntToText(AVersion.MinorVersion) + u"." +
          IntToText(AVersion.BuildNumber) + u")";
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
