// Page-side extension, loaded by the engine into every web process.
#include <webkit2/webkit-web-extension.h>

#include "app/extension_init.h"
#include "app/manifest_util.h"
#include "util/util_win.h"

extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize_with_user_data(
    WebKitWebExtension* extension, const GVariant* user_data) {
  (void)extension;
  const ombrix::ExtensionInitData data =
      ombrix::ReadExtensionInitData(const_cast<GVariant*>(user_data));
  if (!data.executable.isEmpty()) ombrix::SetExecutablePath(data.executable);
  ManifestUtil& manifest = ManifestUtil::Instance(QStringLiteral("manifest.json"));
  if (data.has_manifest) {
    manifest.SetContent(data.manifest_content);
    manifest.Parse();
    manifest.command_line_ = data.command_line;
  }
}
