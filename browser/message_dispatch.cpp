#include "browser/message_dispatch.h"

#include <QDebug>
#include <QStringList>
#include <algorithm>
#include <cstdio>

#include "app/manifest_util.h"
#include "browser/clipboard.h"
#include "browser/ombrix_cef_handler.h"

namespace ombrix {
namespace {

void ResizeTo(OmbrixCefHandler& handler, const ProcessMessage& message) {
  const int width = message.IntArg(0);
  const int height = message.IntArg(1);
  std::printf("width :%d height :%d\r\n", width, height);
  std::fflush(stdout);
  if (width <= 0 || height <= 0) return;  // the window system takes no empty size
  // No larger than the window's monitor: a page asking for 40000 x 40000 would
  // otherwise make the engine paint a surface of gigabytes and lose its process.
  GtkWidget* widget = GTK_WIDGET(handler.main_window());
  GdkMonitor* monitor = gdk_display_get_monitor_at_window(gtk_widget_get_display(widget),
                                                          gtk_widget_get_window(widget));
  GdkRectangle area{0, 0, width, height};
  if (monitor) gdk_monitor_get_geometry(monitor, &area);
  ResizeMainWindow(handler, std::min(width, area.width), std::min(height, area.height));
}

void MoveCenter(OmbrixCefHandler& handler) {
  int width = 0;
  int height = 0;
  MainWindowSize(handler, &width, &height);
  Rect centred;
  CentreRect(width, height, &centred);
  MoveTopLevel(handler.main_window(), centred.left, centred.top, "movecenter");
}

void SetInTitleBar(OmbrixCefHandler& handler, const ProcessMessage& message) {
  handler.caption_regions_.clear();
  for (size_t i = 0; i < message.args.size(); ++i) {
    handler.caption_regions_.push_back(ParseCaptionRegion(message.StringArg(i)));
  }
}

void DisableResize(OmbrixCefHandler& handler, const ProcessMessage& message) {
  const bool disable = message.BoolArg(0);
  ManifestUtil::Instance(QStringLiteral("manifest.json")).disable_resize_ = disable;
  handler.disable_resize_ = disable;
}

}  // namespace

std::unique_ptr<SilentPrint> MakeSilentPrint(const ManifestUtil& manifest) {
  if (!manifest.print_silent_) return nullptr;
  PrintOptions options;
  QString failure;
  QString error;
  if (!MakePrintOptions(manifest.print_printer_, manifest.print_paper_, manifest.print_margins_mm_,
                        manifest.print_copies_, &options, &failure, &error)) {
    std::printf("manifest: print.%s; every print fails with \"%s\"\n", error.toUtf8().constData(),
                failure.toUtf8().constData());
    std::fflush(stdout);
  }
  return std::make_unique<SilentPrint>(options, failure, manifest.application_title_);
}

void CarryOutPrint(OmbrixCefHandler& handler, WebKitWebView* view, const ProcessMessage& ask) {
  const int number = ask.IntArg(0);
  auto report = [&handler, view, number](const JobReport& job) {
    handler.page_status_.CountPrintJob(job.state);
    if (handler.exiting() || !handler.HasView(view)) return;
    const ProcessMessage answer{QString::fromLatin1(kPrintResultMessage),
                                {MessageArg::Int(number), MessageArg::Int(job.job),
                                 MessageArg::String(job.state), MessageArg::String(job.reason)}};
    webkit_web_view_send_message_to_page(
        view, webkit_user_message_new(kPrintResultMessage, EncodeMessageArgs(answer)), nullptr,
        nullptr, nullptr);
  };
  if (!handler.print_) return;
  const bool main_frame = ask.BoolArg(1);
  handler.print_->Print(view, main_frame ? QString() : ask.StringArg(2), ask.StringArg(3),
                        ask.StringArg(4), report);
}

ProcessMessage DecodeUserMessage(WebKitUserMessage* message) {
  return DecodeMessage(webkit_user_message_get_name(message),
                       webkit_user_message_get_parameters(message));
}

bool DispatchProcessMessage(OmbrixCefHandler& handler, const ProcessMessage& message) {
  const QString& name = message.name;
  if (name == QLatin1String("setclip")) {  // the clipboard needs no window
    SetClipboardHtml(message.StringArg(0).toUtf8(), message.StringArg(1).toUtf8());
    return true;
  }
  if (name == QLatin1String(kFpjResultMessage)) {  // any page's, for the metrics
    handler.page_status_.CountDispenser(message.IntArg(0), message.IntArg(1));
    return true;
  }
  if (!handler.main_window()) return false;
  if (name == QLatin1String("resizeTo")) {
    ResizeTo(handler, message);
  } else if (name == QLatin1String("movecenter")) {
    MoveCenter(handler);
  } else if (name == QLatin1String("setInTitleBar")) {
    SetInTitleBar(handler, message);
  } else if (name == QLatin1String("exitapp")) {
    handler.ExitApp();
  } else if (name == QLatin1String("maxwin")) {
    ToggleMaximize(handler, true);
  } else if (name == QLatin1String("disableResize")) {
    DisableResize(handler, message);
  } else if (name == QLatin1String("showtray")) {
    ShowTray(handler, message.StringArg(0), message.StringArg(1), message.StringArg(2));
  } else if (name == QLatin1String("hidetray")) {
    HideTray();
  } else if (name == QLatin1String("modifytrayicon")) {
    ModifyTrayIcon(message.StringArg(0));
  } else {
    return false;
  }
  return true;
}

}  // namespace ombrix
