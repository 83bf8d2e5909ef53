#include "api/download_file.h"

#include <fcntl.h>
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

#include "api/download_transfer.h"
#include "scheme/content_archive.h"
#include "util/log_text.h"
#include "util/url_text.h"
#include "util/util_win.h"

namespace ombrix {
namespace {

const char kWrongArguments[] = "下载文件失败，请传入正确的参数";
// How long a stopped download may take to let go of its target, so that a
// page that starts it again at once finds the target free.
constexpr int kCloseWaitMs = 1000;

// The engine's own identity, handed over by the shell; servers and CDNs that
// refuse anonymous clients see the browser they expect.
QByteArray& UserAgent() {
  static auto* user_agent = new QByteArray;
  return *user_agent;
}

// client: addresses name entries of the content archive, served as the
// scheme serves them to pages.
bool IsClientUrl(const QString& url) {
  return url.startsWith(QLatin1String("client:"), Qt::CaseInsensitive);
}

// One download as the page sees it: its callbacks, abort and the page's going.
// The transfer itself runs on a thread of its own (DownloadTransfer), which
// reports here, on the page's thread.
class DownloadFile : public CallbackWorker, public std::enable_shared_from_this<DownloadFile> {
 public:
  DownloadFile(std::shared_ptr<OmbrixCefExecuteCallbackHandler> handler, int uuid, QString url,
               QString path, ContextToken token)
      : CallbackWorker(std::move(handler), uuid),
        url_(std::move(url)),
        path_(std::move(path)),
        token_(token) {}

  // Creates the target's folder, truncates the target and starts the transfer.
  void Start();
  // The page asked to stop: onabort follows, if the download still runs.
  void Abort();
  // The page went: stop without a word.
  void Cancel();

  ContextToken token() const { return token_; }
  bool succeeded() const { return succeeded_; }
  // The figures of the progress report being handed to the page.
  qint64 received() const { return received_; }
  qint64 total() const { return total_; }

 private:
  // Creates and locks the target, then empties it; -1 when it cannot be written.
  int OpenTarget();
  DownloadSource Source() const;
  bool StartThread();
  void FailSoon();
  void Progress(qint64 received, qint64 total);
  void Finish(bool ok, unsigned status);

  QString url_;
  QString path_;
  ContextToken token_;
  std::shared_ptr<DownloadTransfer> transfer_;
  bool running_ = false;
  bool succeeded_ = false;
  qint64 received_ = 0;
  qint64 total_ = -1;
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

int DownloadFile::OpenTarget() {
  QDir().mkpath(QFileInfo(path_).absolutePath());
  // Never waits: a pipe nobody reads fails rather than holding the page.
  const int fd = ::open(QFile::encodeName(path_).constData(),
                        O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) {
    qDebug() << "download target cannot be made:" << LogText(path_) << strerror(errno);
    return -1;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  // A lock the kernel drops with the descriptor: two downloads (of any page, of
  // any web process) never write one file at once.
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  if (fcntl(fd, F_OFD_SETLK, &lock) != 0) {
    qDebug() << "download target is being written by another download:" << LogText(path_);
    ::close(fd);
    return -1;
  }
  struct stat info {};
  const bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  if (regular && ftruncate(fd, 0) != 0) {
    qDebug() << "download target not writable:" << LogText(path_);
    ::close(fd);
    return -1;
  }
  return fd;
}

DownloadSource DownloadFile::Source() const {
  DownloadSource source;
  if (IsClientUrl(url_)) {
    source.from_archive = true;
    source.archive_path = GetFullPathInExecutionDirectory(ContentArchiveFileName());
    source.entry = EntryNameFromUrl(url_);
  } else {
    // Encoded as the engine encodes an address: UTF-8, percent-encoded path and
    // query, an international host in its ASCII form.
    source.url = EncodedUrl(url_);
    source.user_agent = UserAgent();
  }
  return source;
}

void DownloadFile::Start() {
  qDebug() << "download to" << LogText(path_);
  running_ = true;
  // A target that cannot be written fails before anything is asked of a server.
  const int fd = OpenTarget();
  if (fd < 0) return FailSoon();
  transfer_ = std::make_shared<DownloadTransfer>(Source(), fd);
  if (!StartThread()) FailSoon();
}

// The thread's last hold on this download goes back to the page's thread with
// its end, so the download is never destroyed on the transfer's thread.
bool DownloadFile::StartThread() {
  try {
    std::thread([owner = shared_from_this(), transfer = transfer_]() mutable {
      DownloadTransfer::Listener listener;
      listener.progress = [&owner](qint64 received, qint64 total) {
        PostToMainThread([owner, received, total] { owner->Progress(received, total); });
      };
      listener.finished = [&owner](bool ok, unsigned status) {
        PostToMainThread([owner = std::move(owner), ok, status] { owner->Finish(ok, status); });
      };
      transfer->Run(listener);
    }).detach();
  } catch (const std::system_error&) {
    qDebug() << "download: no thread for the transfer";
    return false;
  }
  return true;
}

void DownloadFile::FailSoon() {
  // Reported like any other error, after download has returned its id.
  PostToMainThread([self = shared_from_this()] { self->Finish(false, 0); });
}

void DownloadFile::Progress(qint64 received, qint64 total) {
  if (!running_) return;
  received_ = received;
  total_ = total;
  if (handler()) handler()->ExecuteCallback(QStringLiteral("downloadprocess"), uuid(), this, false);
}

void DownloadFile::Finish(bool ok, unsigned status) {
  if (!running_) return;  // aborted or cancelled: its callback is given already, or never
  running_ = false;
  Downloads().erase(uuid());
  // An answer that is no success (404, 500) is an error, although its body is kept.
  succeeded_ = ok && SOUP_STATUS_IS_SUCCESSFUL(status);
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
  if (!transfer_) return;
  transfer_->Cancel();
  if (!transfer_->WaitClosed(kCloseWaitMs)) qDebug() << "download: the target is still held";
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
