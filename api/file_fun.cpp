#include "api/file_fun.h"

#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <system_error>
#include <thread>

#include "util/durable_file.h"
#include "util/log_text.h"
#include "util/path_order.h"
#include "util/shell.h"
#include "util/util_win.h"

namespace ombrix {
namespace {

const char kWrongArguments[] = "错误的参数，参数列表：filepath,callback";

// One asynchronous file operation.
class FileFun : public CallbackWorker {
 public:
  FileFun(std::shared_ptr<OmbrixCefExecuteCallbackHandler> handler, int uuid, QString name,
          QString first, QString second, QString third)
      : CallbackWorker(std::move(handler), uuid),
        name_(std::move(name)),
        first_(std::move(first)),
        second_(std::move(second)),
        third_(std::move(third)) {}

  bool Run() const {
    if (name_ == QLatin1String("copy")) return file_ops::Copy(first_, second_);
    if (name_ == QLatin1String("delete")) return file_ops::Delete(first_);
    if (name_ == QLatin1String("write")) return file_ops::Write(first_, third_);
    return false;
  }
  const QString& name() const { return name_; }

 private:
  QString name_;
  QString first_;   // copy: source; delete, write: the file
  QString second_;  // copy: target
  QString third_;   // write: the text
};

// The argument kinds each asynchronous function takes; 's' string, 'f' function.
const char* Signature(const QString& name) {
  if (name == QLatin1String("copy")) return "ssf";
  if (name == QLatin1String("delete")) return "sf";
  if (name == QLatin1String("write")) return "ssf";
  return nullptr;
}

bool Matches(const JsArgs& arguments, const char* signature) {
  for (size_t i = 0; signature[i]; ++i) {
    if (i >= arguments.size()) return false;
    const JsValue& value = arguments[i];
    if (signature[i] == 's' && !value.IsString()) return false;
    if (signature[i] == 'f' && !value.IsFunction()) return false;
  }
  return true;
}

}  // namespace

namespace file_ops {

namespace {

// Copies source from its start to fd in pieces; false on a read or write error.
bool CopyTo(QFile& source, int fd) {
  if (!source.seek(0)) return false;
  QByteArray piece(1 << 20, Qt::Uninitialized);
  for (;;) {
    const qint64 n = source.read(piece.data(), piece.size());
    if (n < 0) return false;
    if (n == 0) return true;
    if (!WriteAll(fd, piece.constData(), n)) return false;
  }
}

// Writes into a target that cannot be replaced (a FIFO, a device, a kernel
// setting) as it is.
bool FillInPlace(const QString& target, const std::function<bool(int fd)>& fill) {
  QFile file(target);
  if (!file.open(QIODevice::WriteOnly)) return false;
  return fill(file.handle());
}

// Replaces target with what fill writes, durably; a target that cannot be
// replaced is written in place.
bool Replace(const QString& target, const std::function<bool(int fd)>& fill, int new_mode = -1) {
  switch (ReplaceFile(target, fill, new_mode)) {
    case ReplaceResult::kReplaced:
      return true;
    case ReplaceResult::kInPlace:
      return FillInPlace(target, fill);
    case ReplaceResult::kFailed:
      break;
  }
  return false;
}

}  // namespace

bool Copy(const QString& source, const QString& target) {
  if (!IsFilePath(source) || !IsFilePath(target)) return false;
  const QFileInfo target_info(target);
  QDir().mkpath(target_info.absolutePath());
  const QFileInfo source_info(source);
  if (!source_info.isFile() || !source_info.isReadable()) return false;
  if (source_info.canonicalFilePath() == QFileInfo(target_info).canonicalFilePath()) return true;
  QFile input(source);
  if (!input.open(QIODevice::ReadOnly)) return false;
  // A new target takes the source's permission bits, as a copy does.
  struct stat source_stat;
  const int new_mode =
      ::fstat(input.handle(), &source_stat) == 0 ? int(source_stat.st_mode & 0777) : -1;
  return Replace(
      target, [&input](int fd) { return CopyTo(input, fd); }, new_mode);
}

bool Exists(const QString& path) {
  // access() rather than QFile::exists: this answers a synchronous page call.
  return IsFilePath(path) && ::access(QFile::encodeName(path).constData(), F_OK) == 0;
}

bool Delete(const QString& path) { return IsFilePath(path) && QFile::remove(path); }

QByteArray WriteBytes(const QString& text) {
  QByteArray bytes = text.toUtf8();
  bytes.append('\n');
  bytes.replace("\n", "\r\n");
  return bytes;
}

bool Write(const QString& path, const QString& text) {
  if (!IsFilePath(path)) return false;
  qDebug() << "write" << ombrix::LogText(text);
  const QByteArray bytes = WriteBytes(text);
  return Replace(path, [&bytes](int fd) { return WriteAll(fd, bytes.constData(), bytes.size()); });
}

}  // namespace file_ops

FileFunHandler::~FileFunHandler() { WriteStdoutLine("~FileFunHandler"); }

bool FileFunHandler::Execute(const QString& name, const JsArgs& arguments, JsReturn* retval,
                             QString* exception) {
  if (Signature(name)) return StartOperation(name, arguments, retval, exception);
  const bool path_given = !arguments.empty() && arguments[0].IsString();
  if (name == QLatin1String("exist")) {
    if (!path_given) return false;
    const QString path = arguments[0].GetStringValue();
    retval->Set(JsPlain::Bool(file_ops::Exists(path)));
    return true;
  }
  if (name == QLatin1String("OpenDirAndPosFile")) {
    if (!path_given) return false;
    retval->Set(JsPlain::Bool(OpenFolderAndSelect(arguments[0].GetStringValue())));
    return true;
  }
  return false;
}

bool FileFunHandler::StartOperation(const QString& name, const JsArgs& arguments, JsReturn* retval,
                                    QString* exception) {
  if (!Matches(arguments, Signature(name))) {
    *exception = QString::fromUtf8(kWrongArguments);
    return true;
  }
  const int uuid = NextCallbackId();
  const bool is_copy = name == QLatin1String("copy");
  const bool is_write = name == QLatin1String("write");
  auto worker =
      std::make_shared<FileFun>(shared_from_this(), uuid, name, arguments[0].GetStringValue(),
                                is_copy ? arguments[1].GetStringValue() : QString(),
                                is_write ? arguments[1].GetStringValue() : QString());
  CallbackRegistry& registry = CallbackRegistry::Get();
  registry.RegisterCallback(arguments, uuid);
  registry.RegisterJSObject(uuid, worker);
  // Its place among the operations on the same files is taken now, in call order.
  QStringList paths{arguments[0].GetStringValue()};
  if (is_copy) paths << arguments[1].GetStringValue();
  auto turn = std::make_shared<PathTurn>(paths);
  if (!StartWorkerThread(uuid, "file", [worker, turn]() mutable {
        turn->Wait();
        const bool result = worker->Run();
        turn.reset();  // the next operation on these files may go
        PostCompletion(worker, worker->name(), nullptr, result);
      })) {
    return true;  // no thread, no result: undefined
  }
  retval->Set(JsPlain::UInt(unsigned(uuid)));
  return true;
}

void FileFunHandler::ExecuteCallback(const QString& name, int uuid, void*, bool result) {
  CallbackRegistry& registry = CallbackRegistry::Get();
  const size_t callback_index = name == QLatin1String("delete") ? 1 : 2;
  registry.Call(uuid, callback_index, {JsPlain::Bool(result)});
  registry.RemoveCallback(uuid);
  registry.RemoveJSObject(uuid);
}

}  // namespace ombrix
