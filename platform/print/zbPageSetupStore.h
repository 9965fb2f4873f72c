// The engine's page-setup store in the registry (HKEY_CURRENT_USER): its key path and value names,
// all texts, are fixed, since whatever prints reads them. The editor's print options write them.
#pragma once

#include <string_view>

namespace zb {

enum TMeasure { mMetric, mUS };
enum TPrintOrientationOption { poPortrait, poLandscape };

constexpr std::u16string_view PageSetupKey = u"Software\\Microsoft\\Internet Explorer\\PageSetup";
constexpr std::u16string_view PageSetupHeader = u"header";
constexpr std::u16string_view PageSetupFooter = u"footer";
constexpr std::u16string_view PageSetupMarginLeft = u"margin_left";
constexpr std::u16string_view PageSetupMarginRight = u"margin_right";
constexpr std::u16string_view PageSetupMarginTop = u"margin_top";
constexpr std::u16string_view PageSetupMarginBottom = u"margin_bottom";

constexpr double MillimetresPerInch = 25.4;
constexpr double PointsPerInch = 72;

// Inches; the engine's margin where none is stored.
constexpr double DefaultPrintMargin = 0.75;

}  // namespace zb
