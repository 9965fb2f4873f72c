// The process-wide catcher of unexpected errors: the German error report (header, stack, system,
// modules, controls) and the log files it is written to, newest entry first.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sysinfo/zbSysInfo.h"
#include "support/zbDateUtils.h"

namespace zb {

using TStrings = std::vector<std::u16string>;

// A control of the focus chain, as the report names it: class name and component name.
class IzbReportControl {
 public:
  virtual ~IzbReportControl() = default;
  virtual std::u16string ClassName() const = 0;
  virtual std::u16string Name() const = 0;
  virtual const IzbReportControl* Parent() const = 0;
};

enum TReportSection : unsigned { rsHeader = 1, rsStack = 2, rsSystem = 4, rsModules = 8, rsControls = 16 };
using TReportSections = unsigned;
constexpr TReportSections AllReportSections = rsHeader | rsStack | rsSystem | rsModules | rsControls;

inline constexpr std::u16string_view ReportIndent = u"           ";  // 11 blanks
std::u16string ReportSeparator();                                    // 100 "-"

// The application's title, the first word of every report.
void SetApplicationTitle(std::u16string_view Title);
std::u16string ApplicationTitle();

// The focused control when an error is caught; none when nothing has the focus.
using TActiveControlProvider = const IzbReportControl* (*)();
void SetActiveControlProvider(TActiveControlProvider Provider);
const IzbReportControl* ActiveReportControl();

// A program that links the exception dialog installs it here; without it an error to be shown is
// logged silently (the service has no dialog).
using TShowExceptionHook = void (*)(const std::exception& E);
void SetShowExceptionHook(TShowExceptionHook Hook);

int RoundToNiceMHz(int MHz);
// The module-line prefix: "<preferred base> " for a relocated PE image, else the indent.
std::u16string ImageBasePrefix(const void* Header, std::size_t Size, std::uintptr_t LoadAddress);
// One stack line (without the relative prefix when Lookup finds nothing, the addresses alone).
std::u16string FormatStackLine(std::uintptr_t Address, std::uintptr_t ModuleCode, const TzbLocationInfo* Location,
                               unsigned ProcedureStartLine);

// Empties Lines and fills the selected sections; errors of the facilities are not caught.
void FillReport(TStrings& Lines, const IzbReportControl* ActiveControl, TReportSections Sections);

// Blanks trimmed, a final "." added, every line break made CR LF.
std::u16string NormaliseErrorMessage(std::u16string_view Message);
// The message an exception carries: EzbException's own text, else what() read as UTF-8.
std::u16string ExceptionMessage(const std::exception& E);

class TzbExceptionHandler {
 public:
  TzbExceptionHandler() = default;

  // Process-wide settings.
  static std::u16string GetLogFilename();
  // Empty: log folder + "Error.log"; a bare name goes into the log folder.
  static void SetLogFilename(std::u16string_view Value);
  static void SetApplicationFileage(TDateTime Value);
  static TDateTime ApplicationFileage();
  static bool SilentMode();
  static void SetSilentMode(bool Value);

  // The error hook's entry: silent mode logs, otherwise the error is shown.
  static void OnExceptionHandler(const void* Sender, const std::exception& E);
  // Catches the error and adds its report to the log as the newest entry. Errors of the log escape.
  static void SilentException(const std::exception& E);
  static void SilentException(std::u16string_view Message);
  // The report as one text with its angle brackets masked; writes nothing.
  static std::u16string ExceptionReportAsXMP(const std::exception& E);
  // Through the installed dialog, else logged silently.
  static void ShowException(const std::exception& E);

  void CatchException(const std::exception& E);
  void CatchException(std::u16string_view Message);
  void SaveErrorToLogfile();
  // Mode 1 masks "<" and ">" as "(" and ")".
  std::u16string GetReportText(int Mode) const;
  void BuildDetails();

  const std::u16string& ErrorText() const { return FsErrorText; }
  const TStrings& Details() const { return FsltDetails; }
  bool IsMainThread() const { return FIsMainThread; }

 private:
  void CatchMessage(std::u16string_view Message);
  std::string PlainEntry(const std::u16string& Now) const;
  void WritePlainEntry(const std::u16string& FileName, const std::u16string& Now);
  void WriteXmpEntry(const std::u16string& FileName, const std::u16string& Now);

  std::u16string FsErrorText;
  TStrings FsltDetails;
  bool FIsMainThread = true;
  const IzbReportControl* FLastActiveControl = nullptr;
};

}  // namespace zb
