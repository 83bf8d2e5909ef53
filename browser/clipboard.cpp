#include "browser/clipboard.h"

#include <gtk/gtk.h>

#include <QDebug>
#include <vector>

#include "util/util_win.h"

namespace ombrix {
namespace {

enum Form : guint { kHtml, kHtmlFormat, kText };

struct ClipContent {
  QByteArray html;
  QByteArray block;
  QByteArray text;
};

void Provide(GtkClipboard*, GtkSelectionData* selection, guint form, gpointer data) {
  const auto* content = static_cast<const ClipContent*>(data);
  if (form == kText) {
    gtk_selection_data_set_text(selection, content->text.constData(), content->text.size());
    return;
  }
  const QByteArray& bytes = form == kHtml ? content->html : content->block;
  gtk_selection_data_set(selection, gtk_selection_data_get_target(selection), 8,
                         reinterpret_cast<const guchar*>(bytes.constData()), bytes.size());
}

void Release(GtkClipboard*, gpointer data) { delete static_cast<ClipContent*>(data); }

}  // namespace

bool SetClipboardHtml(const QByteArray& html, const QByteArray& text) {
  auto* content = new ClipContent{html, BuildHtmlClipboardBlock(html), text};
  if (content->block.isEmpty()) {
    delete content;
    return false;
  }
  std::vector<GtkTargetEntry> targets = {
      {const_cast<gchar*>("text/html"), 0, kHtml},
      {const_cast<gchar*>("HTML Format"), 0, kHtmlFormat},
  };
  GtkTargetList* list = gtk_target_list_new(targets.data(), guint(targets.size()));
  if (!text.isEmpty()) gtk_target_list_add_text_targets(list, kText);
  gint count = 0;
  GtkTargetEntry* entries = gtk_target_table_new_from_list(list, &count);
  GtkClipboard* clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
  const bool taken =
      gtk_clipboard_set_with_data(clipboard, entries, guint(count), Provide, Release, content);
  if (taken) {
    gtk_clipboard_set_can_store(clipboard, nullptr, 0);  // a clipboard manager may keep it
  } else {
    delete content;
    qDebug() << "clipboard could not be taken";
  }
  gtk_target_table_free(entries, count);
  gtk_target_list_unref(list);
  return taken;
}

}  // namespace ombrix
