#include "api/download_transfer.h"

#include <libsoup/soup.h>
#include <unistd.h>

#include <QDebug>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <vector>

#include "scheme/content_archive.h"
#include "util/log_text.h"

namespace ombrix {
namespace {

// The body is read and written in pieces of at most this size.
constexpr gsize kPiece = 1024 * 1024;
// A server that sends nothing for this long fails the download.
constexpr guint kStallSeconds = 30;

qint64 NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The body's length, known only when it arrives as sent (not decoded); -1 otherwise.
qint64 AnnouncedLength(SoupMessage* message) {
  SoupMessageHeaders* headers = soup_message_get_response_headers(message);
  const char* coding = soup_message_headers_get_one(headers, "Content-Encoding");
  if (soup_message_headers_get_encoding(headers) == SOUP_ENCODING_CONTENT_LENGTH &&
      (!coding || !g_ascii_strcasecmp(coding, "identity"))) {
    return soup_message_headers_get_content_length(headers);
  }
  return -1;
}

}  // namespace

bool ProgressPacer::Due(qint64 now_ms) {
  if (last_ms_ >= 0 && now_ms - last_ms_ < kProgressPeriodMs) return false;
  last_ms_ = now_ms;
  return true;
}

DownloadTransfer::DownloadTransfer(DownloadSource source, int fd)
    : source_(std::move(source)), fd_(fd), cancellable_(g_cancellable_new()) {}

DownloadTransfer::~DownloadTransfer() {
  CloseTarget();
  g_object_unref(cancellable_);
}

void DownloadTransfer::Run(const Listener& listener) {
  listener_ = &listener;
  unsigned status = 0;
  const bool ok = source_.from_archive ? RunArchive(&status) : RunHttp(&status);
  // The page hears the exact last figures, whenever the last report was.
  if (received_ != reported_) Report();
  CloseTarget();
  listener.finished(ok, status);
  listener_ = nullptr;
}

bool DownloadTransfer::RunHttp(unsigned* status) {
  // A session of this thread's own: libsoup's sessions belong to the thread
  // that made them. No proxy resolver is set, so it asks GIO's default one,
  // as the engine's own requests do.
  using Session = std::unique_ptr<SoupSession, decltype(&g_object_unref)>;
  using Message = std::unique_ptr<SoupMessage, decltype(&g_object_unref)>;
  using Stream = std::unique_ptr<GInputStream, decltype(&g_object_unref)>;
  const Session session(
      soup_session_new_with_options(
          "timeout", kStallSeconds, "user-agent",
          source_.user_agent.isEmpty() ? nullptr : source_.user_agent.constData(), nullptr),
      g_object_unref);
  // Only HTTP is fetched; libsoup would take another scheme (file:, ftp:) for
  // a programming error and complain on standard error.
  const char* scheme = source_.url.isEmpty() ? nullptr : g_uri_peek_scheme(source_.url.constData());
  const bool http = scheme && (!std::strcmp(scheme, "http") || !std::strcmp(scheme, "https"));
  const Message message(http ? soup_message_new("GET", source_.url.constData()) : nullptr,
                        g_object_unref);
  if (!message) {
    qDebug() << "download: not a URL:" << LogText(QString::fromUtf8(source_.url));
    return false;
  }
  GError* error = nullptr;
  const Stream body(soup_session_send(session.get(), message.get(), cancellable_, &error),
                    g_object_unref);
  *status = unsigned(soup_message_get_status(message.get()));
  if (!body) {
    if (!g_cancellable_is_cancelled(cancellable_))
      qDebug() << "download failed:" << LogMessage(error->message);
    g_error_free(error);
    return false;
  }
  const qint64 expected = AnnouncedLength(message.get());
  total_ = expected;
  std::vector<char> piece(kPiece);
  for (;;) {
    const gssize n = g_input_stream_read(body.get(), piece.data(), kPiece, cancellable_, &error);
    if (n < 0) {
      if (!g_cancellable_is_cancelled(cancellable_))
        qDebug() << "download failed:" << LogMessage(error->message);
      g_error_free(error);
      return false;
    }
    if (n == 0) break;
    if (!WritePiece(piece.data(), n)) return false;
    Received(n);
  }
  // A server that closes before the length it announced has not sent the file.
  const bool whole = expected < 0 || received_ == expected;
  if (!whole) qDebug() << "download ended early:" << received_ << expected;
  return whole;
}

bool DownloadTransfer::RunArchive(unsigned* status) {
  ContentArchive archive;
  const qint64 size = archive.Open(source_.archive_path) ? archive.OpenEntry(source_.entry) : -1;
  if (size < 0) {
    qDebug() << "download: no such entry in the content archive";
    *status = SOUP_STATUS_NOT_FOUND;
    return true;  // an answer, as a server's 404 is
  }
  *status = SOUP_STATUS_OK;
  total_ = size;
  std::vector<char> piece(kPiece);
  for (qint64 n; (n = archive.ReadEntry(piece.data(), qint64(kPiece))) > 0;) {
    if (g_cancellable_is_cancelled(cancellable_) || !WritePiece(piece.data(), n)) return false;
    Received(n);
  }
  // A damaged entry (or a password that only seemed to fit) ends short or
  // fails its CRC: the download fails rather than keep it as whole.
  const bool whole = received_ == size && archive.EntryWhole();
  if (!whole) qDebug() << "download: the archive's entry is damaged";
  return whole;
}

bool DownloadTransfer::WritePiece(const char* data, qint64 n) {
  for (qint64 written = 0; written < n;) {
    const ssize_t done = write(fd_, data + written, size_t(n - written));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) {
      qDebug() << "download not written:" << strerror(done < 0 ? errno : ENOSPC);
      Cancel();
      return false;
    }
    written += done;
  }
  return true;
}

void DownloadTransfer::Received(qint64 n) {
  received_ += n;
  if (pacer_.Due(NowMs())) Report();
}

void DownloadTransfer::Report() {
  reported_ = received_;
  qDebug() << "total" << reported_ << total_;
  listener_->progress(reported_, total_);
}

void DownloadTransfer::CloseTarget() {
  std::lock_guard<std::mutex> lock(closed_mutex_);
  if (closed_) return;
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  closed_ = true;
  closed_changed_.notify_all();
}

bool DownloadTransfer::WaitClosed(int timeout_ms) {
  std::unique_lock<std::mutex> lock(closed_mutex_);
  return closed_changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                  [this] { return closed_; });
}

}  // namespace ombrix
