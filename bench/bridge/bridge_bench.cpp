// Cost of page-to-native calls: a bound synchronous ombrix call and an
// asynchronous one with its callback, against a plain JavaScript call and the
// script-message round trip (a messageHandlers post answered by evaluating a
// script) that other WebKitGTK shells use. The page runs in a web view that
// loads the shell's own page-side extension, as the shell's views do.
#include <webkit2/webkit2.h>

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <cstdio>
#include <cstring>

#include "bench/common/extension_view.h"
#include "bridge_page.h"

namespace {

QJsonObject g_results;

void OnEcho(WebKitUserContentManager*, WebKitJavascriptResult*, gpointer view) {
  webkit_web_view_evaluate_javascript(WEBKIT_WEB_VIEW(view), "__echo()", -1, nullptr, nullptr,
                                      nullptr, nullptr, nullptr);
}

void OnDone(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer) {
  JSCValue* value = webkit_javascript_result_get_js_value(result);
  char* text = jsc_value_to_string(value);
  g_results = QJsonDocument::fromJson(QByteArray(text)).object();
  g_free(text);
  gtk_main_quit();
}

gboolean OnTimeout(gpointer) {
  std::fprintf(stderr, "bridge benchmark timed out\n");
  gtk_main_quit();
  return G_SOURCE_REMOVE;
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  gtk_init(&argc, &argv);
  QTemporaryDir dir;
  WebKitUserContentManager* content = webkit_user_content_manager_new();
  // The page side sees this folder as the application's folder.
  WebKitWebView* view = OpenExtensionView(dir.path(), content);
  webkit_user_content_manager_register_script_message_handler(content, "echo");
  webkit_user_content_manager_register_script_message_handler(content, "done");
  g_signal_connect(content, "script-message-received::echo", G_CALLBACK(OnEcho), view);
  g_signal_connect(content, "script-message-received::done", G_CALLBACK(OnDone), nullptr);
  webkit_web_view_load_html(view, kBridgePage, quick ? "file:///bench/#quick" : "file:///bench/");
  g_timeout_add_seconds(120, OnTimeout, nullptr);
  gtk_main();

  if (g_results.isEmpty()) return 1;
  const double plain = g_results["plain"].toDouble();
  const double sync = g_results["sync"].toDouble();
  const double async = g_results["async"].toDouble();
  const double message = g_results["message"].toDouble();
  std::printf("plain JavaScript call:        %8.4f us\n", plain);
  std::printf("ombrix.file.exist (bound):    %8.3f us  (%.1fx a plain call; target <= 5 us)\n",
              sync, plain > 0 ? sync / plain : 0);
  std::printf("ombrix.file.write + callback: %8.3f us\n", async);
  std::printf("script-message round trip:    %8.3f us\n", message);
  std::printf("round trip / bound call:      %8.1fx (target >= 20x)\n",
              sync > 0 ? message / sync : 0);
  return 0;
}
