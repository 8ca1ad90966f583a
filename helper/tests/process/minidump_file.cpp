#include "minidump_file.h"

#include <dbghelp.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace corvane::testing {
namespace {

// The file's bytes, read as the little-endian records of the format.
class Bytes {
 public:
  explicit Bytes(std::vector<char> data) : data_(std::move(data)) {}

  // The record of type T at `offset`, or nothing when it runs past the end.
  template <class T>
  bool read(std::uint64_t offset, T& out) const {
    if (offset > data_.size() || data_.size() - offset < sizeof(T)) {
      return false;
    }
    std::memcpy(&out, data_.data() + offset, sizeof(T));
    return true;
  }

  // A MINIDUMP_STRING: a byte length, then UTF-16 without a terminator.
  bool read_string(std::uint64_t offset, std::wstring& out) const {
    ULONG32 length = 0;
    if (!read(offset, length) || length % 2 != 0 || data_.size() - offset - sizeof length < length) {
      return false;
    }
    out.resize(length / 2);
    std::memcpy(out.data(), data_.data() + offset + sizeof length, length);
    return true;
  }

 private:
  std::vector<char> data_;
};

}  // namespace

bool MinidumpFile::has_stream(std::uint32_t type) const {
  return std::find(stream_types.begin(), stream_types.end(), type) != stream_types.end();
}

const MinidumpModule* MinidumpFile::module_holding(std::uint64_t address) const {
  for (const auto& module : modules) {
    if (address >= module.base && address - module.base < module.size) {
      return &module;
    }
  }
  return nullptr;
}

Expected<MinidumpFile, std::string> read_minidump(const std::wstring& path) {
  std::ifstream stream(std::filesystem::path(path), std::ios::binary);
  if (!stream) {
    return fail("the dump cannot be opened");
  }
  const Bytes bytes(std::vector<char>(std::istreambuf_iterator<char>(stream), {}));
  MINIDUMP_HEADER header{};
  if (!bytes.read(0, header)) {
    return fail("the dump is shorter than its header");
  }
  MinidumpFile dump;
  dump.signature = header.Signature;
  dump.version = static_cast<std::uint16_t>(header.Version & 0xFFFF);
  bool have_exception = false;
  bool have_threads = false;
  bool have_modules = false;
  for (ULONG32 i = 0; i < header.NumberOfStreams; ++i) {
    MINIDUMP_DIRECTORY entry{};
    if (!bytes.read(header.StreamDirectoryRva + std::uint64_t{i} * sizeof entry, entry)) {
      return fail("the stream directory runs past the end");
    }
    dump.stream_types.push_back(entry.StreamType);
    const std::uint64_t at = entry.Location.Rva;
    if (entry.StreamType == ExceptionStream) {
      MINIDUMP_EXCEPTION_STREAM exception{};
      if (!bytes.read(at, exception)) {
        return fail("the exception stream runs past the end");
      }
      dump.exception_thread_id = exception.ThreadId;
      dump.exception_code = exception.ExceptionRecord.ExceptionCode;
      dump.exception_address = exception.ExceptionRecord.ExceptionAddress;
      have_exception = true;
    } else if (entry.StreamType == ThreadListStream) {
      ULONG32 count = 0;
      if (!bytes.read(at, count)) {
        return fail("the thread list runs past the end");
      }
      for (ULONG32 t = 0; t < count; ++t) {
        MINIDUMP_THREAD thread{};
        if (!bytes.read(at + sizeof count + std::uint64_t{t} * sizeof thread, thread)) {
          return fail("the thread list runs past the end");
        }
        dump.thread_ids.push_back(thread.ThreadId);
      }
      have_threads = true;
    } else if (entry.StreamType == ModuleListStream) {
      ULONG32 count = 0;
      if (!bytes.read(at, count)) {
        return fail("the module list runs past the end");
      }
      for (ULONG32 m = 0; m < count; ++m) {
        MINIDUMP_MODULE module{};
        MinidumpModule found;
        if (!bytes.read(at + sizeof count + std::uint64_t{m} * sizeof module, module) ||
            !bytes.read_string(module.ModuleNameRva, found.name)) {
          return fail("the module list runs past the end");
        }
        found.base = module.BaseOfImage;
        found.size = module.SizeOfImage;
        dump.modules.push_back(std::move(found));
      }
      have_modules = true;
    }
  }
  if (!have_exception || !have_threads || !have_modules) {
    return fail("the dump lacks the exception, thread or module list");
  }
  return dump;
}

}  // namespace corvane::testing
