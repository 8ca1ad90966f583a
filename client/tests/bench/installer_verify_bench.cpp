// Benchmark (figures only): the driver installer's verification of a file, as the host does it
// before starting the installer: SHA-256 through CNG in 64 KiB chunks, then WinVerifyTrust on the handle.
// Usage: installer_verify_bench <file> [runs]. Prints the median of each step over the runs, and a
// last line "verify_ms_per_mib <value>" for scripts/bench.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "gamepad/driver_installer.h"

namespace {

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to, const LARGE_INTEGER& frequency) {
  return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: installer_verify_bench <file> [runs]\n");
    return 2;
  }
  const std::wstring path = argv[1];
  const int runs = argc > 2 ? std::max(1, _wtoi(argv[2])) : 7;
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  std::vector<double> hash_ms;
  std::vector<double> trust_ms;
  double mib = 0;
  for (int run = 0; run < runs; ++run) {
    const corvane::client::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size;
    if (!file || !GetFileSizeEx(file.Get(), &size)) {
      std::fprintf(stderr, "cannot open the file\n");
      return 1;
    }
    mib = static_cast<double>(size.QuadPart) / (1024.0 * 1024.0);
    LARGE_INTEGER start;
    LARGE_INTEGER hashed;
    LARGE_INTEGER trusted;
    QueryPerformanceCounter(&start);
    const auto digest = corvane::client::Sha256Hex(file.Get());
    QueryPerformanceCounter(&hashed);
    const LONG verdict = corvane::client::AuthenticodeVerdict(file.Get(), path);
    QueryPerformanceCounter(&trusted);
    if (!digest) {
      std::fprintf(stderr, "the file could not be hashed\n");
      return 1;
    }
    if (run == 0) {
      std::printf("file: %.1f MiB, SHA-256 %s, WinVerifyTrust 0x%08lX\n", mib, digest->c_str(),
                  static_cast<unsigned long>(verdict));
    }
    hash_ms.push_back(Milliseconds(start, hashed, frequency));
    trust_ms.push_back(Milliseconds(hashed, trusted, frequency));
  }
  const double hash = Median(hash_ms);
  const double trust = Median(trust_ms);
  std::printf("median of %d runs: hash %.1f ms (%.2f ms/MiB), WinVerifyTrust %.1f ms\n", runs, hash, hash / mib, trust);
  std::printf("verify_ms_per_mib %.3f\n", (hash + trust) / mib);
  return 0;
}
