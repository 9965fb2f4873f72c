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
void SetApplicationTitle(std::u16string_view ATitle);
std::u16string ApplicationTitle();

// The focused control when an error is caught; none when nothing has the focus.
using TActiveControlProvider = const IzbReportControl* (*)();
void SetActiveControlProvider(TActiveControlProvider AProvider);
const IzbReportControl* ActiveReportControl();

// A program that links the exception dialog installs it here; without it an error to be shown is
// logged silently (the service has no dialog).
using TShowExceptionHook = void (*)(const std::exception& AException);
void SetShowExceptionHook(TShowExceptionHook AHook);

int RoundToNiceMHz(int AMHz);
// The module-line prefix: "<preferred base> " for a relocated PE image, else the indent.
std::u16string ImageBasePrefix(const void* AHeader, std::size_t ASize, std::uintptr_t ALoadAddress);
// One stack line (without the relative prefix when Lookup finds nothing, the addresses alone).
std::u16string FormatStackLine(std::uintptr_t ADdress, std::uintptr_t AModuleCode, const TzbLocationInfo* ALocation,
                               unsigned AProcedureStartLine);

// Empties Lines and fills the selected sections; errors of the facilities are not caught.
void FillReport(TStrings& ALines, const IzbReportControl* ACtiveControl, TReportSections ASections);

// Blanks trimmed, a final "." added, every line break made CR LF.
std::u16string NormaliseErrorMessage(std::u16string_view AMessage);
// The message an exception carries: EzbException's own text, else what() read as UTF-8.
std::u16string ExceptionMessage(const std::exception& AException);

class TzbExceptionHandler {
 public:
  TzbExceptionHandler() = default;

  // Process-wide settings.
  static std::u16string GetLogFilename();
  // Empty: log folder + "Error.log"; a bare name goes into the log folder.
  static void SetLogFilename(std::u16string_view AValue);
  static void SetApplicationFileage(TDateTime AValue);
  static TDateTime ApplicationFileage();
  static bool SilentMode();
  static void SetSilentMode(bool AValue);

  // The error hook's entry: silent mode logs, otherwise the error is shown.
  static void OnExceptionHandler(const void* ASender, const std::exception& AException);
  // Catches the error and adds its report to the log as the newest entry. Errors of the log escape.
  static void SilentException(const std::exception& AException);
  static void SilentException(std::u16string_view AMessage);
  // The report as one text with its angle brackets masked; writes nothing.
  static std::u16string ExceptionReportAsXMP(const std::exception& AException);
  // Through the installed dialog, else logged silently.
  static void ShowException(const std::exception& AException);

  void CatchException(const std::exception& AException);
  void CatchException(std::u16string_view AMessage);
  void SaveErrorToLogfile();
  // Mode 1 masks "<" and ">" as "(" and ")".
  std::u16string GetReportText(int AMode) const;
  void BuildDetails();

  const std::u16string& ErrorText() const { return FsErrorText; }
  const TStrings& Details() const { return FsltDetails; }
  bool IsMainThread() const { return FIsMainThread; }

 private:
  void CatchMessage(std::u16string_view AMessage);
  std::string PlainEntry(const std::u16string& ANow) const;
  void WritePlainEntry(const std::u16string& AFileName, const std::u16string& ANow);
  void WriteXmpEntry(const std::u16string& AFileName, const std::u16string& ANow);

  std::u16string FsErrorText;
  TStrings FsltDetails;
  bool FIsMainThread = true;
  const IzbReportControl* FLastActiveControl = nullptr;
};

}  // namespace zb
