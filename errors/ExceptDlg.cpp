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

std::u16string Hex8(std::uintptr_t AV) { return Format(u"%.8x", {static_cast<unsigned long long>(AV)}); }

std::u16string ReportDateTime(TDateTime AValue) {
  const TzbLocale& locale = CurrentLocale();
  return FormatDateTimeText(locale.ShortDateFormat + u" " + locale.ShortTimeFormat, AValue, locale);
}

std::u16string MaskAngleBrackets(std::u16string_view AText) {
  return StringReplaceMulti(AText, {u"<", u">"}, {u"(", u")"}, rfReplaceAll);
}

std::u16string IndentLines(int ACount, std::u16string_view AText) {
  const std::u16string indent(static_cast<std::size_t>(ACount), u' ');
  return indent + StringReplace(AText, CRLF, u"\r\n" + indent, rfReplaceAll);
}

std::u16string StripModulePrefix(const std::u16string& AProc, const std::u16string& AUnit) {
  if (AUnit.empty()) return AProc;
  if (StartsWithText(AUnit + u".", AProc, true)) return AProc.substr(AUnit.size() + 1);
  const auto dot = AUnit.find(u'.', 1);
  if (dot != std::u16string::npos) {
    const std::u16string tail = AUnit.substr(dot + 1);
    if (!tail.empty() && StartsWithText(tail + u".", AProc, true)) return AProc.substr(tail.size() + 1);
  }
  return AProc;
}

std::string Utf16LE(std::u16string_view AText) { return EncodeText(AText, TzbEncoding::UTF16LE); }

}  // namespace

std::u16string ReportSeparator() { return std::u16string(100, u'-'); }

void SetApplicationTitle(std::u16string_view ATitle) {
  std::lock_guard lock(Settings().Lock);
  Settings().Title = ATitle;
}

std::u16string ApplicationTitle() {
  std::lock_guard lock(Settings().Lock);
  return Settings().Title;
}

void SetActiveControlProvider(TActiveControlProvider AProvider) {
  std::lock_guard lock(Settings().Lock);
  Settings().ActiveControl = AProvider;
}

const IzbReportControl* ActiveReportControl() {
  TActiveControlProvider provider;
  {
    std::lock_guard lock(Settings().Lock);
    provider = Settings().ActiveControl;
  }
  return provider ? provider() : nullptr;
}

void SetShowExceptionHook(TShowExceptionHook AHook) {
  std::lock_guard lock(Settings().Lock);
  Settings().ShowHook = AHook;
}

int RoundToNiceMHz(int AMHz) {
  static constexpr int nice[] = {0, 20, 33, 50, 60, 66, 80, 90, 100};
  const int r = AMHz % 100;
  const int base = AMHz - r;
  for (std::size_t i = 1; i < std::size(nice); ++i) {
    if (nice[i] <= r) continue;
    const int lower = nice[i - 1], upper = nice[i];
    return (r - lower < upper - r) ? base + lower : base + upper;
  }
  return AMHz;
}

std::u16string ImageBasePrefix(const void* AHeader, std::size_t ASize, std::uintptr_t ALoadAddress) {
  const std::u16string indent(ReportIndent);
  const auto* p = static_cast<const unsigned char*>(AHeader);
  const auto u16 = [&](std::size_t AAt) { return static_cast<unsigned>(p[AAt] | p[AAt + 1] << 8); };
  const auto u32 = [&](std::size_t AAt) {
    return static_cast<std::uint32_t>(p[AAt] | p[AAt + 1] << 8 | p[AAt + 2] << 16) |
           static_cast<std::uint32_t>(p[AAt + 3]) << 24;
  };
  if (!p || ASize < 64 || p[0] != 'M' || p[1] != 'Z') return indent;
  const std::uint32_t nt = u32(0x3C);
  if (nt == 0 || nt > ASize || ASize - nt < 24 + 32) return indent;
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
  if (base == ALoadAddress) return indent;
  return u"<" + Format(u"%.8x", {static_cast<unsigned long long>(base)}) + u"> ";
}

std::u16string FormatStackLine(std::uintptr_t ADdress, std::uintptr_t AModuleCode, const TzbLocationInfo* ALocation,
                               unsigned AProcedureStartLine) {
  const std::uintptr_t relative = AModuleCode && ADdress >= AModuleCode ? ADdress - AModuleCode : ADdress;
  std::u16string line = u"(" + Hex8(relative) + u") [" + Hex8(ADdress) + u"]";
  if (!ALocation || ALocation->ProcedureName.empty()) return line;
  const std::u16string proc = StripModulePrefix(ALocation->ProcedureName, ALocation->UnitName);
  if (ALocation->LineNumber > 0) {
    std::u16string offset;
    // A start line after the line (inlined code from elsewhere) gives no offset worth printing.
    if (AProcedureStartLine > 0 && AProcedureStartLine <= ALocation->LineNumber)
      offset = Format(u" + %d", {static_cast<long long>(ALocation->LineNumber) - AProcedureStartLine});
    return line + Format(u" %s.%s (Line %u, \"%s\"%s)%s",
                         {ALocation->UnitName, proc, ALocation->LineNumber, ALocation->SourceName, offset, u""});
  }
  if (!ALocation->UnitName.empty()) return line + Format(u" %s.%s%s", {ALocation->UnitName, proc, u""});
  return line + Format(u" %s%s", {proc, u""});
}

void FillReport(TStrings& ALines, const IzbReportControl* ACtiveControl, TReportSections ASections) {
  // Taken first: the report's own facilities may raise and catch errors, which records new stacks.
  const std::optional<TzbStackList> stack = LastExceptionStack();
  ALines.clear();
  const std::u16string separator = ReportSeparator();

  if (ASections & rsHeader) {
    ALines.push_back(
        Format(u"%0:s vom %1:s", {ApplicationTitle(), ReportDateTime(TzbExceptionHandler::ApplicationFileage())}));
    ALines.push_back(separator);
  }

  std::vector<TzbModuleInfo> modules;
  const bool haveModules = GetModuleList(modules);
  std::sort(modules.begin(), modules.end(),
            [](const TzbModuleInfo& AA, const TzbModuleInfo& AB) { return AA.LoadAddress < AB.LoadAddress; });

  if ((ASections & rsStack) && stack) {
    ALines.push_back(Format(u"Stackliste, erzeugt am %s", {ReportDateTime(stack->RecordedAt)}));
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
      ALines.push_back(FormatStackLine(address, code, location ? &*location : nullptr, startLine));
    }
    ALines.push_back(separator);
  }

  if (ASections & rsSystem) {
    ALines.push_back(u"System:     " + WindowsVersionText());
    const TzbProcessorInfo cpu = GetProcessorInfo();
    ALines.push_back(
        Format(u"Prozessor:  %s, %s, %d MHz %s%s", {cpu.Manufacturer, cpu.Name, RoundToNiceMHz(cpu.MHz),
                                                    cpu.HasMMX ? u"MMX" : u"", cpu.FDivBug ? u" [FDIV Bug]" : u""}));
    const TzbScreenInfo screen = GetScreenInfo();
    ALines.push_back(Format(u"Bildschirm: %dx%d pixels, %d bpp", {screen.Width, screen.Height, screen.BitsPerPixel}));
    ALines.push_back(separator);
  }

  if ((ASections & rsModules) && haveModules) {
    ALines.push_back(u"Liste geladener Module:");
    for (const auto& m : modules) {
      ALines.push_back(Format(u"[%.8x] %s", {static_cast<unsigned long long>(m.LoadAddress), m.FileName}));
      // The first page of every mapped module is readable: it holds the image's own header.
      const std::u16string prefix = ImageBasePrefix(reinterpret_cast<const void*>(m.LoadAddress), 4096, m.LoadAddress);
      if (HasVersionResource(m.FileName)) {
        const TzbFileVersionInfo info(m.FileName);
        ALines.push_back(prefix + info.BinFileVersion() + u" - " + info.FileVersion());
        if (!info.FileDescription().empty()) ALines.push_back(std::u16string(ReportIndent) + info.FileDescription());
      } else {
        ALines.push_back(prefix + u"(keine Versionsinformationen)");
      }
    }
    ALines.push_back(separator);
  }

  if ((ASections & rsControls) && ACtiveControl) {
    ALines.push_back(u"Hierarchie aktiver Controls:");
    for (const IzbReportControl* c = ACtiveControl; c; c = c->Parent())
      ALines.push_back(c->ClassName() + u" \"" + c->Name() + u"\"");
    ALines.push_back(separator);
  }
}

std::u16string NormaliseErrorMessage(std::u16string_view AMessage) {
  std::u16string text = TrimBlanks(AMessage);
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

std::u16string ExceptionMessage(const std::exception& AException) {
  if (const auto* zb = dynamic_cast<const EzbException*>(&AException)) return zb->Message();
  return Utf8ToUtf16(AException.what());
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

void TzbExceptionHandler::SetLogFilename(std::u16string_view AValue) {
  std::u16string name;
  if (AValue.empty())
    name = GetLogFolder(false) + u"Error.log";
  else if (ExtractFilePathEx(AValue).empty())
    name = GetLogFolder(false) + std::u16string(AValue);
  else
    name = AValue;
  std::lock_guard lock(Settings().Lock);
  Settings().LogFilename = std::move(name);
}

void TzbExceptionHandler::SetApplicationFileage(TDateTime AValue) {
  std::lock_guard lock(Settings().Lock);
  Settings().Fileage = AValue;
}

TDateTime TzbExceptionHandler::ApplicationFileage() {
  std::lock_guard lock(Settings().Lock);
  return Settings().Fileage;
}

bool TzbExceptionHandler::SilentMode() {
  std::lock_guard lock(Settings().Lock);
  return Settings().Silent;
}

void TzbExceptionHandler::SetSilentMode(bool AValue) {
  std::lock_guard lock(Settings().Lock);
  Settings().Silent = AValue;
}

void TzbExceptionHandler::OnExceptionHandler(const void*, const std::exception& AException) {
  if (SilentMode())
    SilentException(AException);
  else
    ShowException(AException);
}

void TzbExceptionHandler::SilentException(const std::exception& AException) {
  TzbExceptionHandler handler;
  handler.CatchException(AException);
  handler.SaveErrorToLogfile();
}

void TzbExceptionHandler::SilentException(std::u16string_view AMessage) {
  TzbExceptionHandler handler;
  handler.CatchException(AMessage);
  handler.SaveErrorToLogfile();
}

std::u16string TzbExceptionHandler::ExceptionReportAsXMP(const std::exception& AException) {
  TzbExceptionHandler handler;
  handler.CatchException(AException);
  return handler.GetReportText(1);
}

void TzbExceptionHandler::ShowException(const std::exception& AException) {
  TShowExceptionHook hook;
  {
    std::lock_guard lock(Settings().Lock);
    hook = Settings().ShowHook;
  }
  if (hook)
    hook(AException);
  else
    SilentException(AException);
}

void TzbExceptionHandler::CatchException(const std::exception& AException) {
  CatchMessage(ExceptionMessage(AException));
}

void TzbExceptionHandler::CatchException(std::u16string_view AMessage) { CatchMessage(AMessage); }

void TzbExceptionHandler::CatchMessage(std::u16string_view AMessage) {
  FIsMainThread = std::this_thread::get_id() == MainThread;
  FLastActiveControl = ActiveReportControl();
  FsErrorText = NormaliseErrorMessage(AMessage);
  BuildDetails();
}

void TzbExceptionHandler::BuildDetails() {
  struct TCursorScope {
    TCursorScope() { BeginWaitCursor(crHourGlass); }
    ~TCursorScope() { EndWaitCursor(); }
  } cursor;
  FillReport(FsltDetails, FLastActiveControl, AllReportSections);
}

std::u16string TzbExceptionHandler::GetReportText(int AMode) const {
  std::u16string text = FsErrorText;
  if (!text.empty() && !EndsWithText(u"\r\n\r\n", text, true)) text += u"\r\n\r\n";
  for (const auto& line : FsltDetails) text += line + u"\r\n";
  text = TrimRightBlanks(text);
  if (AMode == 1) text = MaskAngleBrackets(text);
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

std::string TzbExceptionHandler::PlainEntry(const std::u16string& ANowText) const {
  std::u16string entry;
  entry += ANowText + u"\r\n";
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
std::optional<std::string> EarlierLog(const std::u16string& AFileName) {
  if (FileExists(AFileName)) return ReadFileBytes(AFileName);
  EnsureFolder(ExtractFileDirEx(AFileName));
  return std::nullopt;
}

}  // namespace

void TzbExceptionHandler::WritePlainEntry(const std::u16string& AFileName, const std::u16string& ANowText) {
  const std::optional<std::string> earlier = EarlierLog(AFileName);
  std::string bytes = PlainEntry(ANowText);
  if (earlier) {
    bytes += Utf16LE(u"\r\n\r\n" + std::u16string(100, u'*') + u"\r\n\r\n\r\n");
    bytes += *earlier;
  }
  // Written aside and renamed over the log, so a failed write never loses earlier entries.
  WriteFileAtomic(AFileName, bytes, LogFileMode);
}

void TzbExceptionHandler::WriteXmpEntry(const std::u16string& AFileName, const std::u16string& ANowText) {
  const std::u16string header =
      Format(u"<?xmp version=\"1.0\" encoding=\"iso-8859-1\"?>\r\n<!-- %0:s Logfile -->\r\n<XMP>\r\n  <Exceptions>",
             {ExtractFileBaseName(AFileName)});
  std::optional<std::string> rest = EarlierLog(AFileName);
  if (rest) {
    const std::size_t skip = (header.size() + 2) * 2;
    rest = rest->size() > skip ? std::optional<std::string>(rest->substr(skip)) : std::nullopt;
  }
  std::u16string out;
  const auto line = [&](std::u16string_view AText) {
    out += AText;
    out += CRLF;
  };
  const auto comment = [&](std::u16string AText, bool ADropColon) {
    if (ADropColon && !AText.empty() && AText.back() == u':') AText.pop_back();
    line(u"    <!-- " + AText + u" -->");
  };
  line(header);
  line(u"  <Exception>");
  line(u"    <Date type=\"timestamp\">" + ANowText + u"</Date>");
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
  WriteFileAtomic(AFileName, bytes, LogFileMode);
}

}  // namespace zb
