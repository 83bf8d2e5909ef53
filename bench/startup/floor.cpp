// The engine's floor: the least a WebKitGTK program does to show a local page in
// a window once it has loaded. The start-up benchmark measures the shell against it.
#include <webkit2/webkit2.h>

static void OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer window) {
  if (event == WEBKIT_LOAD_FINISHED) gtk_widget_show(GTK_WIDGET(window));
}

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  if (argc < 2) return 2;
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(window), 800, 600);
  WebKitSettings* settings = webkit_settings_new_with_settings(
      "hardware-acceleration-policy", WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER, nullptr);
  GtkWidget* view = webkit_web_view_new_with_settings(settings);
  gtk_container_add(GTK_CONTAINER(window), view);
  gtk_widget_show(view);
  g_signal_connect(view, "load-changed", G_CALLBACK(OnLoadChanged), window);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
  webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), argv[1]);
  gtk_main();
  return 0;
}
