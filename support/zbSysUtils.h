// Naming the operating system: the Windows name and release tables as pure functions of a version
// record (for peers and reports that describe Windows machines), and the description of this Linux system.
#pragma once

#include <cstdint>
#include <string>

namespace zb {

// OSVERSIONINFOEXW, as far as the tables need it.
struct TzbOSVersionInfo {
  std::uint32_t MajorVersion = 0, MinorVersion = 0, BuildNumber = 0, PlatformId = 0;
  std::u16string CSDVersion;  // service-pack text
  std::uint16_t SuiteMask = 0;
  std::uint8_t ProductType = 0;  // 1 = workstation
};

// The system metrics and processor facts the tables ask for.
struct TzbSystemFacts {
  bool MediaCenter = false, Starter = false, TabletPC = false;
  int ServerR2 = 0;                            // system metric 98
  std::uint16_t NativeArchitecture = 0;        // 0 x86, 6 IA64, 9 AMD64
  std::uint32_t Kernel32ProductVersionMS = 0;  // 0x0004005A means 4.90
};

std::u16string WindowsNameFromVersion(const TzbOSVersionInfo& AVersion, const TzbSystemFacts& AFacts);
int WindowsReleaseFromVersion(const TzbOSVersionInfo& AVersion, const TzbSystemFacts& AFacts);
// The "System:" text of a Windows machine: name, edition, " 64 Bit", service pack, "(major.minor.build)".
std::u16string WindowsVersionTextFrom(const TzbOSVersionInfo& AVersion, const TzbSystemFacts& AFacts,
                                      std::u16string_view AEdition, bool AIsNative64Bit);

// This system: PRETTY_NAME of os-release, " 64 Bit" on 64-bit systems, and the kernel in parentheses,
// e.g. "Debian GNU/Linux 12 (bookworm) 64 Bit (6.1.0-28-amd64)".
std::u16string WindowsVersionText();
// No Windows release here: 0.
int WindowsRelease();
bool IsNative64Bit();

}  // namespace zb
