// Test aid, preloaded into the service: every file opened below ZB_TEST_FULL_FOLDER takes no bytes, as
// on a full disk (writes fail with ENOSPC). Everything else passes through untouched.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int MaxFd = 4096;
std::atomic<bool> Full[MaxFd];

bool Below(const char* APath) {
  const char* folder = std::getenv("ZB_TEST_FULL_FOLDER");
  return folder && *folder && APath && std::strncmp(APath, folder, std::strlen(folder)) == 0;
}

int Mark(int AFd, const char* APath) {
  if (AFd >= 0 && AFd < MaxFd) Full[AFd] = Below(APath);
  return AFd;
}

template <typename F>
F Next(const char* AName) {
  return reinterpret_cast<F>(::dlsym(RTLD_NEXT, AName));
}

}  // namespace

extern "C" {

int open(const char* APath, int AFlags, ...) {
  va_list args;
  va_start(args, AFlags);
  const mode_t mode = (AFlags & (O_CREAT | O_TMPFILE)) ? va_arg(args, mode_t) : 0;
  va_end(args);
  static const auto real = Next<int (*)(const char*, int, ...)>("open");
  return Mark(real(APath, AFlags, mode), APath);
}

int open64(const char* APath, int AFlags, ...) {
  va_list args;
  va_start(args, AFlags);
  const mode_t mode = (AFlags & (O_CREAT | O_TMPFILE)) ? va_arg(args, mode_t) : 0;
  va_end(args);
  static const auto real = Next<int (*)(const char*, int, ...)>("open64");
  return Mark(real(APath, AFlags, mode), APath);
}

ssize_t write(int AFd, const void* AData, size_t ACount) {
  if (AFd >= 0 && AFd < MaxFd && Full[AFd] && ACount > 0) {
    errno = ENOSPC;
    return -1;
  }
  static const auto real = Next<ssize_t (*)(int, const void*, size_t)>("write");
  return real(AFd, AData, ACount);
}

int close(int AFd) {
  if (AFd >= 0 && AFd < MaxFd) Full[AFd] = false;
  static const auto real = Next<int (*)(int)>("close");
  return real(AFd);
}
}
