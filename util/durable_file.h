// Replacing a file so that a crash or a power cut leaves either its old
// content or its new content, never an empty or half-written file: the new
// content is written beside it, flushed to disk, renamed over it, and the
// folder is flushed too.
#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

namespace ombrix {

// What a replacement did.
enum class ReplaceResult {
  kReplaced,  // the new content is in place
  kFailed,    // nothing changed (the old content, if any, is intact)
  kInPlace,   // the caller writes the target in place: it is a FIFO, a device, a
              // kernel setting (/proc, /sys), or its folder refuses new files
};

// Hands fill a descriptor to write the new content to; fill returns false when
// it could not, and may be called again for an in-place write after a refused
// rename. A target its writer may not write is left alone (kFailed). Through a symbolic link, the
// link's target is replaced. An existing target keeps its permission bits (and owner, where
// allowed); a new one gets new_mode, or with -1 the usual bits for a new file.
ReplaceResult ReplaceFile(const QString& target, const std::function<bool(int fd)>& fill,
                          int new_mode = -1);

// Writes all of data to fd; false on any error.
bool WriteAll(int fd, const char* data, qint64 size);

}  // namespace ombrix
