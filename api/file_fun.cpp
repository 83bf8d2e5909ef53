#include "api/file_fun.h"

#include <stdio.h>
#include <unistd.h>

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <system_error>
#include <thread>

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

bool Copy(const QString& source, const QString& target) {
  if (!IsFilePath(source) || !IsFilePath(target)) return false;
  const QFileInfo target_info(target);
  QDir().mkpath(target_info.absolutePath());
  const QFileInfo source_info(source);
  if (!source_info.isFile() || !source_info.isReadable()) return false;
  if (source_info.absoluteFilePath() == target_info.absoluteFilePath()) return true;
  // Copy beside the target, then put it in place in one step.
  // A name of its own, so that two copies onto one target do not collide.
  static std::atomic<unsigned> copies{0};
  const QString partial = target_info.absolutePath() + QStringLiteral("/.") +
                          target_info.fileName() +
                          QStringLiteral(".%1-%2.ombrix-copy").arg(getpid()).arg(++copies);
  QFile::remove(partial);
  if (!QFile::copy(source, partial)) return false;
  if (::rename(QFile::encodeName(partial).constData(),
               QFile::encodeName(target_info.absoluteFilePath()).constData()) != 0) {
    QFile::remove(partial);
    return false;
  }
  return true;
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
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  qDebug() << "write" << text.left(200);
  const QByteArray bytes = WriteBytes(text);
  const bool written = file.write(bytes) == bytes.size() && file.flush();
  file.close();
  return written && file.error() == QFileDevice::NoError;
}

}  // namespace file_ops

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
  if (!StartWorkerThread(uuid, "file", [worker] {
        const bool result = worker->Run();
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
