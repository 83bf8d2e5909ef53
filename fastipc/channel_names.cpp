#include "channel_names.h"

#include <stdexcept>

#include "fastipc/fastipc.h"
#include "fastipc/qx.h"

namespace fastipc {

namespace {
// Semaphores live in /dev/shm as "sem." + name without the slash, and a file
// name holds at most 255 bytes.
constexpr size_t kMaxNameBytes = 255 - 4;
}  // namespace

std::wstring genServerName() { return qx::GenerateGuidW(); }
std::wstring genServerName(std::wstring name) { return name + L"_c"; }
std::wstring genWritedEventName(std::wstring name) { return name + L"_w"; }
std::wstring genReadedEventName(std::wstring name) { return name + L"_r"; }
std::wstring genMappingFileName(std::wstring name) { return name + L"_m"; }

bool posixObjectName(const std::wstring& object_name, std::string* out) {
  std::string utf8;
  try {
    utf8 = qx::w2s(object_name);
  } catch (const std::range_error&) {
    return false;
  }
  if (utf8.empty() || utf8.size() > kMaxNameBytes) return false;
  if (utf8.find('/') != std::string::npos || utf8.find('\0') != std::string::npos) return false;
  *out = "/" + utf8;
  return true;
}

}  // namespace fastipc
