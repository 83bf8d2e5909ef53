#include "api/app_fun.h"

#include "app/manifest_util.h"
#include "renderer/page_messages.h"
#include "util/util_win.h"

namespace ombrix {
namespace {

bool AllStrings(const JsArgs& arguments, int count) {
  if (int(arguments.size()) != count) return false;
  for (const JsValue& value : arguments) {
    if (!value.IsString()) return false;
  }
  return true;
}

}  // namespace

AppFunHandler::AppFunHandler(std::uint64_t page_id) : page_id_(page_id) {}

AppFunHandler::~AppFunHandler() = default;

bool AppFunHandler::Send(const QString& name, const JsArgs& arguments, int string_count,
                         JsReturn* retval) {
  if (string_count > 0 && !AllStrings(arguments, string_count)) {
    retval->Set(JsPlain::Bool(false));
    return true;
  }
  ProcessMessage message;
  message.name = name;
  for (int i = 0; i < string_count; ++i) {
    message.args.push_back(MessageArg::String(arguments[size_t(i)].GetStringValue()));
  }
  if (!SendToBrowser(page_id_, message)) retval->Set(JsPlain::Bool(true));
  return true;
}

bool AppFunHandler::ExitApp() {
  ProcessMessage message;
  message.name = QStringLiteral("exitapp");
  SendToBrowser(page_id_, message);
  return true;
}

bool AppFunHandler::Execute(const QString& name, const JsArgs& arguments, JsReturn* retval,
                            QString*) {
  if (name == QLatin1String("exitapp")) return ExitApp();
  if (name == QLatin1String("apppath")) {
    retval->Set(JsPlain::String(GetFullPathInExecutionDirectory(QString())));
    return true;
  }
  if (name == QLatin1String("runparam")) {
    retval->Set(
        JsPlain::String(ManifestUtil::Instance(QStringLiteral("manifest.json")).command_line_));
    return true;
  }
  if (name == QLatin1String("getappname")) {
    retval->Set(JsPlain::String(GetAppName()));
    return true;
  }
  if (name == QLatin1String("modifytrayicon")) return Send(name, arguments, 1, retval);
  if (name == QLatin1String("showtray")) return Send(name, arguments, 3, retval);
  if (name == QLatin1String("hidetray")) return Send(name, {}, 0, retval);
  return false;
}

void AppFunHandler::ExecuteCallback(const QString&, int, void*, bool) {}

}  // namespace ombrix
