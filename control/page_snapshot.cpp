#include "control/page_snapshot.h"

#include <cairo.h>
#include <glib/gstdio.h>

#include <utility>

namespace ombrix {
namespace {

struct Pending {
  std::string path;
  std::function<void(const std::string&)> done;
};

std::string WritePng(cairo_surface_t* surface, const std::string& path) {
  const std::string part = path + ".part";
  const cairo_status_t status = cairo_surface_write_to_png(surface, part.c_str());
  if (status != CAIRO_STATUS_SUCCESS) {
    g_remove(part.c_str());
    return std::string("cannot write ") + path + ": " + cairo_status_to_string(status);
  }
  if (g_rename(part.c_str(), path.c_str()) != 0) {
    g_remove(part.c_str());
    return "cannot write " + path;
  }
  return std::string();
}

void OnSnapshot(GObject* view, GAsyncResult* result, gpointer data) {
  Pending* pending = static_cast<Pending*>(data);
  GError* error = nullptr;
  cairo_surface_t* surface =
      webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(view), result, &error);
  std::string problem;
  if (!surface) {
    problem = std::string("no picture of the page: ") + (error ? error->message : "");
    g_clear_error(&error);
  } else {
    problem = WritePng(surface, pending->path);
    cairo_surface_destroy(surface);
  }
  pending->done(problem);
  delete pending;
}

}  // namespace

void WritePageSnapshot(WebKitWebView* view, const std::string& path,
                       std::function<void(const std::string& error)> done) {
  auto* pending = new Pending{path, std::move(done)};
  webkit_web_view_get_snapshot(view, WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE,
                               nullptr, OnSnapshot, pending);
}

}  // namespace ombrix
