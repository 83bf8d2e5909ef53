// Prints without a dialog: the engine lays a page (or one frame's document)
// out as a PDF with the manifest's paper and margins, and CupsJobs hands it to
// the queue and follows the job. The engine's own print dialog never shows.
#pragma once

#include <webkit2/webkit2.h>

#include <QString>
#include <functional>

#include "print/cups_job.h"
#include "print/print_rules.h"

namespace ombrix {

class SilentPrint {
 public:
  using Reporter = CupsJobs::Reporter;

  // options_failure: why every print fails ("bad-paper", ...) when the
  // manifest's values are wrong, else "".
  SilentPrint(PrintOptions options, QString options_failure, QString app_title);
  ~SilentPrint();
  SilentPrint(const SilentPrint&) = delete;
  SilentPrint& operator=(const SilentPrint&) = delete;

  // Keeps the engine's print dialog off view: a print() the shell does not
  // carry out (a frame without the page side's print) only leaves a line.
  void WatchView(WebKitWebView* view);

  // Prints view's page, or with html set that document on its own (a frame's
  // receipt), resolved against base_uri. report hears the job's states; a
  // print while the previous one is still being made fails as "busy".
  void Print(WebKitWebView* view, const QString& html, const QString& base_uri,
             const QString& title, Reporter report);

 private:
  struct Render;
  static gboolean OnEnginePrint(WebKitWebView* view, WebKitPrintOperation* operation,
                                gpointer self);
  void StartRender(Render* render, WebKitWebView* view);
  void RenderDone(Render* render, bool ok);
  void LayOutAlone(Render* render, WebKitWebView* related, const QString& html,
                   const QString& base_uri);

  PrintOptions options_;
  QString options_failure_;
  QString app_title_;
  Render* render_ = nullptr;  // the PDF being made; one at a time
  CupsJobs jobs_;
};

}  // namespace ombrix
