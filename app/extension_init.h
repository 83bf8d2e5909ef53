// What the shell hands to the page-side extension in every web process: the
// executable's path, the command line, the trusted origins and (single-process
// model) the manifest's content, so that the page side sees the values the shell
// parsed.
#pragma once

#include <glib.h>

#include <QByteArray>
#include <QString>
#include <QStringList>

class ManifestUtil;

namespace ombrix {

struct ExtensionInitData {
  QString executable;
  QString command_line;
  QString manifest_file;
  bool has_manifest = false;  // false in the multi-process model
  QByteArray manifest_content;
  // The manifest's "trusted_origins" entries, handed over in both process
  // models: a web process must never fall back to trusting every origin.
  bool has_trusted_origins = false;
  QStringList trusted_origins;
  // "disable_debug_log": the page side drops its debug lines too (both models).
  bool debug_log_off = false;
  // "print.silent": window.print() of a trusted frame prints without a dialog.
  bool print_silent = false;
  // The engine's User-Agent, which the page side's downloads send (both models).
  QString user_agent;
};

// A floating GVariant of type a{sv}.
GVariant* BuildExtensionInitData(const ManifestUtil& manifest, const QString& user_agent = {});

ExtensionInitData ReadExtensionInitData(GVariant* data);

}  // namespace ombrix
