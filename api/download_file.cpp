#include "api/download_file.h"

#include <fcntl.h>
#include <gio/gunixinputstream.h>
#include <libsoup/soup.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <map>
#include <system_error>
#include <thread>

#include "scheme/content_archive.h"
#include "scheme/entry_stream.h"
#include "util/log_text.h"
#include "util/url_text.h"
#include "util/util_win.h"

namespace ombrix {
namespace {

const char kWrongArguments[] = "下载文件失败，请传入正确的参数";
// The body is read and written in pieces of at most this size.
constexpr gsize kPiece = 1024 * 1024;
// A server that sends nothing for this long fails the download.
constexpr guint kStallSeconds = 30;

// The engine's own identity, handed over by the shell; servers and CDNs that
// refuse anonymous clients see the browser they expect.
QByteArray& UserAgent() {
  static auto* user_agent = new QByteArray;
  return *user_agent;
}

SoupSession* Session() {
  // Several downloads from one server run side by side rather than queueing.
  // No proxy resolver is set, so the session asks GIO's default one, as the
  // engine's own requests do.
  static SoupSession* session = soup_session_new_with_options(
      "timeout", kStallSeconds, "max-conns", 64, "max-conns-per-host", 16, "user-agent",
      UserAgent().isEmpty() ? nullptr : UserAgent().constData(), nullptr);
  return session;
}

// client: addresses name entries of the content archive, served as the
// scheme serves them to pages.
bool IsClientUrl(const QString& url) {
  return url.startsWith(QLatin1String("client:"), Qt::CaseInsensitive);
}

// One download: the target file, the request and its progress. Every step runs
// on the page's thread, driven by the session's callbacks.
class DownloadFile : public CallbackWorker, public std::enable_shared_from_this<DownloadFile> {
 public:
  DownloadFile(std::shared_ptr<OmbrixCefExecuteCallbackHandler> handler, int uuid, QString url,
               QString path, ContextToken token)
      : CallbackWorker(std::move(handler), uuid),
        url_(std::move(url)),
        file_(path),
        token_(token),
        cancellable_(g_cancellable_new()),
        buffer_(kPiece, Qt::Uninitialized) {}
  ~DownloadFile() override {
    g_object_unref(cancellable_);
    if (message_) g_object_unref(message_);
    if (body_) g_object_unref(body_);
  }

  // Creates the target's folder, truncates the target and sends the request.
  void Start();
  // The page asked to stop: onabort follows, if the download still runs.
  void Abort();
  // The page went: stop without a word.
  void Cancel();

  ContextToken token() const { return token_; }
  bool succeeded() const { return succeeded_; }
  qint64 received() const { return received_; }
  qint64 total() const { return total_; }

 private:
  using Holder = std::shared_ptr<DownloadFile>;
  static void OnSent(GObject* source, GAsyncResult* result, gpointer data);
  static void OnRead(GObject* source, GAsyncResult* result, gpointer data);
  gpointer Hold() { return new Holder(shared_from_this()); }
  // Creates and locks the target, then empties it; false when it cannot be written.
  bool OpenTarget();
  void FailSoon();
  // An entry of the content archive, looked up on a thread of its own.
  void StartFromArchive();
  void OnEntryOpened(qint64 size, int stream_fd);
  void ReadNext();
  void Finish(bool ok);

  QString url_;
  QFile file_;
  ContextToken token_;
  GCancellable* cancellable_;
  SoupMessage* message_ = nullptr;
  GInputStream* body_ = nullptr;
  QByteArray buffer_;
  bool running_ = false;
  bool succeeded_ = false;
  guint archive_status_ = 0;  // a client: download's answer (200 or 404)
  qint64 received_ = 0;
  qint64 total_ = -1;  // unknown until the answer says
  qint64 expected_ = -1;
};

// This family's downloads by identifier: what abort looks up, and what a
// page's going cancels. Entries go when their download ends.
std::map<int, std::weak_ptr<DownloadFile>>& Downloads() {
  static auto* downloads = new std::map<int, std::weak_ptr<DownloadFile>>;
  return *downloads;
}

std::shared_ptr<DownloadFile> FindDownload(int uuid) {
  const auto it = Downloads().find(uuid);
  return it == Downloads().end() ? nullptr : it->second.lock();
}

void CancelDownloadsOf(ContextToken token) {
  std::map<int, std::weak_ptr<DownloadFile>>& downloads = Downloads();
  for (auto it = downloads.begin(); it != downloads.end();) {
    const std::shared_ptr<DownloadFile> download = it->second.lock();
    if (download && download->token() == token) download->Cancel();
    it = (!download || download->token() == token) ? downloads.erase(it) : std::next(it);
  }
}

void ListenForGonePages() {
  static bool listening = false;
  if (listening) return;
  listening = true;
  CallbackRegistry::Get().AddReleaseListener(CancelDownloadsOf);
}

bool DownloadFile::OpenTarget() {
  const QString path = file_.fileName();
  QDir().mkpath(QFileInfo(path).absolutePath());
  // Never waits: a pipe nobody reads fails rather than holding the page.
  const int fd = ::open(QFile::encodeName(path).constData(),
                        O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) {
    qDebug() << "download target cannot be made:" << LogText(path) << strerror(errno);
    return false;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  // A lock the kernel drops with the descriptor: two downloads (of any page, of
  // any web process) never write one file at once.
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  if (fcntl(fd, F_OFD_SETLK, &lock) != 0) {
    qDebug() << "download target is being written by another download:" << LogText(path);
    ::close(fd);
    return false;
  }
  struct stat info {};
  const bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  if ((regular && ftruncate(fd, 0) != 0) ||
      !file_.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
    qDebug() << "download target not writable:" << LogText(path);
    ::close(fd);
    return false;
  }
  return true;
}

void DownloadFile::Start() {
  qDebug() << "download to" << LogText(file_.fileName());
  running_ = true;
  // A target that cannot be written fails before anything is asked of a server.
  if (!OpenTarget()) return FailSoon();
  if (IsClientUrl(url_)) return StartFromArchive();
  // Encoded as the engine encodes an address: UTF-8, percent-encoded path and
  // query, an international host in its ASCII form.
  const QByteArray url = EncodedUrl(url_);
  message_ = url.isEmpty() ? nullptr : soup_message_new("GET", url.constData());
  if (!message_) {
    qDebug() << "download: not a URL:" << LogText(url_);
    return FailSoon();
  }
  soup_session_send_async(Session(), message_, G_PRIORITY_DEFAULT, cancellable_, OnSent, Hold());
}

void DownloadFile::FailSoon() {
  // Reported like any other error, after download has returned its id.
  PostToMainThread([self = shared_from_this()] { self->Finish(false); });
}

void DownloadFile::StartFromArchive() {
  const QString archive_path = GetFullPathInExecutionDirectory(ContentArchiveFileName());
  const QString name = EntryNameFromUrl(url_);
  const std::shared_ptr<DownloadFile> self = shared_from_this();
  try {
    std::thread([self, archive_path, name] {
      auto archive = std::make_unique<ContentArchive>();
      const qint64 size = archive->Open(archive_path) ? archive->OpenEntry(name) : -1;
      const int fd = size >= 0 ? StreamEntry(std::move(archive)) : -1;
      PostToMainThread([self, size, fd] { self->OnEntryOpened(size, fd); });
    }).detach();
  } catch (const std::system_error&) {
    FailSoon();
  }
}

void DownloadFile::OnEntryOpened(qint64 size, int stream_fd) {
  if (!running_) {
    if (stream_fd >= 0) close(stream_fd);
    return;
  }
  if (stream_fd < 0) {
    qDebug() << "download: no such entry in the content archive";
    archive_status_ = SOUP_STATUS_NOT_FOUND;
    return Finish(true);
  }
  archive_status_ = SOUP_STATUS_OK;
  body_ = g_unix_input_stream_new(stream_fd, TRUE);
  total_ = expected_ = size;
  ReadNext();
}

void DownloadFile::OnSent(GObject* source, GAsyncResult* result, gpointer data) {
  const std::unique_ptr<Holder> self(static_cast<Holder*>(data));
  GError* error = nullptr;
  GInputStream* body = soup_session_send_finish(SOUP_SESSION(source), result, &error);
  DownloadFile& download = **self;
  if (!body) {
    if (download.running_) qDebug() << "download failed:" << LogMessage(error->message);
    g_error_free(error);
    return download.Finish(false);
  }
  download.body_ = body;
  SoupMessageHeaders* headers = soup_message_get_response_headers(download.message_);
  // The body's length is known only when it arrives as sent (not decoded).
  const char* coding = soup_message_headers_get_one(headers, "Content-Encoding");
  if (soup_message_headers_get_encoding(headers) == SOUP_ENCODING_CONTENT_LENGTH &&
      (!coding || !g_ascii_strcasecmp(coding, "identity"))) {
    download.total_ = download.expected_ = soup_message_headers_get_content_length(headers);
  }
  download.ReadNext();
}

void DownloadFile::ReadNext() {
  g_input_stream_read_async(body_, buffer_.data(), kPiece, G_PRIORITY_DEFAULT, cancellable_, OnRead,
                            Hold());
}

void DownloadFile::OnRead(GObject* source, GAsyncResult* result, gpointer data) {
  const std::unique_ptr<Holder> self(static_cast<Holder*>(data));
  GError* error = nullptr;
  const gssize n = g_input_stream_read_finish(G_INPUT_STREAM(source), result, &error);
  DownloadFile& download = **self;
  if (n < 0) {
    if (download.running_) qDebug() << "download failed:" << LogMessage(error->message);
    g_error_free(error);
    return download.Finish(false);
  }
  if (n == 0) {
    // A server that closes before the length it announced has not sent the file.
    const bool whole = download.expected_ < 0 || download.received_ == download.expected_;
    if (!whole) qDebug() << "download ended early:" << download.received_ << download.expected_;
    return download.Finish(whole);
  }
  if (!download.running_) return;
  if (download.file_.isOpen() && download.file_.write(download.buffer_.constData(), n) != n) {
    qDebug() << "download not written:" << download.file_.errorString();
    g_cancellable_cancel(download.cancellable_);
    return download.Finish(false);
  }
  download.received_ += n;
  qDebug() << "total" << download.received_ << download.total_;
  PostCompletion(*self, QStringLiteral("downloadprocess"), self->get(), false);
  download.ReadNext();
}

void DownloadFile::Finish(bool ok) {
  if (!running_) return;  // aborted or cancelled: its callback is given already, or never
  running_ = false;
  Downloads().erase(uuid());
  // A target that could not be opened kept nothing: the download failed.
  const bool flushed = file_.isOpen() && file_.flush();
  file_.close();
  // An answer that is no success (404, 500) is an error, although its body is kept.
  const guint status = message_ ? guint(soup_message_get_status(message_)) : archive_status_;
  succeeded_ = ok && flushed && SOUP_STATUS_IS_SUCCESSFUL(status);
  if (ok && !SOUP_STATUS_IS_SUCCESSFUL(status)) qDebug() << "download answered" << status;
  PostCompletion(shared_from_this(), QStringLiteral("complete"), this, true);
}

void DownloadFile::Abort() {
  if (!running_) return;
  Cancel();
  Downloads().erase(uuid());
  PostCompletion(shared_from_this(), QStringLiteral("abort"), nullptr, true);
}

void DownloadFile::Cancel() {
  running_ = false;
  g_cancellable_cancel(cancellable_);
  file_.close();
}

bool Matches(const JsArgs& arguments) {
  if (arguments.size() != 6 || !arguments[0].IsString() || !arguments[1].IsString()) return false;
  for (size_t i = 2; i < 6; ++i) {
    if (!arguments[i].IsFunction()) return false;
  }
  return true;
}

}  // namespace

void SetDownloadUserAgent(const QString& user_agent) { UserAgent() = user_agent.toUtf8(); }

bool DownloadFileHanlder::Execute(const QString& name, const JsArgs& arguments, JsReturn* retval,
                                  QString* exception) {
  const int uuid = NextCallbackId();  // every call draws one
  if (name == QLatin1String("download")) return StartDownload(uuid, arguments, retval, exception);
  if (name == QLatin1String("abort") && arguments.size() == 1) {
    const int target = int(unsigned(arguments[0].GetIntValue()));
    if (const std::shared_ptr<DownloadFile> download = FindDownload(target)) download->Abort();
  }
  return false;
}

bool DownloadFileHanlder::StartDownload(int uuid, const JsArgs& arguments, JsReturn* retval,
                                        QString* exception) {
  if (!Matches(arguments)) {
    *exception = QString::fromUtf8(kWrongArguments);
    return true;
  }
  const CallContext* call = CurrentCall();
  auto download =
      std::make_shared<DownloadFile>(shared_from_this(), uuid, arguments[0].GetStringValue(),
                                     arguments[1].GetStringValue(), call ? call->token : 0);
  CallbackRegistry& registry = CallbackRegistry::Get();
  registry.RegisterCallback(arguments, uuid);
  registry.RegisterJSObject(uuid, download);
  ListenForGonePages();
  Downloads()[uuid] = download;
  download->Start();
  retval->Set(JsPlain::UInt(unsigned(uuid)));
  return true;
}

void DownloadFileHanlder::ExecuteCallback(const QString& name, int uuid, void* data, bool result) {
  CallbackRegistry& registry = CallbackRegistry::Get();
  if (!registry.FindCallback(uuid)) return;
  const auto* download = static_cast<const DownloadFile*>(data);
  if (name == QLatin1String("abort")) {
    qDebug() << "abort end";
    registry.Call(uuid, 4, {});
  } else if (name == QLatin1String("downloadprocess")) {
    registry.Call(uuid, 5,
                  {JsPlain::Double(double(download->received())),
                   JsPlain::Double(double(download->total()))});
    return;
  } else if (name == QLatin1String("complete")) {
    registry.Call(uuid, download->succeeded() ? 2 : 3, {});
  } else {
    return;
  }
  if (result) {
    registry.RemoveCallback(uuid);
    registry.RemoveJSObject(uuid);
  }
}

}  // namespace ombrix
