#include "samples/dialog_test.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <cstdio>

#include "util/log_text.h"

namespace dialog_test {
namespace {

constexpr guint kReleaseDelayMs = 2000;

GtkFileChooserAction ActionOf(ombrix::DialogKind kind) {
  switch (kind) {
    case ombrix::DialogKind::kOpenFolder:
      return GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER;
    case ombrix::DialogKind::kSave:
      return GTK_FILE_CHOOSER_ACTION_SAVE;
    default:
      return GTK_FILE_CHOOSER_ACTION_OPEN;
  }
}

GtkFileFilter* NewFilter(const QString& text) {
  const ombrix::FileFilterParts parts = ombrix::ReadFileFilter(text);
  GtkFileFilter* filter = gtk_file_filter_new();
  g_object_ref_sink(filter);
  gtk_file_filter_set_name(filter, parts.name.toUtf8().constData());
  for (const QString& pattern : parts.patterns) {
    gtk_file_filter_add_pattern(filter, pattern.toUtf8().constData());
  }
  for (const QString& type : parts.mime_types) {
    gtk_file_filter_add_mime_type(filter, type.toUtf8().constData());
  }
  return filter;
}

// Starts the chooser at path: a folder opens it, a file opens its folder and
// selects it (open) or proposes its name (save). Relative paths are taken from
// the working folder.
void StartAt(GtkFileChooser* chooser, const QString& path, bool save) {
  if (path.isEmpty()) return;
  const QFileInfo info(path);
  const QByteArray absolute = QFile::encodeName(info.absoluteFilePath());
  if (info.isDir()) {
    gtk_file_chooser_set_current_folder(chooser, absolute.constData());
    return;
  }
  const QByteArray folder = QFile::encodeName(info.absolutePath());
  if (QFileInfo(info.absolutePath()).isDir()) {
    gtk_file_chooser_set_current_folder(chooser, folder.constData());
  }
  if (save) {
    gtk_file_chooser_set_current_name(chooser, info.fileName().toUtf8().constData());
  } else if (info.exists()) {
    gtk_file_chooser_set_filename(chooser, absolute.constData());
  }
}

QStringList ChosenPaths(GtkFileChooser* chooser) {
  QStringList paths;
  GSList* files = gtk_file_chooser_get_files(chooser);
  for (GSList* item = files; item; item = item->next) {
    if (char* path = g_file_get_path(G_FILE(item->data))) {
      paths << QFile::decodeName(path);
      g_free(path);
    }
  }
  g_slist_free_full(files, g_object_unref);
  return paths;
}

}  // namespace

Handler::~Handler() { Close(); }

bool Handler::OnQuery(WebKitWebView* view, int query_id, const QString& request, bool persistent,
                      std::shared_ptr<ombrix::QueryCallback> callback) {
  (void)persistent;
  const std::optional<ombrix::DialogRequest> dialog = ombrix::ReadDialogRequest(request);
  if (!dialog) return false;
  if (!state_) state_ = std::make_unique<State>();
  if (state_->pending) {
    // One dialog at a time: a second request while one is open is answered as
    // cancelled rather than stacking dialogs (a page asking a thousand times
    // would bury the window).
    qDebug() << "dialog already open";
    callback->Success(QString());
    return true;
  }
  QStringList filters;
  if (dialog->kind == ombrix::DialogKind::kSave) {
    const ombrix::SaveSettings settings = ombrix::ReadSaveSettings(request);
    if (settings.given) {
      qDebug().noquote() << "config :" << ombrix::LogText(settings.text);
      std::fflush(stdout);
    }
    for (const QString& value : settings.filepaths) {
      state_->last_file = ombrix::NextStartPath(state_->last_file, value);
    }
    filters = settings.filters;
  }
  callback_ = std::move(callback);
  view_ = view;
  query_id_ = query_id;
  Open(view, *dialog, filters);
  return true;
}

void Handler::Open(WebKitWebView* view, const ombrix::DialogRequest& request,
                   const QStringList& filters) {
  state_->mode = request.kind;
  state_->pending = true;
  GtkWidget* top = gtk_widget_get_toplevel(GTK_WIDGET(view));
  GtkWindow* parent = gtk_widget_is_toplevel(top) ? GTK_WINDOW(top) : nullptr;
  const bool save = request.kind == ombrix::DialogKind::kSave;
  dialog_ = gtk_file_chooser_native_new(request.title.toUtf8().constData(), parent,
                                        ActionOf(request.kind), nullptr, nullptr);
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog_);
  gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(dialog_), TRUE);
  gtk_file_chooser_set_local_only(chooser, TRUE);
  gtk_file_chooser_set_select_multiple(chooser, request.kind == ombrix::DialogKind::kOpenMultiple);
  gtk_file_chooser_set_do_overwrite_confirmation(chooser, save);
  for (const QString& text : filters) {
    filters_.push_back(NewFilter(text));
    gtk_file_chooser_add_filter(chooser, filters_.back());
  }
  const int selected = state_->selected_filter;
  if (selected >= 0 && selected < int(filters_.size())) {
    gtk_file_chooser_set_filter(chooser, filters_[size_t(selected)]);
  }
  StartAt(chooser, state_->last_file, save);
  g_signal_connect(dialog_, "response", G_CALLBACK(OnResponse), this);
  // Shown without a loop of its own: the page keeps running and painting.
  gtk_native_dialog_show(GTK_NATIVE_DIALOG(dialog_));
}

void Handler::OnResponse(GtkNativeDialog* dialog, int response, gpointer self) {
  static_cast<Handler*>(self)->Finish(dialog, response);
}

void Handler::Finish(GtkNativeDialog* dialog, int response) {
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
  const QStringList paths = response == GTK_RESPONSE_ACCEPT ? ChosenPaths(chooser) : QStringList();
  if (!paths.isEmpty()) {
    if (state_->mode != ombrix::DialogKind::kOpenFolder) {
      GtkFileFilter* chosen = gtk_file_chooser_get_filter(chooser);
      for (size_t i = 0; i < filters_.size(); ++i) {
        if (filters_[i] == chosen) state_->selected_filter = int(i);
      }
    }
    state_->last_file = paths.first();
    if (state_->mode == ombrix::DialogKind::kOpenFolder && !state_->last_file.endsWith('/')) {
      state_->last_file += QLatin1Char('/');
    }
  }
  const std::shared_ptr<ombrix::QueryCallback> callback = callback_;
  Close();
  callback->Success(ombrix::JoinAnswer(paths, state_->mode));
  qDebug() << "callback";
}

void Handler::OnQueryCanceled(WebKitWebView* view, int query_id) {
  if (!dialog_ || view != view_ || query_id != query_id_) return;
  qDebug() << "dialog closed: its page is gone";
  Close();
}

// Closes the open dialog, if any, and forgets its query.
void Handler::Close() {
  if (dialog_) {
    g_signal_handlers_disconnect_by_data(dialog_, this);
    gtk_native_dialog_hide(GTK_NATIVE_DIALOG(dialog_));
    // Released a moment later: the key that answered it (Enter, Escape) is
    // released after the dialog has gone, and that event still finds it.
    g_timeout_add(
        kReleaseDelayMs,
        [](gpointer dialog) {
          g_object_unref(dialog);
          return G_SOURCE_REMOVE;
        },
        dialog_);
    dialog_ = nullptr;
  }
  for (GtkFileFilter* filter : filters_) g_object_unref(filter);
  filters_.clear();
  callback_.reset();
  view_ = nullptr;
  query_id_ = 0;
  if (state_) state_->pending = false;
}

}  // namespace dialog_test
