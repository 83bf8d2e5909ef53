// A web view in a window of its own whose pages get the shell's page-side
// extension (from OMBRIX_BENCH_RENDERER_DIR), with app_dir as the application's
// folder and an empty manifest, as the shell's own views would.
#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <QString>

#include "app/extension_init.h"
#include "app/manifest_util.h"
#include "util/util_win.h"

inline WebKitWebView* OpenExtensionView(const QString& app_dir, WebKitUserContentManager* content) {
  ombrix::SetExecutablePath(app_dir + "/ombrix");
  ManifestUtil& manifest = ManifestUtil::Instance("ombrix.json");
  manifest.SetContent("{}");
  manifest.Parse();
  WebKitWebContext* context = webkit_web_context_new();
  webkit_web_context_set_web_extensions_directory(context, OMBRIX_BENCH_RENDERER_DIR);
  webkit_web_context_set_web_extensions_initialization_user_data(
      context, ombrix::BuildExtensionInitData(manifest));
  GtkWidget* view = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context,
                                            "user-content-manager", content, nullptr));
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_container_add(GTK_CONTAINER(window), view);
  gtk_widget_show_all(window);
  return WEBKIT_WEB_VIEW(view);
}
