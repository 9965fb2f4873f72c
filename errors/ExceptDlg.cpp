#include "errors/ExceptDlg.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <thread>

#include "support/zbFileCtrl.h"
#include "support/zbFileInfo.h"
#include "support/zbSound.h"
#include "support/zbStr.h"
#include "support/zbSysUtils.h"

namespace zb {
namespace {

constexpr std::u16string_view CRLF = u"\r\n";

struct TSettings {
  std::mutex Lock;
  std::u16string Title;
  std::u16string LogFilename;
  TDateTime Fileage = 0;
  bool Silent = false;
  TActiveControlProvider ActiveControl = nullptr;
  TShowExceptionHook ShowHook = nullptr;
};
TSettings& Settings() {
  static TSettings settings;
  return settings;
}

const std::thread::id MainThread = std::this_thread::get_id();

std::u16string Hex8(std::uintptr_t v) { return Format(u"%.8x", {static_cast<unsigned long long>(v)}); }

std::u16string ReportDateTime(TDateTime Value) {
  const TzbLocale& locale = CurrentLocale();
  return FormatDateTimeText(locale.ShortDateFormat + u" " + locale.ShortTimeFormat, Value, locale);
}

std::u16string MaskAngleBrackets(std::u16string_view Text) {
  return StringReplaceMulti(Text, {u"<", u">"}, {u"(", u")"}, rfReplaceAll);
}

std::u16string IndentLines(int Count, std::u16string_view Text) {
  const std::u16string indent(static_cast<std::size_t>(Count), u' ');
  return indent + StringReplace(Text, CRLF, u"\r\n" + indent, rfReplaceAll);
}

std::u16string StripModulePrefix(const std::u16string& proc, const std::u16string& unit) {
  if (unit.empty()) return proc;
  if (StartsWithText(unit + u".", proc, true)) return proc.substr(unit.size() + 1);
  const auto dot = unit.find(u'.', 1);
  if (dot != std::u16string::npos) {
    const std::u16string tail = unit.substr(dot + 1);
    if (!tail.empty() && StartsWithText(tail + u".", proc, true)) return proc.substr(tail.size() + 1);
  }
  return proc;
}

std::string Utf16LE(std::u16string_view Text) { return EncodeText(Text, TzbEncoding::UTF16LE); }

}  // namespace

std::u16string ReportSeparator() { return std::u16string(100, u'-'); }

void SetApplicationTitle(std::u16string_view Title) {
  std::lock_guard lock(Settings().Lock);
  Settings().Title = Title;
}

std::u16string ApplicationTitle() {
  std::lock_guard lock(Settings().Lock);
  return Settings().Title;
}

void SetActiveControlProvider(TActiveControlProvider Provider) {
  std::lock_guard lock(Settings().Lock);
  Settings().ActiveControl = Provider;
}

const IzbReportControl* ActiveReportControl() {
  TActiveControlProvider provider;
  {
    std::lock_guard lock(Settings().Lock);
    provider = Settings().ActiveControl;
  }
  return provider ? provider() : nullptr;
}

void SetShowExceptionHook(TShowExceptionHook Hook) {
  std::lock_guard lock(Settings().Lock);
  Settings().ShowHook = Hook;
}

int RoundToNiceMHz(int MHz) {
  static constexpr int nice[] = {0, 20, 33, 50, 60, 66, 80, 90, 100};
  const int r = MHz % 100;
  const int base = MHz - r;
  for (std::size_t i = 1; i < std::size(nice); ++i) {
    if (nice[i] <= r) continue;
    const int lower = nice[i - 1], upper = nice[i];
    return (r - lower < upper - r) ? base + lower : base + upper;
  }
  return MHz;
}

std::u16string ImageBasePrefix(const void* Header, std::size_t Size, std::uintptr_t LoadAddress) {
  const std::u16string indent(ReportIndent);
  const auto* p = static_cast<const unsigned char*>(Header);
  const auto u16 = [&](std::size_t at) { return static_cast<unsigned>(p[at] | p[at + 1] << 8); };
  const auto u32 = [&](std::size_t at) {
    return static_cast<std::uint32_t>(p[at] | p[at + 1] << 8 | p[at + 2] << 16) | static_cast<std::uint32_t>(p[at + 3])
                                                                                      << 24;
  };
  if (!p || Size < 64 || p[0] != 'M' || p[1] != 'Z') return indent;
  const std::uint32_t nt = u32(0x3C);
  if (nt == 0 || nt > Size || Size - nt < 24 + 32) return indent;
  if (std::memcmp(p + nt, "PE\0\0", 4) != 0) return indent;
  const unsigned machine = u16(nt + 4);
  const std::size_t opt = nt + 24;
  std::uint64_t base;
  if (machine == 0x014C) {
    base = u32(opt + 28);
  } else if (machine == 0x8664) {
    base = u32(opt + 24) | static_cast<std::uint64_t>(u32(opt + 28)) << 32;
  } else {
    return indent;
  }
  if (base == LoadAddress) return indent;
  return u"<" + Format(u"%.8x", {static_cast<unsigned long long>(base)}) + u"> ";
}

std::u16string FormatStackLine(std::uintptr_t Address, std::uintptr_t ModuleCode, const TzbLocationInfo* Location,
                               unsigned ProcedureStartLine) {
  const std::uintptr_t relative = ModuleCode && Address >= ModuleCode ? Address - ModuleCode : Address;
  std::u16string line = u"(" + Hex8(relative) + u") [" + Hex8(Address) + u"]";
  if (!Location || Location->ProcedureName.empty()) return line;
  const std::u16string proc = StripModulePrefix(Location->ProcedureName, Location->UnitName);
  if (Location->LineNumber > 0) {
    std::u16string offset;
    // A start line after the line (inlined code from elsewhere) gives no offset worth printing.
    if (ProcedureStartLine > 0 && ProcedureStartLine <= Location->LineNumber)
      offset = Format(u" + %d", {static_cast<long long>(Location->LineNumber) - ProcedureStartLine});
    return line + Format(u" %s.%s (Line %u, \"%s\"%s)%s",
                         {Location->UnitName, proc, Location->LineNumber, Location->SourceName, offset, u""});
  }
  if (!Location->UnitName.empty()) return line + Format(u" %s.%s%s", {Location->UnitName, proc, u""});
  return line + Format(u" %s%s", {proc, u""});
}

void FillReport(TStrings& Lines, const IzbReportControl* ActiveControl, TReportSections Sections) {
  // Taken first: the report's own facilities may raise and catch errors, which records new stacks.
  const std::optional<TzbStackList> stack = LastExceptionStack();
  Lines.clear();
  const std::u16string separator = ReportSeparator();

  if (Sections & rsHeader) {
    Lines.push_back(
        Format(u"%0:s vom %1:s", {ApplicationTitle(), ReportDateTime(TzbExceptionHandler::ApplicationFileage())}));
    Lines.push_back(separator);
  }

  std::vector<TzbModuleInfo> modules;
  const bool haveModules = GetModuleList(modules);
  std::sort(modules.begin(), modules.end(),
            [](const TzbModuleInfo& a, const TzbModuleInfo& b) { return a.LoadAddress < b.LoadAddress; });

  if ((Sections & rsStack) && stack) {
    Lines.push_back(Format(u"Stackliste, erzeugt am %s", {ReportDateTime(stack->RecordedAt)}));
    const TzbLocationLookup lookup;
    for (const std::uintptr_t address : *stack) {
      std::uintptr_t code = 0;
      for (const auto& m : modules)
        if (m.LoadAddress <= address) code = m.CodeStart;
      const auto location = lookup.Lookup(address);
      unsigned startLine = 0;
      if (location && location->ProcedureStart) {
        // The procedure's own first line: look up the start address as a call site one byte later.
        if (const auto start = lookup.Lookup(location->ProcedureStart + 1)) startLine = start->LineNumber;
      }
      Lines.push_back(FormatStackLine(address, code, location ? &*location : nullptr, startLine));
    }
    Lines.push_back(separator);
  }

  if (Sections & rsSystem) {
    Lines.push_back(u"System:     " + WindowsVersionText());
    const TzbProcessorInfo cpu = GetProcessorInfo();
    Lines.push_back(
        Format(u"Prozessor:  %s, %s, %d MHz %s%s", {cpu.Manufacturer, cpu.Name, RoundToNiceMHz(cpu.MHz),
                                                    cpu.HasMMX ? u"MMX" : u"", cpu.FDivBug ? u" [FDIV Bug]" : u""}));
    const TzbScreenInfo screen = GetScreenInfo();
    Lines.push_back(Format(u"Bildschirm: %dx%d pixels, %d bpp", {screen.Width, screen.Height, screen.BitsPerPixel}));
    Lines.push_back(separator);
  }

  if ((Sections & rsModules) && haveModules) {
    Lines.push_back(u"Liste geladener Module:");
    for (const auto& m : modules) {
      Lines.push_back(Format(u"[%.8x] %s", {static_cast<unsigned long long>(m.LoadAddress), m.FileName}));
      // The first page of every mapped module is readable: it holds the image's own header.
      const std::u16string prefix = ImageBasePrefix(reinterpret_cast<const void*>(m.LoadAddress), 4096, m.LoadAddress);
      if (HasVersionResource(m.FileName)) {
        const TzbFileVersionInfo info(m.FileName);
        Lines.push_back(prefix + info.BinFileVersion() + u" - " + info.FileVersion());
        if (!info.FileDescription().empty()) Lines.push_back(std::u16string(ReportIndent) + info.FileDescription());
      } else {
        Lines.push_back(prefix + u"(keine Versionsinformationen)");
      }
    }
    Lines.push_back(separator);
  }

  if ((Sections & rsControls) && ActiveControl) {
    Lines.push_back(u"Hierarchie aktiver Controls:");
    for (const IzbReportControl* c = ActiveControl; c; c = c->Parent())
      Lines.push_back(c->ClassName() + u" \"" + c->Name() + u"\"");
    Lines.push_back(separator);
  }
}

std::u16string NormaliseErrorMessage(std::u16string_view Message) {
  std::u16string text = TrimBlanks(Message);
  if (!text.empty() && text.back() != u'.') text += u'.';
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'\r') {
      out += CRLF;
      if (i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    } else if (c == u'\n') {
      out += CRLF;
    } else {
      out += c;
    }
  }
  return out;
}

std::u16string ExceptionMessage(const std::exception& E) {
  if (const auto* zb = dynamic_cast<const EzbException*>(&E)) return zb->Message();
  return Utf8ToUtf16(E.what());
}

std::u16string TzbExceptionHandler::GetLogFilename() {
  {
    std::lock_guard lock(Settings().Lock);
    if (!Settings().LogFilename.empty()) return Settings().LogFilename;
  }
  SetLogFilename(u"");
  std::lock_guard lock(Settings().Lock);
  return Settings().LogFilename;
}

void TzbExceptionHandler::SetLogFilename(std::u16string_view Value) {
  std::u16string name;
  if (Value.empty())
    name = GetLogFolder(false) + u"Error.log";
  else if (ExtractFilePathEx(Value).empty())
    name = GetLogFolder(false) + std::u16string(Value);
  else
    name = Value;
  std::lock_guard lock(Settings().Lock);
  Settings().LogFilename = std::move(name);
}

void TzbExceptionHandler::SetApplicationFileage(TDateTime Value) {
  std::lock_guard lock(Settings().Lock);
  Settings().Fileage = Value;
}

TDateTime TzbExceptionHandler::ApplicationFileage() {
  std::lock_guard lock(Settings().Lock);
  return Settings().Fileage;
}

bool TzbExceptionHandler::SilentMode() {
  std::lock_guard lock(Settings().Lock);
  return Settings().Silent;
}

void TzbExceptionHandler::SetSilentMode(bool Value) {
  std::lock_guard lock(Settings().Lock);
  Settings().Silent = Value;
}

void TzbExceptionHandler::OnExceptionHandler(const void*, const std::exception& E) {
  if (SilentMode())
    SilentException(E);
  else
    ShowException(E);
}

void TzbExceptionHandler::SilentException(const std::exception& E) {
  TzbExceptionHandler handler;
  handler.CatchException(E);
  handler.SaveErrorToLogfile();
}

void TzbExceptionHandler::SilentException(std::u16string_view Message) {
  TzbExceptionHandler handler;
  handler.CatchException(Message);
  handler.SaveErrorToLogfile();
}

std::u16string TzbExceptionHandler::ExceptionReportAsXMP(const std::exception& E) {
  TzbExceptionHandler handler;
  handler.CatchException(E);
  return handler.GetReportText(1);
}

void TzbExceptionHandler::ShowException(const std::exception& E) {
  TShowExceptionHook hook;
  {
    std::lock_guard lock(Settings().Lock);
    hook = Settings().ShowHook;
  }
  if (hook)
    hook(E);
  else
    SilentException(E);
}

void TzbExceptionHandler::CatchException(const std::exception& E) { CatchMessage(ExceptionMessage(E)); }

void TzbExceptionHandler::CatchException(std::u16string_view Message) { CatchMessage(Message); }

void TzbExceptionHandler::CatchMessage(std::u16string_view Message) {
  FIsMainThread = std::this_thread::get_id() == MainThread;
  FLastActiveControl = ActiveReportControl();
  FsErrorText = NormaliseErrorMessage(Message);
  BuildDetails();
}

void TzbExceptionHandler::BuildDetails() {
  struct TCursorScope {
    TCursorScope() { BeginWaitCursor(crHourGlass); }
    ~TCursorScope() { EndWaitCursor(); }
  } cursor;
  FillReport(FsltDetails, FLastActiveControl, AllReportSections);
}

std::u16string TzbExceptionHandler::GetReportText(int Mode) const {
  std::u16string text = FsErrorText;
  if (!text.empty() && !EndsWithText(u"\r\n\r\n", text, true)) text += u"\r\n\r\n";
  for (const auto& line : FsltDetails) text += line + u"\r\n";
  text = TrimRightBlanks(text);
  if (Mode == 1) text = MaskAngleBrackets(text);
  return text;
}

void TzbExceptionHandler::SaveErrorToLogfile() {
  const std::u16string fileName = GetLogFilename();
  const std::u16string now = FormatIsoDateTime(Now());
  if (IndexOfFileExt(fileName, {u"XMP"}) == 0)
    WriteXmpEntry(fileName, now);
  else
    WritePlainEntry(fileName, now);
}

std::string TzbExceptionHandler::PlainEntry(const std::u16string& NowText) const {
  std::u16string entry;
  entry += NowText + u"\r\n";
  entry += std::u16string(19, u'=') + u"\r\n";
  entry += FsErrorText + u"\r\n";
  entry += std::u16string(100, u'=') + u"\r\n";
  for (const auto& line : FsltDetails) entry += line + u"\r\n";
  entry += u"\r\n";
  return Utf16LE(entry);
}

namespace {

// Reports hold system details: new log files are for the user alone.
constexpr unsigned LogFileMode = 0600;

// The earlier content, or nothing for a new file (whose folder is made sure of).
std::optional<std::string> EarlierLog(const std::u16string& FileName) {
  if (FileExists(FileName)) return ReadFileBytes(FileName);
  EnsureFolder(ExtractFileDirEx(FileName));
  return std::nullopt;
}

}  // namespace

void TzbExceptionHandler::WritePlainEntry(const std::u16string& FileName, const std::u16string& NowText) {
  const std::optional<std::string> earlier = EarlierLog(FileName);
  std::string bytes = PlainEntry(NowText);
  if (earlier) {
    bytes += Utf16LE(u"\r\n\r\n" + std::u16string(100, u'*') + u"\r\n\r\n\r\n");
    bytes += *earlier;
  }
  // Written aside and renamed over the log, so a failed write never loses earlier entries.
  WriteFileAtomic(FileName, bytes, LogFileMode);
}

void TzbExceptionHandler::WriteXmpEntry(const std::u16string& FileName, const std::u16string& NowText) {
  const std::u16string header =
      Format(u"<?xmp version=\"1.0\" encoding=\"iso-8859-1\"?>\r\n<!-- %0:s Logfile -->\r\n<XMP>\r\n  <Exceptions>",
             {ExtractFileBaseName(FileName)});
  std::optional<std::string> rest = EarlierLog(FileName);
  if (rest) {
    const std::size_t skip = (header.size() + 2) * 2;
    rest = rest->size() > skip ? std::optional<std::string>(rest->substr(skip)) : std::nullopt;
  }
  std::u16string out;
  const auto line = [&](std::u16string_view text) {
    out += text;
    out += CRLF;
  };
  const auto comment = [&](std::u16string text, bool dropColon) {
    if (dropColon && !text.empty() && text.back() == u':') text.pop_back();
    line(u"    <!-- " + text + u" -->");
  };
  line(header);
  line(u"  <Exception>");
  line(u"    <Date type=\"timestamp\">" + NowText + u"</Date>");
  line(u"    <Message type=\"plain\">");
  line(IndentLines(4, MaskAngleBrackets(FsErrorText)));
  line(u"    </Message>");
  if (!FsltDetails.empty()) {
    line(u"    <Program type=\"plain\">");
    line(IndentLines(4, MaskAngleBrackets(FsltDetails[0])));
    line(u"    </Program>");
    const std::u16string separator = ReportSeparator();
    int separators = 0;
    for (std::size_t i = 1; i < FsltDetails.size(); ++i) {
      if (FsltDetails[i] != separator) {
        line(u"    " + MaskAngleBrackets(FsltDetails[i]));
        continue;
      }
      // The comment line after a separator is taken only when the report has one.
      const bool hasNext = i + 1 < FsltDetails.size();
      switch (separators++) {
        case 0:
          line(u"    <StackDump type=\"plain\">");
          if (hasNext) comment(MaskAngleBrackets(FsltDetails[++i]), false);
          break;
        case 1:
          line(u"    </StackDump>");
          line(u"    <System type=\"plain\">");
          break;
        case 2:
          line(u"    </System>");
          line(u"    <Modules type=\"plain\">");
          if (hasNext) comment(MaskAngleBrackets(FsltDetails[++i]), true);
          break;
        case 3:
          line(u"    </Modules>");
          line(u"    <Controls type=\"plain\">");
          if (hasNext) comment(MaskAngleBrackets(FsltDetails[++i]), true);
          break;
        case 4: line(u"    </Controls>"); break;
        default: break;
      }
    }
  }
  line(u"  </Exception>");
  std::string bytes = Utf16LE(out);
  if (rest)
    bytes += *rest;
  else
    bytes += Utf16LE(u"  </Exceptions>\r\n</XMP>");
  WriteFileAtomic(FileName, bytes, LogFileMode);
}

}  // namespace zb
