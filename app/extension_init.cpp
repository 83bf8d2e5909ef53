#include "app/extension_init.h"

#include "app/manifest_util.h"
#include "util/util_win.h"

namespace ombrix {
namespace {

void AddString(GVariantBuilder* builder, const char* key, const QString& value) {
  g_variant_builder_add(builder, "{sv}", key, g_variant_new_string(value.toUtf8().constData()));
}

QString LookupString(GVariantDict* dict, const char* key) {
  const char* value = nullptr;
  if (!g_variant_dict_lookup(dict, key, "&s", &value)) return QString();
  return QString::fromUtf8(value);
}

GVariant* NewStringList(const QStringList& list) {
  GVariantBuilder builder;
  g_variant_builder_init(&builder, G_VARIANT_TYPE_STRING_ARRAY);
  for (const QString& item : list) {
    g_variant_builder_add(&builder, "s", item.toUtf8().constData());
  }
  return g_variant_builder_end(&builder);
}

QStringList ReadStringList(GVariant* list) {
  QStringList result;
  GVariantIter iter;
  g_variant_iter_init(&iter, list);
  const char* item = nullptr;
  while (g_variant_iter_next(&iter, "&s", &item)) result << QString::fromUtf8(item);
  return result;
}

}  // namespace

GVariant* BuildExtensionInitData(const ManifestUtil& manifest, const QString& user_agent) {
  GVariantBuilder builder;
  g_variant_builder_init(&builder, G_VARIANT_TYPE_VARDICT);
  AddString(&builder, "executable", ExecutablePath());
  AddString(&builder, "user_agent", user_agent);
  AddString(&builder, "command_line", manifest.command_line_);
  AddString(&builder, "manifest_file", manifest.file_name_);
  if (manifest.has_trusted_origins_) {
    g_variant_builder_add(&builder, "{sv}", "trusted_origins",
                          NewStringList(manifest.trusted_origins_));
  }
  if (manifest.disable_debug_log_) {
    g_variant_builder_add(&builder, "{sv}", "debug_log_off", g_variant_new_boolean(TRUE));
  }
  if (manifest.print_silent_) {
    g_variant_builder_add(&builder, "{sv}", "print_silent", g_variant_new_boolean(TRUE));
  }
  if (!manifest.multiple_process_) {
    const QByteArray known = manifest.KnownKeysJson();
    GVariant* content =
        g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, known.constData(), known.size(), 1);
    g_variant_builder_add(&builder, "{sv}", "manifest", content);
  }
  return g_variant_builder_end(&builder);
}

ExtensionInitData ReadExtensionInitData(GVariant* data) {
  ExtensionInitData result;
  if (!data || !g_variant_is_of_type(data, G_VARIANT_TYPE_VARDICT)) return result;
  GVariantDict dict;
  g_variant_dict_init(&dict, data);
  result.executable = LookupString(&dict, "executable");
  result.command_line = LookupString(&dict, "command_line");
  result.manifest_file = LookupString(&dict, "manifest_file");
  result.user_agent = LookupString(&dict, "user_agent");
  GVariant* content = g_variant_dict_lookup_value(&dict, "manifest", G_VARIANT_TYPE_BYTESTRING);
  if (content) {
    gsize size = 0;
    const void* bytes = g_variant_get_fixed_array(content, &size, 1);
    result.manifest_content = QByteArray(static_cast<const char*>(bytes), int(size));
    result.has_manifest = true;
    g_variant_unref(content);
  }
  GVariant* trusted =
      g_variant_dict_lookup_value(&dict, "trusted_origins", G_VARIANT_TYPE_STRING_ARRAY);
  if (trusted) {
    result.has_trusted_origins = true;
    result.trusted_origins = ReadStringList(trusted);
    g_variant_unref(trusted);
  }
  gboolean debug_log_off = FALSE;
  if (g_variant_dict_lookup(&dict, "debug_log_off", "b", &debug_log_off))
    result.debug_log_off = debug_log_off;
  gboolean print_silent = FALSE;
  if (g_variant_dict_lookup(&dict, "print_silent", "b", &print_silent))
    result.print_silent = print_silent;
  g_variant_dict_clear(&dict);
  return result;
}

}  // namespace ombrix
