#include <cxxabi.h>
#include <elfutils/libdwfl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/sysinfo/zbSysInfo.h"
#include "support/zbUnicode.h"

namespace zb {
namespace {

std::string Demangle(const char* name) {
  int status = 0;
  char* demangled = abi::__cxa_demangle(name, nullptr, nullptr, &status);
  std::string result = status == 0 && demangled ? demangled : name;
  std::free(demangled);
  // The parameter list makes report lines long and says nothing the line number does not.
  int depth = 0;
  for (std::size_t i = 0; i < result.size(); ++i) {
    const char c = result[i];
    if (c == '<') ++depth;
    if (c == '>') --depth;
    if (c == '(' && depth == 0 && i > 0 && result.compare(0, 10, "(anonymous") != 0) {
      result.resize(i);
      break;
    }
  }
  return result;
}

std::string BaseName(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

}  // namespace

struct TzbLocationLookup::TImpl {
  Dwfl_Callbacks Callbacks{};
  char* DebugInfoPath = nullptr;
  Dwfl* Session = nullptr;
};

TzbLocationLookup::TzbLocationLookup() : FImpl(new TImpl) {
  FImpl->Callbacks.find_elf = dwfl_linux_proc_find_elf;
  FImpl->Callbacks.find_debuginfo = dwfl_standard_find_debuginfo;
  FImpl->Callbacks.debuginfo_path = &FImpl->DebugInfoPath;
  FImpl->Session = dwfl_begin(&FImpl->Callbacks);
  if (FImpl->Session && dwfl_linux_proc_report(FImpl->Session, getpid()) == 0) {
    dwfl_report_end(FImpl->Session, nullptr, nullptr);
  } else if (FImpl->Session) {
    dwfl_end(FImpl->Session);
    FImpl->Session = nullptr;
  }
}

TzbLocationLookup::~TzbLocationLookup() {
  if (FImpl->Session) dwfl_end(FImpl->Session);
  delete FImpl;
}

std::optional<TzbLocationInfo> TzbLocationLookup::Lookup(std::uintptr_t Address) const {
  if (!FImpl->Session || Address == 0) return std::nullopt;
  const Dwarf_Addr pc = Address - 1;
  Dwfl_Module* module = dwfl_addrmodule(FImpl->Session, pc);
  if (!module) return std::nullopt;
  GElf_Off offset = 0;
  GElf_Sym symbol{};
  const char* name = dwfl_module_addrinfo(module, pc, &offset, &symbol, nullptr, nullptr, nullptr);
  TzbLocationInfo info;
  if (name) {
    info.ProcedureName = Utf8ToUtf16(Demangle(name));
    info.ProcedureStart = static_cast<std::uintptr_t>(pc - offset);
  }
  if (Dwfl_Line* line = dwfl_module_getsrc(module, pc)) {
    int lineNo = 0;
    if (const char* file = dwfl_lineinfo(line, nullptr, &lineNo, nullptr, nullptr, nullptr)) {
      const std::string base = BaseName(file);
      info.SourceName = Utf8ToUtf16(base);
      const auto dot = base.rfind('.');
      info.UnitName = Utf8ToUtf16(dot == std::string::npos ? base : base.substr(0, dot));
      info.LineNumber = lineNo > 0 ? static_cast<unsigned>(lineNo) : 0;
    }
  }
  if (info.ProcedureName.empty() && info.SourceName.empty()) return std::nullopt;
  return info;
}

}  // namespace zb
