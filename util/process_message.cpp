#include "util/process_message.h"

#include <cstring>

namespace ombrix {
namespace {

constexpr const char* kWindowStates[] = {"windowstate.normal", "windowstate.max", "windowstate.min",
                                         "windowstate.show", "windowstate.hide"};

MessageArg DecodeArg(GVariant* value) {
  MessageArg arg;
  if (g_variant_is_of_type(value, G_VARIANT_TYPE_VARIANT)) {
    GVariant* inner = g_variant_get_variant(value);
    arg = DecodeArg(inner);
    g_variant_unref(inner);
  } else if (g_variant_is_of_type(value, G_VARIANT_TYPE_INT32)) {
    arg = MessageArg::Int(g_variant_get_int32(value));
  } else if (g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN)) {
    arg = MessageArg::Bool(g_variant_get_boolean(value));
  } else if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING)) {
    arg = MessageArg::String(QString::fromUtf8(g_variant_get_string(value, nullptr)));
  }
  return arg;
}

GVariant* EncodeArg(const MessageArg& arg) {
  switch (arg.type) {
    case MessageArg::kBool:
      return g_variant_new_boolean(arg.bool_value);
    case MessageArg::kString:
      return g_variant_new_string(arg.string_value.toUtf8().constData());
    case MessageArg::kInt:
    default:
      return g_variant_new_int32(arg.int_value);
  }
}

}  // namespace

MessageArg MessageArg::Int(int value) {
  MessageArg arg;
  arg.type = kInt;
  arg.int_value = value;
  return arg;
}

MessageArg MessageArg::Bool(bool value) {
  MessageArg arg;
  arg.type = kBool;
  arg.bool_value = value;
  return arg;
}

MessageArg MessageArg::String(const QString& value) {
  MessageArg arg;
  arg.type = kString;
  arg.string_value = value;
  return arg;
}

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

bool IsWindowStateMessage(const char* name) {
  for (const char* state : kWindowStates) {
    if (name && !std::strcmp(name, state)) return true;
  }
  return false;
}

GVariant* EncodeMessageArgs(const ProcessMessage& message) {
  if (message.args.empty()) return nullptr;
  std::vector<GVariant*> children;
  for (const MessageArg& arg : message.args) children.push_back(EncodeArg(arg));
  return g_variant_new_tuple(children.data(), children.size());
}

ProcessMessage DecodeMessage(const char* name, GVariant* parameters) {
  ProcessMessage decoded;
  decoded.name = QString::fromUtf8(name ? name : "");
  if (!parameters || !g_variant_is_container(parameters)) return decoded;
  const gsize count = g_variant_n_children(parameters);
  for (gsize i = 0; i < count; ++i) {
    GVariant* child = g_variant_get_child_value(parameters, i);
    decoded.args.push_back(DecodeArg(child));
    g_variant_unref(child);
  }
  return decoded;
}

}  // namespace ombrix
