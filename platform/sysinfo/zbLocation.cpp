#include <cxxabi.h>
#include <dwarf.h>
#include <elfutils/libdw.h>
#include <elfutils/libdwfl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/sysinfo/zbSysInfo.h"
#include "support/zbCOwner.h"
#include "support/zbUnicode.h"

namespace zb {
namespace {

std::string Demangle(const char* AName) {
  int status = 0;
  const TzbCMemory<char> demangled(abi::__cxa_demangle(AName, nullptr, nullptr, &status));
  std::string result = status == 0 && demangled ? demangled.get() : AName;
  // The parameter list makes report lines long and says nothing the line number does not: the last
  // balanced "(...)", after any trailing qualifiers, is dropped.
  // Compiler-made copies (" [clone .cold]") are the same function.
  for (auto clone = result.find(" [clone "); clone != std::string::npos; clone = result.find(" [clone "))
    result.erase(
        clone, result.find(']', clone) == std::string::npos ? std::string::npos : result.find(']', clone) - clone + 1);
  std::size_t end = result.size();
  for (const char* qualifier : {" const", " volatile", " &&", " &", " noexcept"})
    while (end >= std::strlen(qualifier) &&
           result.compare(end - std::strlen(qualifier), std::strlen(qualifier), qualifier) == 0)
      end -= std::strlen(qualifier);
  if (end > 0 && result[end - 1] == ')') {
    int depth = 0;
    for (std::size_t i = end; i > 0; --i) {
      const char c = result[i - 1];
      if (c == ')') ++depth;
      if (c == '(' && --depth == 0) {
        if (i > 1) result.resize(i - 1);
        break;
      }
    }
  }
  return result;
}

std::string BaseName(const char* APath) {
  const char* slash = std::strrchr(APath, '/');
  return slash ? slash + 1 : APath;
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

std::optional<TzbLocationInfo> TzbLocationLookup::Lookup(std::uintptr_t ADdress) const {
  if (!FImpl->Session || ADdress == 0) return std::nullopt;
  const Dwarf_Addr pc = ADdress - 1;
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
  const char* file = nullptr;
  int lineNo = 0;
  // libdwfl hands out the nearest unit below an address that no unit covers (start files, code built
  // without -g), and that unit's last line: such an address has no position of its own.
  Dwarf_Addr bias = 0;
  Dwarf_Die* cu = dwfl_module_addrdie(module, pc, &bias);
  if (cu && dwarf_haspc(cu, pc - bias) != 1) cu = nullptr;
  if (Dwfl_Line* line = cu ? dwfl_module_getsrc(module, pc) : nullptr)
    file = dwfl_lineinfo(line, nullptr, &lineNo, nullptr, nullptr, nullptr);
  // Code inlined into the function reports the inlined source; the function's own line is the call
  // site of the outermost inlined scope.
  if (cu) {
    Dwarf_Die* scopeArray = nullptr;
    const int n = dwarf_getscopes(cu, pc - bias, &scopeArray);
    const TzbCMemory<Dwarf_Die> scopes(scopeArray);
    Dwarf_Die* outermost = nullptr;
    for (int i = 0; i < n; ++i)
      if (dwarf_tag(&scopeArray[i]) == DW_TAG_inlined_subroutine) outermost = &scopeArray[i];
    Dwarf_Files* files = nullptr;
    std::size_t fileCount = 0;
    Dwarf_Attribute attr;
    Dwarf_Word callFile = 0, callLine = 0;
    if (outermost && dwarf_getsrcfiles(cu, &files, &fileCount) == 0 &&
        dwarf_formudata(dwarf_attr(outermost, DW_AT_call_file, &attr), &callFile) == 0 &&
        dwarf_formudata(dwarf_attr(outermost, DW_AT_call_line, &attr), &callLine) == 0 && callFile < fileCount) {
      if (const char* callSource = dwarf_filesrc(files, callFile, nullptr, nullptr)) {
        file = callSource;
        lineNo = static_cast<int>(callLine);
      }
    }
  }
  if (file) {
    const std::string base = BaseName(file);
    info.SourceName = Utf8ToUtf16(base);
    const auto dot = base.rfind('.');
    info.UnitName = Utf8ToUtf16(dot == std::string::npos ? base : base.substr(0, dot));
    info.LineNumber = lineNo > 0 ? static_cast<unsigned>(lineNo) : 0;
  }
  if (info.ProcedureName.empty() && info.SourceName.empty()) return std::nullopt;
  return info;
}

}  // namespace zb
