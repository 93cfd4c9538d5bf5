// The image's file calls on Win32: narrow paths in the ANSI code page, a
// temporary beside the target and a replacing rename, as on POSIX.
#include <windows.h>

#include <algorithm>
#include <limits>

#include "image/file_io.h"
#include "image/file_read_result.h"

namespace qmx {

namespace {

constexpr DWORD kReadChunk = 64 * 1024;

class File {
 public:
  explicit File(HANDLE h) : h_(h) {}
  ~File() {
    if (h_ != INVALID_HANDLE_VALUE) ::CloseHandle(h_);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  HANDLE get() const { return h_; }
  bool ok() const { return h_ != INVALID_HANDLE_VALUE; }
  bool Close() {
    const HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    return ::CloseHandle(h) != 0;
  }

 private:
  HANDLE h_;
};

bool WriteAll(HANDLE file, const char* bytes, std::size_t length) {
  while (length > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(length, 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(file, bytes, chunk, &written, nullptr) || written == 0) return false;
    bytes += written;
    length -= written;
  }
  return true;
}

}  // namespace

FileContents ReadWholeFile(const std::string& path, std::size_t limit, bool keepPrefix) {
  FileContents result;
  // Others may keep reading and writing it: a log or a file open in an editor.
  File file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.ok()) return result;  // a folder does not open without backup semantics
  const bool isDisk = ::GetFileType(file.get()) == FILE_TYPE_DISK;
  LARGE_INTEGER size{};
  const bool sized = isDisk && ::GetFileSizeEx(file.get(), &size) != 0;

  // One byte past the limit is enough to tell "too long" without reading it all.
  const std::size_t wanted = limit == std::numeric_limits<std::size_t>::max() ? limit : limit + 1;
  std::vector<std::uint8_t> bytes;
  if (sized && size.QuadPart > 0) {
    bytes.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(static_cast<std::uint64_t>(size.QuadPart), wanted)));
  }
  while (bytes.size() < wanted) {
    const std::size_t have = bytes.size();
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(kReadChunk, wanted - have));
    bytes.resize(have + chunk);
    DWORD n = 0;
    if (!::ReadFile(file.get(), bytes.data() + have, chunk, &n, nullptr)) {
      // A pipe whose writer closed ends like a file; anything else is a failed read.
      if (::GetLastError() != ERROR_BROKEN_PIPE) return result;
      n = 0;
    }
    bytes.resize(have + n);
    if (n == 0) break;
  }
  return JudgeRead(std::move(bytes), limit, keepPrefix, sized ? static_cast<std::uint64_t>(size.QuadPart) : 0);
}

bool WriteFileReplacing(const std::string& path, std::string_view contents) {
  const std::size_t slash = path.find_last_of("/\\:");
  const std::size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
  if (nameAt >= path.size()) return false;  // names a folder, not a file

  // Beside the target, so the rename stays within one volume; the process id
  // and a counter keep two saves from sharing a name.
  static volatile LONG counter = 0;
  const std::string temporary = path.substr(0, nameAt) + "~" + path.substr(nameAt) + "." +
                                std::to_string(::GetCurrentProcessId()) + "." +
                                std::to_string(::InterlockedIncrement(&counter)) + ".tmp";
  File file(::CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_HIDDEN, nullptr));
  if (!file.ok()) return false;

  const bool written = WriteAll(file.get(), contents.data(), contents.size()) && ::FlushFileBuffers(file.get());
  if (!file.Close() || !written) {
    ::DeleteFileA(temporary.c_str());
    return false;
  }
  // The replaced file's attributes are not carried over by the rename: clear
  // the temporary's hidden bit so the result is an ordinary file.
  ::SetFileAttributesA(temporary.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!::MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    ::DeleteFileA(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace qmx
