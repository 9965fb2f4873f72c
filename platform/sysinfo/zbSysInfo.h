// What an error report needs to know about this process and machine: the stack recorded when the
// calling thread last raised an exception, symbols and lines for code addresses (libdw), the loaded
// modules (dl_iterate_phdr), the processor (cpuid, /proc/cpuinfo) and the screen (GDK).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zb {

// Fixed size: it is filled inside the throw, where nothing may allocate.
struct TzbStackList {
  static constexpr std::size_t Capacity = 64;
  std::array<std::uintptr_t, Capacity> Frames{};  // return addresses, innermost call first
  std::size_t Count = 0;
  double RecordedAt = 0;  // local date-time value
  const std::uintptr_t* begin() const { return Frames.data(); }
  const std::uintptr_t* end() const { return Frames.data() + Count; }
};

// Every C++ exception raised while tracking is on records its stack for the raising thread.
void StartExceptionTracking();
void StopExceptionTracking();
bool ExceptionTrackingActive();
// A copy of the calling thread's last recorded stack; none when nothing was recorded.
std::optional<TzbStackList> LastExceptionStack();
void ClearLastExceptionStack();

struct TzbLocationInfo {
  std::u16string UnitName;       // the source file's name without folder and extension
  std::u16string ProcedureName;  // demangled, without its parameter list
  std::u16string SourceName;     // the source file's name without folder
  unsigned LineNumber = 0;
  std::uintptr_t ProcedureStart = 0;
};

// Looks up debug information for code addresses of this process. One lookup session reads the
// process's modules once; create one per report.
class TzbLocationLookup {
 public:
  TzbLocationLookup();
  ~TzbLocationLookup();
  TzbLocationLookup(const TzbLocationLookup&) = delete;
  TzbLocationLookup& operator=(const TzbLocationLookup&) = delete;
  // A return address is looked up at the call instruction before it.
  std::optional<TzbLocationInfo> Lookup(std::uintptr_t ADdress) const;

 private:
  struct TImpl;
  TImpl* FImpl;
};

struct TzbModuleInfo {
  std::u16string FileName;
  std::uintptr_t LoadAddress = 0;  // lowest mapped address
  std::uintptr_t CodeStart = 0;    // first executable segment
};
// False when the list cannot be obtained.
bool GetModuleList(std::vector<TzbModuleInfo>& AModules);

struct TzbProcessorInfo {
  std::u16string Manufacturer;
  std::u16string Name;
  int MHz = 0;  // 0 when unknown
  bool HasMMX = false;
  bool FDivBug = false;
};
TzbProcessorInfo GetProcessorInfo();

struct TzbScreenInfo {
  int Width = 0, Height = 0, BitsPerPixel = 0;
};
// Zeros when no display is open.
TzbScreenInfo GetScreenInfo();

}  // namespace zb
