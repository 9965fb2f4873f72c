// A private registry for each test: XDG_CONFIG_HOME and VESTRUM_MACHINE_REGISTRY point into a fresh
// temporary folder, so every test starts with no store files at all.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace zb::test {

class TRegistryEnv : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/zbreg-test-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    FDir = tmpl;
    std::filesystem::create_directories(FDir + "/machine");
    ::setenv("XDG_CONFIG_HOME", (FDir + "/config").c_str(), 1);
    ::setenv("VESTRUM_MACHINE_REGISTRY", MachineFile().c_str(), 1);
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::permissions(FDir + "/machine", std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(FDir, ec);
  }

  std::string UserFile() const { return FDir + "/config/vestrum/registry/user.db"; }
  std::string MachineFile() const { return FDir + "/machine/machine.db"; }
  const std::string& Dir() const { return FDir; }

 public:
  static std::string ReadBytes(const std::string& Path) {
    std::ifstream f(Path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
  }
  static void WriteBytes(const std::string& Path, const std::string& Bytes) {
    std::filesystem::create_directories(std::filesystem::path(Path).parent_path());
    std::ofstream(Path, std::ios::binary) << Bytes;
  }

 private:
  std::string FDir;
};

struct TProcessResult {
  int ExitCode = -1;
  std::string Out, Err;
};

// Runs a program to its end with the test's environment; stdin from Input.
inline TProcessResult RunProcess(const std::vector<std::string>& Args, const std::string& Input = {}) {
  TProcessResult r;
  std::string base = std::filesystem::temp_directory_path() / ("zbreg-proc-" + std::to_string(::getpid()));
  std::string in = base + ".in", out = base + ".out", err = base + ".err";
  std::ofstream(in, std::ios::binary) << Input;
  pid_t pid = ::fork();
  if (pid == 0) {
    if (!std::freopen(in.c_str(), "rb", stdin) || !std::freopen(out.c_str(), "wb", stdout) ||
        !std::freopen(err.c_str(), "wb", stderr))
      ::_exit(127);
    std::vector<char*> argv;
    for (const auto& a : Args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  r.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.Out = TRegistryEnv::ReadBytes(out);
  r.Err = TRegistryEnv::ReadBytes(err);
  std::remove(in.c_str());
  std::remove(out.c_str());
  std::remove(err.c_str());
  return r;
}

}  // namespace zb::test
