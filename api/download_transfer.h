// One download's transfer, run on a thread of its own so that the page's
// thread only hears of it: the request goes through a libsoup session made on
// that thread (or the entry is read from the content archive), and each piece
// is written to the target as it arrives. The page's thread is told of
// progress at most every kProgressPeriodMs, with the figures of that moment,
// and of the end.
#pragma once

#include <gio/gio.h>

#include <QByteArray>
#include <QString>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace ombrix {

// Progress reports are at least this far apart (the last one comes at the end).
constexpr qint64 kProgressPeriodMs = 50;

// Whether a progress report is due at now_ms: the first piece's is, and later
// ones once a period has passed since the last report.
class ProgressPacer {
 public:
  bool Due(qint64 now_ms);

 private:
  qint64 last_ms_ = -1;
};

struct DownloadSource {
  QByteArray url;        // http(s): the encoded address
  QString archive_path;  // client: the archive file and the entry's name
  QString entry;
  QByteArray user_agent;  // empty: libsoup's own
  bool from_archive = false;
};

class DownloadTransfer {
 public:
  // Called on the transfer's thread; each hands its work to the page's thread.
  struct Listener {
    // The bytes written so far and the body's length (-1: unknown).
    std::function<void(qint64 received, qint64 total)> progress;
    // ok: the body ended as announced and every byte was written; status is
    // the answer's (200, 404) or 0 when none came.
    std::function<void(bool ok, unsigned status)> finished;
  };

  // Takes fd, the open target; it is closed before finished is called.
  DownloadTransfer(DownloadSource source, int fd);
  ~DownloadTransfer();
  DownloadTransfer(const DownloadTransfer&) = delete;
  DownloadTransfer& operator=(const DownloadTransfer&) = delete;

  // Runs the whole transfer; blocks the calling thread until it ends.
  void Run(const Listener& listener);
  // From any thread: the transfer stops at its next step.
  void Cancel() { g_cancellable_cancel(cancellable_); }
  // From any thread: waits up to timeout_ms for the target to be closed.
  bool WaitClosed(int timeout_ms);

 private:
  bool RunHttp(unsigned* status);
  bool RunArchive(unsigned* status);
  // Writes a piece whole; false (and the transfer is stopped) when it cannot.
  bool WritePiece(const char* data, qint64 n);
  void Received(qint64 n);
  void Report();
  void CloseTarget();

  const DownloadSource source_;
  int fd_;
  GCancellable* const cancellable_;
  const Listener* listener_ = nullptr;
  ProgressPacer pacer_;
  qint64 received_ = 0;
  qint64 total_ = -1;    // unknown until the answer says
  qint64 reported_ = 0;  // received_ as last reported
  std::mutex closed_mutex_;
  std::condition_variable closed_changed_;
  bool closed_ = false;
};

}  // namespace ombrix
