// POSIX object names of a channel.
#ifndef FASTIPC_CHANNEL_NAMES_H_
#define FASTIPC_CHANNEL_NAMES_H_

#include <string>

namespace fastipc {

// "/" + UTF-8 of `object_name` (already suffixed, e.g. "N_w"). Returns false
// when the text cannot name a POSIX semaphore and shared memory object: not
// convertible, containing "/" or a zero character, or too long.
bool posixObjectName(const std::wstring& object_name, std::string* out);

}  // namespace fastipc

#endif  // FASTIPC_CHANNEL_NAMES_H_
