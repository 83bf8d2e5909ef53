#include "api/ombrix_fun.h"

#include <algorithm>
#include <cstdio>

#include "renderer/page_messages.h"

namespace ombrix {
namespace {

JsValue Arg(const JsArgs& arguments, size_t index) {
  return index < arguments.size() ? arguments[index] : JsValue();
}

QStringList CaptionRegions(const JsValue& list) {
  QStringList regions;
  // A page's array may claim any length; more regions than this make no caption.
  constexpr int kMostRegions = 1024;
  const int count = std::min(list.GetArrayLength(), kMostRegions);
  for (int i = 0; i < count; ++i) {
    const JsValue rect = list.GetArrayValue(i);
    regions << CaptionRegionText(
        rect.GetValue("left").GetIntValue(), rect.GetValue("top").GetIntValue(),
        rect.GetValue("width").GetIntValue(), rect.GetValue("height").GetIntValue());
  }
  return regions;
}

}  // namespace

QString CaptionRegionText(int left, int top, int width, int height) {
  return QStringLiteral("%1,%2,%3,%4").arg(left).arg(top).arg(width).arg(height);
}

ProcessMessage OmbrixFunHandler::BuildMessage(const QString& name, const JsArgs& arguments) {
  ProcessMessage message;
  if (name == QLatin1String("resizeTo")) {
    message.args = {MessageArg::Int(Arg(arguments, 0).GetIntValue()),
                    MessageArg::Int(Arg(arguments, 1).GetIntValue())};
  } else if (name == QLatin1String("movecenter") || name == QLatin1String("maxwin")) {
  } else if (name == QLatin1String("disableResize")) {
    message.args = {MessageArg::Bool(Arg(arguments, 0).GetBoolValue())};
  } else if (name == QLatin1String("setInTitleBar")) {
    for (const QString& region : CaptionRegions(Arg(arguments, 0))) {
      message.args.push_back(MessageArg::String(region));
    }
  } else {
    return message;
  }
  message.name = name;
  return message;
}

bool OmbrixFunHandler::Execute(const QString& name, const JsArgs& arguments, JsReturn*, QString*) {
  const ProcessMessage message = BuildMessage(name, arguments);
  if (!message.name.isEmpty() && SendToBrowser(page_id_, message)) return true;
  std::printf("OmbrixFunHandler::Execute\r\n");
  std::fflush(stdout);
  return false;
}

}  // namespace ombrix
