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

  // A list stream at `offset`: a 32-bit count, then the records, each given to `each` (which
  // returns false when something it reads runs past the end).
  template <class Record, class Each>
  bool read_list(std::uint64_t offset, Each each) const {
    ULONG32 count = 0;
    if (!read(offset, count)) {
      return false;
    }
    for (ULONG32 i = 0; i < count; ++i) {
      Record record{};
      if (!read(offset + sizeof count + std::uint64_t{i} * sizeof record, record) || !each(record)) {
        return false;
      }
    }
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
      have_threads = bytes.read_list<MINIDUMP_THREAD>(at, [&](const MINIDUMP_THREAD& thread) {
        dump.thread_ids.push_back(thread.ThreadId);
        return true;
      });
      if (!have_threads) {
        return fail("the thread list runs past the end");
      }
    } else if (entry.StreamType == ModuleListStream) {
      have_modules = bytes.read_list<MINIDUMP_MODULE>(at, [&](const MINIDUMP_MODULE& module) {
        MinidumpModule found{module.BaseOfImage, module.SizeOfImage, {}};
        dump.modules.push_back(found);
        return bytes.read_string(module.ModuleNameRva, dump.modules.back().name);
      });
      if (!have_modules) {
        return fail("the module list runs past the end");
      }
    }
  }
  if (!have_exception || !have_threads || !have_modules) {
    return fail("the dump lacks the exception, thread or module list");
  }
  return dump;
}

}  // namespace corvane::testing
