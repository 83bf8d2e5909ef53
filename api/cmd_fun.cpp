#include "api/cmd_fun.h"

#include <QDebug>
#include <algorithm>
#include <system_error>
#include <thread>

#include "util/shell.h"
#include "util/util_win.h"

namespace ombrix {
namespace {

const char kRunCmdArguments[] = "错误的参数，参数列表：filepath,callback";
const char kRunCmdWaitArguments[] = "错误的参数，参数列表：cmd,waittime,callback";
const char kExeCmdArguments[] = "错误的参数，参数列表：filepath";
constexpr size_t kCallbackIndex = 2;

// One command run for a page: started, waited for, its outcome kept for delivery.
class CmdFun : public CallbackWorker {
 public:
  CmdFun(std::shared_ptr<OmbrixCefExecuteCallbackHandler> handler, int uuid, QString name,
         QString command_line, QString working_directory, int wait_ms)
      : CallbackWorker(std::move(handler), uuid),
        name_(std::move(name)),
        command_line_(std::move(command_line)),
        working_directory_(std::move(working_directory)),
        wait_ms_(std::max(wait_ms, 0)) {}

  // False when the page went away before the command ended: nothing to deliver.
  bool Run() {
    const int id = uuid();
    // The wait is given up once the page (and with it the worker's entry) is gone.
    const KeepWaiting page_waits = [id] {
      return CallbackRegistry::Get().GetJSObject(id) != nullptr;
    };
    if (name_ == QLatin1String("runcmd")) {
      success_ = RunAndWait(command_line_, working_directory_, &exit_code_, page_waits);
    } else {
      success_ = RunAndWaitWithChild(command_line_, wait_ms_, &exit_code_, page_waits);
    }
    return success_ || page_waits();
  }
  const QString& name() const { return name_; }
  bool success() const { return success_; }
  int exit_code() const { return exit_code_; }

 private:
  QString name_;
  QString command_line_;
  QString working_directory_;  // runcmd
  int wait_ms_;                // runcmdwaitex
  bool success_ = false;
  int exit_code_ = 0;
};

bool IsRunCmdCall(const QString& name, const JsArgs& arguments) {
  if (arguments.size() < 3 || !arguments[0].IsString() || !arguments[2].IsFunction()) {
    return false;
  }
  return name == QLatin1String("runcmd") ? arguments[1].IsString() : arguments[1].IsNumber();
}

}  // namespace

CmdFunHandler::~CmdFunHandler() { WriteStdoutLine("~CmdFunHandler"); }

bool CmdFunHandler::Execute(const QString& name, const JsArgs& arguments, JsReturn* retval,
                            QString* exception) {
  if (name == QLatin1String("runcmd") || name == QLatin1String("runcmdwaitex")) {
    return StartCommand(name, arguments, retval, exception);
  }
  if (name == QLatin1String("execmd")) {
    if (arguments.empty() || !arguments[0].IsString()) {
      *exception = QString::fromUtf8(kExeCmdArguments);
      return true;
    }
    retval->Set(JsPlain::UInt(unsigned(ExeCmd(arguments[0].GetStringValue()))));
    return true;
  }
  return false;
}

bool CmdFunHandler::StartCommand(const QString& name, const JsArgs& arguments, JsReturn* retval,
                                 QString* exception) {
  const bool is_runcmd = name == QLatin1String("runcmd");
  if (!IsRunCmdCall(name, arguments)) {
    *exception = QString::fromUtf8(is_runcmd ? kRunCmdArguments : kRunCmdWaitArguments);
    return true;
  }
  const int uuid = NextCallbackId();
  auto worker =
      std::make_shared<CmdFun>(shared_from_this(), uuid, name, arguments[0].GetStringValue(),
                               is_runcmd ? arguments[1].GetStringValue() : QString(),
                               is_runcmd ? 0 : arguments[1].GetIntValue());
  CallbackRegistry& registry = CallbackRegistry::Get();
  registry.RegisterCallback(arguments, uuid);
  registry.RegisterJSObject(uuid, worker);
  if (!StartWorkerThread(uuid, "command", [worker] {
        if (worker->Run()) PostCompletion(worker, worker->name(), worker.get(), worker->success());
      })) {
    return true;  // no thread, no result: undefined
  }
  retval->Set(JsPlain::UInt(unsigned(uuid)));
  return true;
}

void CmdFunHandler::ExecuteCallback(const QString&, int uuid, void* data, bool result) {
  CallbackRegistry& registry = CallbackRegistry::Get();
  const int exit_code = static_cast<CmdFun*>(data)->exit_code();
  registry.Call(uuid, kCallbackIndex, {JsPlain::Bool(result), JsPlain::Int(exit_code)});
  registry.RemoveCallback(uuid);
  registry.RemoveJSObject(uuid);
}

}  // namespace ombrix
