// An archive entry streamed through a socket: a thread of its own reads the
// open entry piece by piece and sends it, so what a reader holds stays bounded
// whatever size the entry has, and the reader never waits on the archive.
#pragma once

#include <memory>

namespace ombrix {

class ContentArchive;

// Streams the rest of archive's open entry; the reading end of the socket
// (close-on-exec), or -1 when no stream can be made. The stream ends early
// when the entry's data is damaged, and the thread ends when the reader
// closes its end.
int StreamEntry(std::unique_ptr<ContentArchive> archive);

}  // namespace ombrix
