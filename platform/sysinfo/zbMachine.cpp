#include <gdk/gdk.h>
#include <link.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <fstream>
#include <string>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include "platform/sysinfo/zbSysInfo.h"
#include "support/zbStr.h"

namespace zb {
namespace {

int CollectModule(dl_phdr_info* AInfo, size_t, void* AData) {
  auto& modules = *static_cast<std::vector<TzbModuleInfo>*>(AData);
  TzbModuleInfo m;
  std::uintptr_t lowest = UINTPTR_MAX, code = 0;
  for (int i = 0; i < AInfo->dlpi_phnum; ++i) {
    const auto& ph = AInfo->dlpi_phdr[i];
    if (ph.p_type != PT_LOAD) continue;
    const std::uintptr_t start =
        (AInfo->dlpi_addr + ph.p_vaddr) & ~static_cast<std::uintptr_t>(ph.p_align ? ph.p_align - 1 : 0);
    lowest = std::min(lowest, start);
    if ((ph.p_flags & PF_X) && code == 0) code = AInfo->dlpi_addr + ph.p_vaddr;
  }
  if (lowest == UINTPTR_MAX) return 0;
  m.LoadAddress = lowest;
  m.CodeStart = code ? code : lowest;
  if (AInfo->dlpi_name && *AInfo->dlpi_name) {
    m.FileName = Utf8ToUtf16(AInfo->dlpi_name);
  } else if (modules.empty()) {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n > 0) m.FileName = Utf8ToUtf16(std::string(path, static_cast<std::size_t>(n)));
  }
  // The kernel's vDSO ("linux-vdso.so.1") has no file behind it.
  if (m.FileName.empty() || m.FileName.find(u'/') == std::u16string::npos) return 0;
  modules.push_back(std::move(m));
  return 0;
}

std::string CpuInfoValue(const char* AKey) {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(AKey, 0) != 0) continue;
    const auto colon = line.find(':');
    if (colon != std::string::npos) return Utf16ToUtf8(TrimBlanks(Utf8ToUtf16(line.substr(colon + 1))));
  }
  return {};
}

}  // namespace

bool GetModuleList(std::vector<TzbModuleInfo>& AModules) {
  AModules.clear();
  dl_iterate_phdr(CollectModule, &AModules);
  return !AModules.empty();
}

TzbProcessorInfo GetProcessorInfo() {
  TzbProcessorInfo p;
#if defined(__x86_64__) || defined(__i386__)
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid(0, &a, &b, &c, &d)) {
    char vendor[13] = {};
    std::memcpy(vendor, &b, 4);
    std::memcpy(vendor + 4, &d, 4);
    std::memcpy(vendor + 8, &c, 4);
    const std::string v = vendor;
    p.Manufacturer = v == "GenuineIntel" ? u"Intel" : v == "AuthenticAMD" ? u"AMD" : Utf8ToUtf16(v);
  }
  if (__get_cpuid(1, &a, &b, &c, &d)) p.HasMMX = (d & (1u << 23)) != 0;
  if (__get_cpuid(0x80000000, &a, &b, &c, &d) && a >= 0x80000004) {
    char brand[49] = {};
    for (std::size_t leaf = 0; leaf < 3; ++leaf) {
      __get_cpuid(0x80000002 + static_cast<unsigned>(leaf), &a, &b, &c, &d);
      std::memcpy(brand + 16 * leaf, &a, 4);
      std::memcpy(brand + 16 * leaf + 4, &b, 4);
      std::memcpy(brand + 16 * leaf + 8, &c, 4);
      std::memcpy(brand + 16 * leaf + 12, &d, 4);
    }
    p.Name = TrimBlanks(Utf8ToUtf16(brand));
  }
#endif
  if (p.Manufacturer.empty()) p.Manufacturer = Utf8ToUtf16(CpuInfoValue("vendor_id"));
  if (p.Name.empty()) p.Name = Utf8ToUtf16(CpuInfoValue("model name"));
  // The nominal frequency: the highest the first core runs at, else what /proc/cpuinfo reports.
  std::ifstream maxFreq("/sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq");
  long khz = 0;
  if (maxFreq >> khz && khz > 0) {
    p.MHz = static_cast<int>(std::lround(khz / 1000.0));
  } else {
    const std::string mhz = CpuInfoValue("cpu MHz");
    if (!mhz.empty()) p.MHz = static_cast<int>(std::lround(std::atof(mhz.c_str())));
  }
  // The classic Pentium check; volatile keeps the compiler from folding it.
  volatile double x = 4195835.0, y = 3145727.0;
  p.FDivBug = x - (x / y) * y > 1.0;
  return p;
}

TzbScreenInfo GetScreenInfo() {
  TzbScreenInfo s;
  GdkDisplay* display = gdk_display_get_default();
  if (!display) return s;
  GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
  if (!monitor && gdk_display_get_n_monitors(display) > 0) monitor = gdk_display_get_monitor(display, 0);
  if (monitor) {
    GdkRectangle r{};
    gdk_monitor_get_geometry(monitor, &r);
    const int scale = gdk_monitor_get_scale_factor(monitor);
    s.Width = r.width * scale;
    s.Height = r.height * scale;
  }
  if (GdkScreen* screen = gdk_display_get_default_screen(display))
    if (GdkVisual* visual = gdk_screen_get_system_visual(screen)) s.BitsPerPixel = gdk_visual_get_depth(visual);
  return s;
}

}  // namespace zb
