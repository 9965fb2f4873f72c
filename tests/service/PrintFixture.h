// The printing tests' fixture: a private bus and service, documents written into its folder, prints
// asked for over the bus, the registry tool on the same bus, and a title per test (the queue is shared).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ServiceFixture.h"

namespace zb::test {

constexpr double PointsPerInch = 72;
// The page-setup store as the registry tool names it.
constexpr char PageSetupKey[] = "HKCU\\Software\\Microsoft\\Internet Explorer\\PageSetup";

class TPrintTest : public ::testing::Test {
 protected:
  std::filesystem::path Write(const std::string& AName, const std::string& AText) {
    const std::filesystem::path path = std::filesystem::path(Bus.Folder()) / AName;
    std::ofstream(path, std::ios::binary) << AText;
    return path;
  }
  std::int32_t PrintFiles(const std::string& AList) {
    return Bus.Call("PrintFiles", g_variant_new("(s)", AList.c_str())).Value.value_or(-99);
  }
  TRun Reg(const std::vector<std::string>& AArgs) {
    std::vector<std::string> argv{HTMLSERVICE_REG_PATH};
    argv.insert(argv.end(), AArgs.begin(), AArgs.end());
    return Bus.Run(argv);
  }
  // A unique title prefix per test, since the queue is shared by the whole run.
  std::string Tag() const { return std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()); }

  TPrivateBus Bus;
};

}  // namespace zb::test
