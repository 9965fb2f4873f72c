// The editor's print options (header, footer, HTML header, margins, orientation, units) and the
// engine's page-setup store in the registry, which printing reads: its key path, value names,
// text type and number format are fixed.
#pragma once

#include <string>
#include <string_view>

#include "platform/print/zbPageSetupStore.h"
#include "support/zbStr.h"

namespace zb {

// Four margins in the units of the owning options' Measure (millimetres or inches).
class THtmlPrintMargins {
 public:
  double Left() const { return FLeft; }
  double Top() const { return FTop; }
  double Right() const { return FRight; }
  double Bottom() const { return FBottom; }
  void SetLeft(double AValue) { FLeft = AValue; }
  void SetTop(double AValue) { FTop = AValue; }
  void SetRight(double AValue) { FRight = AValue; }
  void SetBottom(double AValue) { FBottom = AValue; }
  void Assign(const THtmlPrintMargins& ASource) { *this = ASource; }
  // Settings are stored only for margins that differ from the default.
  static bool IsStored(double AValue) { return AValue != DefaultPrintMargin; }
  bool operator==(const THtmlPrintMargins&) const = default;

 private:
  double FLeft = DefaultPrintMargin;
  double FTop = DefaultPrintMargin;
  double FRight = DefaultPrintMargin;
  double FBottom = DefaultPrintMargin;
};

class THtmlPrintOptions {
 public:
  THtmlPrintOptions();

  const TStringList& HTMLHeader() const { return FHTMLHeader; }
  void SetHTMLHeader(const TStringList& AValue) { FHTMLHeader = AValue; }
  const std::u16string& Header() const { return FHeader; }
  void SetHeader(std::u16string_view AValue) { FHeader = AValue; }
  const std::u16string& Footer() const { return FFooter; }
  void SetFooter(std::u16string_view AValue) { FFooter = AValue; }
  THtmlPrintMargins& Margins() { return FMargins; }
  const THtmlPrintMargins& Margins() const { return FMargins; }
  void SetMargins(const THtmlPrintMargins& AValue) { FMargins.Assign(AValue); }
  TPrintOrientationOption Orientation() const { return FOrientation; }
  void SetOrientation(TPrintOrientationOption AValue) { FOrientation = AValue; }
  TMeasure Measure() const { return FMeasure; }
  void SetMeasure(TMeasure AValue) { FMeasure = AValue; }
  const std::u16string& NameSpace() const { return FsNameSpace; }
  void SetNameSpace(std::u16string_view AValue) { FsNameSpace = AValue; }

  // Writes header, footer and the four margins to the page-setup store, creating the key. With
  // ACheckNameSpace nothing is written when the key's default value equals NameSpace (ignoring case).
  // Raises the store's errors.
  void SaveToRegistry(bool ACheckNameSpace);

 private:
  TStringList FHTMLHeader;
  std::u16string FHeader;
  std::u16string FFooter;
  THtmlPrintMargins FMargins;
  TPrintOrientationOption FOrientation = poPortrait;
  TMeasure FMeasure = mMetric;
  std::u16string FsNameSpace;
};

// Reads header, footer and margins from the page-setup store into AOptions, in AOptions' Measure.
// A missing key changes nothing. (The editor component runs it after setting Measure from its locale.)
void LoadPageSetup(THtmlPrintOptions& AOptions);

// A margin as the store keeps it: inches with five decimals and a "." ("0.75000").
std::u16string MarginToRegistryText(double AValue);

// The user's locale measures in U.S. units (LC_MEASUREMENT).
bool LocaleUsesUSMeasure();
TMeasure RuntimeMeasureFromLocale();

// A margin of the options (in AMeasure) as the page-setup dialog shows it (in ARuntimeMeasure).
double PageSetupDialogMargin(double AValue, TMeasure AMeasure, TMeasure ARuntimeMeasure);
std::u16string PageSetupDialogMarginText(double AValue, TMeasure AMeasure, TMeasure ARuntimeMeasure);

}  // namespace zb
