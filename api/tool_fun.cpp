#include "api/tool_fun.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDebug>
#include <QFile>
#include <system_error>
#include <thread>

#include "renderer/page_messages.h"
#include "util/util_win.h"

namespace ombrix {
namespace {

const char kArgumentsPrefix[] = "错误的参数，参数列表：";
constexpr qint64 kHashPiece = 1 << 20;

QString WrongArguments(const char* list) {
  return QString::fromUtf8(kArgumentsPrefix) + QString::fromUtf8(list);
}

// A descriptor of the regular file at path, or -1: opening a pipe or a device
// may block, and reading one may never end.
int OpenRegularFile(const QString& path) {
  if (!IsFilePath(path)) return -1;
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat info {};
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) return fd;
  ::close(fd);
  return -1;
}

// The file's digest; "" for anything but a regular file, a read error, or
// when keep_going says stop (checked between pieces).
QString Md5FileWhile(const QString& path, const KeepWaiting& keep_going) {
  const int fd = OpenRegularFile(path);
  if (fd < 0) return QString();
  QFile file;
  if (!file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
    ::close(fd);
    return QString();
  }
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  QCryptographicHash hash(QCryptographicHash::Md5);
  QByteArray piece(int(kHashPiece), Qt::Uninitialized);
  qint64 length = 0;
  while ((length = file.read(piece.data(), kHashPiece)) > 0) {
    if (keep_going && !keep_going()) return QString();
    hash.addData(QByteArray::fromRawData(piece.constData(), int(length)));
  }
  if (length < 0) return QString();  // a read error: no digest of part of the file
  return QString::fromLatin1(hash.result().toHex());
}

// One hashing or program-list job for a page.
class ToolFun : public CallbackWorker {
 public:
  ToolFun(std::shared_ptr<OmbrixCefExecuteCallbackHandler> handler, int uuid, QString name,
          QString argument)
      : CallbackWorker(std::move(handler), uuid),
        name_(std::move(name)),
        argument_(std::move(argument)) {}
  ~ToolFun() override { qDebug() << "ToolFun is release33333333"; }

  void Run() {
    if (name_ == QLatin1String("md5file")) {
      const int id = uuid();
      // Stops between pieces once the page (and with it the job's entry) is gone.
      result_ = Md5FileWhile(argument_,
                             [id] { return CallbackRegistry::Get().GetJSObject(id) != nullptr; });
    } else if (name_ == QLatin1String("getsetupapp")) {
      result_ = ListUninstallEntries();
    } else {
      result_ = FindUninstallEntries(argument_);
    }
  }
  const QString& name() const { return name_; }
  const QString& result() const { return result_; }

 private:
  QString name_;
  QString argument_;  // md5file: the file; findsetupapp: the name part
  QString result_;
};

bool IsJob(const QString& name) {
  return name == QLatin1String("md5file") || name == QLatin1String("getsetupapp") ||
         name == QLatin1String("findsetupapp");
}

// Where the job's callback is: getsetupapp takes it first, the others second.
size_t CallbackIndex(const QString& name) { return name == QLatin1String("getsetupapp") ? 0 : 1; }

bool IsJobCall(const QString& name, const JsArgs& arguments) {
  const size_t callback = CallbackIndex(name);
  if (arguments.size() <= callback || !arguments[callback].IsFunction()) return false;
  return callback == 0 || arguments[0].IsString();
}

bool AreStrings(const JsArgs& arguments, size_t count) {
  if (arguments.size() != count) return false;
  for (const JsValue& value : arguments) {
    if (!value.IsString()) return false;
  }
  return true;
}

}  // namespace

namespace tool_ops {

QString Md5File(const QString& path) { return Md5FileWhile(path, {}); }

}  // namespace tool_ops

ToolFunHandler::~ToolFunHandler() { WriteStdoutLine("~ToolFunHandler"); }

bool ToolFunHandler::Execute(const QString& name, const JsArgs& arguments, JsReturn* retval,
                             QString* exception) {
  if (IsJob(name)) return StartJob(name, arguments, retval, exception);
  if (name == QLatin1String("getregval")) {
    if (arguments.empty() || !arguments[0].IsString()) {
      *exception = WrongArguments("reg key");
      return true;
    }
    retval->Set(JsPlain::String(GetRegValue(arguments[0].GetStringValue())));
    return true;
  }
  if (name == QLatin1String("setregval")) {
    if (!AreStrings(arguments, 3)) {
      *exception = WrongArguments("fullpath key value");
      return true;
    }
    retval->Set(
        JsPlain::Bool(SetRegValue(arguments[0].GetStringValue(), arguments[1].GetStringValue(),
                                  arguments[2].GetStringValue())));
    return true;
  }
  if (name == QLatin1String("removeregval")) {
    if (!AreStrings(arguments, 2)) {
      *exception = WrongArguments("fullpath key");
      return true;
    }
    retval->Set(JsPlain::Bool(
        RemoveRegValue(arguments[0].GetStringValue(), arguments[1].GetStringValue())));
    return true;
  }
  if (name == QLatin1String("setclip")) return SetClip(arguments, retval);
  return false;
}

// The shell owns the clipboard (this page's process may end with the page), so
// both forms go there; true once the shell has been handed them.
bool ToolFunHandler::SetClip(const JsArgs& arguments, JsReturn* retval) const {
  if (arguments.empty() || !arguments[0].IsString()) return false;
  const QString html = arguments[0].GetStringValue();
  const QString text =
      arguments.size() > 1 && arguments[1].IsString() ? arguments[1].GetStringValue() : QString();
  const bool fits = !BuildHtmlClipboardBlock(html.toUtf8()).isEmpty();
  const ProcessMessage message{QStringLiteral("setclip"),
                               {MessageArg::String(html), MessageArg::String(text)}};
  retval->Set(JsPlain::Bool(fits && SendToBrowser(page_id_, message)));
  return true;
}

bool ToolFunHandler::StartJob(const QString& name, const JsArgs& arguments, JsReturn* retval,
                              QString* exception) {
  if (!IsJobCall(name, arguments)) {
    *exception =
        WrongArguments(name == QLatin1String("md5file") ? "filepath,callback" : "callback");
    return true;
  }
  const int uuid = NextCallbackId();
  const QString argument =
      name == QLatin1String("getsetupapp") ? QString() : arguments[0].GetStringValue();
  auto worker = std::make_shared<ToolFun>(shared_from_this(), uuid, name, argument);
  CallbackRegistry& registry = CallbackRegistry::Get();
  registry.RegisterCallback(arguments, uuid);
  registry.RegisterJSObject(uuid, worker);
  if (!StartWorkerThread(uuid, "tool", [worker] {
        worker->Run();
        PostCompletion(worker, worker->name(), worker.get(), true);
      })) {
    return true;  // no thread, no result: undefined
  }
  retval->Set(JsPlain::UInt(unsigned(uuid)));
  return true;
}

void ToolFunHandler::ExecuteCallback(const QString& name, int uuid, void* data, bool) {
  CallbackRegistry& registry = CallbackRegistry::Get();
  const QString& result = static_cast<ToolFun*>(data)->result();
  registry.Call(uuid, CallbackIndex(name), {JsPlain::String(result)});
  registry.RemoveCallback(uuid);
  registry.RemoveJSObject(uuid);
}

}  // namespace ombrix
