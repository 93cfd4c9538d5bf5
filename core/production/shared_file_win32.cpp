#include <windows.h>

#include <algorithm>
#include <cstdint>

#include "core/production/shared_file.h"

namespace qmx::production {

namespace {

// The lock covers one byte far past any data: LockFileEx locks are enforced
// on reads and writes, and a log reader must never be refused.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

}  // namespace

struct SharedFile::Native {
  HANDLE h = INVALID_HANDLE_VALUE;
};

std::string LastSystemError() {
  const DWORD code = ::GetLastError();
  char text[256] = {};
  const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                   text, sizeof text, nullptr);
  std::string s(text, n);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == '.')) s.pop_back();
  return s.empty() ? "system error " + std::to_string(code) : s;
}

std::unique_ptr<SharedFile> SharedFile::Open(const std::string& path, std::string* error) {
  // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end.
  const HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ | FILE_APPEND_DATA,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    if (error) *error = LastSystemError();
    return nullptr;
  }
  if (::GetFileType(h) != FILE_TYPE_DISK) {
    if (error) *error = "not a regular file";
    ::CloseHandle(h);
    return nullptr;
  }
  auto native = std::make_unique<Native>();
  native->h = h;
  return std::unique_ptr<SharedFile>(new SharedFile(std::move(native)));
}

SharedFile::SharedFile(std::unique_ptr<Native> native) : native_(std::move(native)) {}

SharedFile::~SharedFile() { ::CloseHandle(native_->h); }

bool SharedFile::TryLock() {
  OVERLAPPED where{};
  where.OffsetHigh = kLockOffsetHigh;
  return ::LockFileEx(native_->h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where) != 0;
}

void SharedFile::Unlock() {
  OVERLAPPED where{};
  where.OffsetHigh = kLockOffsetHigh;
  (void)::UnlockFileEx(native_->h, 0, 1, 0, &where);
}

bool SharedFile::ReadTail(std::size_t most, std::string* tail) {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(native_->h, &size)) return false;
  const auto length = static_cast<DWORD>(std::min<std::uint64_t>(static_cast<std::uint64_t>(size.QuadPart), most));
  tail->assign(length, '\0');
  if (length == 0) return true;
  OVERLAPPED at{};
  const std::uint64_t from = static_cast<std::uint64_t>(size.QuadPart) - length;
  at.Offset = static_cast<DWORD>(from & 0xFFFFFFFF);
  at.OffsetHigh = static_cast<DWORD>(from >> 32);
  DWORD n = 0;
  return ::ReadFile(native_->h, tail->data(), length, &n, &at) && n == length;
}

bool SharedFile::Append(std::string_view text) {
  DWORD written = 0;
  if (!::WriteFile(native_->h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
      written != text.size())
    return false;
  return ::FlushFileBuffers(native_->h) != 0;
}

}  // namespace qmx::production
