// What the shell hands to the page-side extension in every web process: the
// executable's path, the command line and (single-process model) the manifest's
// content, so that the page side sees the values the shell parsed.
#pragma once

#include <glib.h>

#include <QByteArray>
#include <QString>

class ManifestUtil;

namespace ombrix {

struct ExtensionInitData {
  QString executable;
  QString command_line;
  QString manifest_file;
  bool has_manifest = false;  // false in the multi-process model
  QByteArray manifest_content;
};

// A floating GVariant of type a{sv}.
GVariant* BuildExtensionInitData(const ManifestUtil& manifest);

ExtensionInitData ReadExtensionInitData(GVariant* data);

}  // namespace ombrix
