#include "browser/message_dispatch.h"

#include <QDebug>
#include <QStringList>
#include <cstdio>

#include "app/manifest_util.h"
#include "browser/ombrix_cef_handler.h"

namespace ombrix {
namespace {

MessageArg DecodeArg(GVariant* value) {
  MessageArg arg;
  if (g_variant_is_of_type(value, G_VARIANT_TYPE_VARIANT)) {
    GVariant* inner = g_variant_get_variant(value);
    arg = DecodeArg(inner);
    g_variant_unref(inner);
  } else if (g_variant_is_of_type(value, G_VARIANT_TYPE_INT32)) {
    arg.type = MessageArg::kInt;
    arg.int_value = g_variant_get_int32(value);
  } else if (g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN)) {
    arg.type = MessageArg::kBool;
    arg.bool_value = g_variant_get_boolean(value);
  } else if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING)) {
    arg.type = MessageArg::kString;
    arg.string_value = QString::fromUtf8(g_variant_get_string(value, nullptr));
  }
  return arg;
}

void ResizeTo(OmbrixCefHandler& handler, const ProcessMessage& message) {
  const int width = message.IntArg(0);
  const int height = message.IntArg(1);
  std::printf("width :%d height :%d\r\n", width, height);
  std::fflush(stdout);
  if (width <= 0 || height <= 0) return;  // the window system takes no empty size
  gtk_window_resize(handler.main_window(), width, height);
}

void MoveCenter(OmbrixCefHandler& handler) {
  int width = 0;
  int height = 0;
  gtk_window_get_size(handler.main_window(), &width, &height);
  Rect centred;
  CentreRect(width, height, &centred);
  gtk_window_move(handler.main_window(), centred.left, centred.top);
}

void SetInTitleBar(OmbrixCefHandler& handler, const ProcessMessage& message) {
  handler.caption_regions_.clear();
  for (size_t i = 0; i < message.args.size(); ++i) {
    handler.caption_regions_.push_back(ParseCaptionRegion(message.StringArg(i)));
  }
}

void DisableResize(OmbrixCefHandler& handler, const ProcessMessage& message) {
  const bool disable = message.BoolArg(0);
  ManifestUtil::Instance(QStringLiteral("manifest.json")).disable_resize_ = disable;
  handler.disable_resize_ = disable;
}

}  // namespace

int ProcessMessage::IntArg(size_t index) const {
  return index < args.size() && args[index].type == MessageArg::kInt ? args[index].int_value : 0;
}

bool ProcessMessage::BoolArg(size_t index) const {
  return index < args.size() && args[index].type == MessageArg::kBool && args[index].bool_value;
}

QString ProcessMessage::StringArg(size_t index) const {
  return index < args.size() && args[index].type == MessageArg::kString ? args[index].string_value
                                                                        : QString();
}

ProcessMessage DecodeUserMessage(WebKitUserMessage* message) {
  ProcessMessage decoded;
  decoded.name = QString::fromUtf8(webkit_user_message_get_name(message));
  GVariant* parameters = webkit_user_message_get_parameters(message);
  if (!parameters || !g_variant_is_container(parameters)) return decoded;
  const gsize count = g_variant_n_children(parameters);
  for (gsize i = 0; i < count; ++i) {
    GVariant* child = g_variant_get_child_value(parameters, i);
    decoded.args.push_back(DecodeArg(child));
    g_variant_unref(child);
  }
  return decoded;
}

Rect ParseCaptionRegion(const QString& text) {
  const QStringList parts = text.split(QLatin1Char(','));
  int values[4] = {0, 0, 0, 0};
  for (int i = 0; i < 4 && i < parts.size(); ++i) values[i] = parts[i].toInt(nullptr, 10);
  return Rect{values[0], values[1], values[0] + values[2] - 1, values[1] + values[3] - 1};
}

bool DispatchProcessMessage(OmbrixCefHandler& handler, const ProcessMessage& message) {
  if (!handler.main_window()) return false;
  const QString& name = message.name;
  if (name == QLatin1String("resizeTo")) {
    ResizeTo(handler, message);
  } else if (name == QLatin1String("movecenter")) {
    MoveCenter(handler);
  } else if (name == QLatin1String("setInTitleBar")) {
    SetInTitleBar(handler, message);
  } else if (name == QLatin1String("exitapp")) {
    handler.ExitApp();
  } else if (name == QLatin1String("maxwin")) {
    // Received and deliberately left without effect.
  } else if (name == QLatin1String("disableResize")) {
    DisableResize(handler, message);
  } else if (name == QLatin1String("showtray")) {
    ShowTray(handler, message.StringArg(0), message.StringArg(1), message.StringArg(2));
  } else if (name == QLatin1String("hidetray")) {
    HideTray(handler);
  } else if (name == QLatin1String("modifytrayicon")) {
    ModifyTrayIcon(handler, message.StringArg(0));
  } else {
    return false;
  }
  return true;
}

}  // namespace ombrix
