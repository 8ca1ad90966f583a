// presskeys: presses keys for real with SendInput, for trying global key chords by hand or from
// scripts/run. Usage: presskeys <delay-ms> <hold-ms> <vk>... — waits, presses the keys in order,
// holds them, releases them in reverse order. Virtual-key codes in decimal or 0x hex.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <vector>

namespace {

bool send_key(WORD key, DWORD flags) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = key;
  input.ki.dwFlags = flags;
  return SendInput(1, &input, sizeof input) == 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) {
    std::fputs("usage: presskeys <delay-ms> <hold-ms> <vk>...\n", stderr);
    return 2;
  }
  const unsigned long delay = std::wcstoul(argv[1], nullptr, 10);
  const unsigned long hold = std::wcstoul(argv[2], nullptr, 10);
  std::vector<WORD> keys;
  for (int i = 3; i < argc; ++i) {
    const unsigned long key = std::wcstoul(argv[i], nullptr, 0);
    if (key == 0 || key > 254) {
      std::fputs("presskeys: virtual-key codes are 1..254\n", stderr);
      return 2;
    }
    keys.push_back(static_cast<WORD>(key));
  }
  Sleep(static_cast<DWORD>(delay));
  bool ok = true;
  for (const WORD key : keys) {
    ok = send_key(key, 0) && ok;
  }
  Sleep(static_cast<DWORD>(hold));
  for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
    ok = send_key(*key, KEYEVENTF_KEYUP) && ok;
  }
  return ok ? 0 : 1;
}
