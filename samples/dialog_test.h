// The dialog handler of the page queries: "DialogTest.FileOpen",
// "DialogTest.FileOpenMultiple", "DialogTest.FileOpenFolder" and
// "DialogTest.FileSave" open the desktop's native file chooser, modal to the
// query's window, and answer with the chosen paths joined with "|" (empty when
// the user cancels). The last file, folder and filter carry over from one
// dialog to the next.
#pragma once

#include <gtk/gtk.h>

#include <memory>
#include <vector>

#include "browser/query_router.h"
#include "samples/query_rules.h"

namespace dialog_test {

class Handler : public ombrix::QueryHandler {
 public:
  Handler() = default;
  ~Handler() override;
  Handler(const Handler&) = delete;
  Handler& operator=(const Handler&) = delete;

  bool OnQuery(WebKitWebView* view, int query_id, const QString& request, bool persistent,
               std::shared_ptr<ombrix::QueryCallback> callback) override;
  // The page that asked is gone: its dialog closes unanswered.
  void OnQueryCanceled(WebKitWebView* view, int query_id) override;

 private:
  // What carries over from one dialog to the next.
  struct State {
    ombrix::DialogKind mode = ombrix::DialogKind::kOpen;
    int selected_filter = 0;
    QString last_file;
    bool pending = false;
  };

  void Open(WebKitWebView* view, const ombrix::DialogRequest& request, const QStringList& filters);
  void Finish(GtkNativeDialog* dialog, int response);
  void Close();
  static void OnResponse(GtkNativeDialog* dialog, int response, gpointer self);

  std::unique_ptr<State> state_;
  // The open dialog, its filters (in the page's order) and its query.
  GtkFileChooserNative* dialog_ = nullptr;
  std::vector<GtkFileFilter*> filters_;
  std::shared_ptr<ombrix::QueryCallback> callback_;
  WebKitWebView* view_ = nullptr;
  int query_id_ = 0;
};

}  // namespace dialog_test
