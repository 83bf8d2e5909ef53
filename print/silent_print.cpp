#include "print/silent_print.h"

#include <gtk/gtkunixprint.h>
#include <unistd.h>

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QUrl>

namespace ombrix {
namespace {

// A receipt that has not laid out after this long is given up.
constexpr guint kLayoutLimitSeconds = 20;

gboolean TakeFirstPrinter(GtkPrinter* printer, gpointer data) {
  auto* name = static_cast<QString*>(data);
  if (name->isEmpty()) *name = QString::fromUtf8(gtk_printer_get_name(printer));
  return FALSE;
}

// GTK's print-to-file printer, the only one its file back end offers (its
// name is translated, so it is asked for rather than written down).
QString FilePrinterName() {
  static QString name;
  if (name.isEmpty()) gtk_enumerate_printers(TakeFirstPrinter, &name, nullptr, TRUE);
  return name;
}

GtkPrintSettings* FileSettings(const QString& pdf_path) {
  GtkPrintSettings* settings = gtk_print_settings_new();
  gtk_print_settings_set_printer(settings, FilePrinterName().toUtf8().constData());
  gtk_print_settings_set(settings, GTK_PRINT_SETTINGS_OUTPUT_FILE_FORMAT, "pdf");
  const QByteArray uri = QUrl::fromLocalFile(pdf_path).toEncoded();
  gtk_print_settings_set(settings, GTK_PRINT_SETTINGS_OUTPUT_URI, uri.constData());
  return settings;
}

GtkPageSetup* PageSetup(const PrintOptions& options) {
  GtkPageSetup* setup = gtk_page_setup_new();
  if (options.has_paper) {
    GtkPaperSize* paper =
        gtk_paper_size_new_custom("ombrix", options.paper.media.toUtf8().constData(),
                                  options.paper.width_mm, options.paper.height_mm, GTK_UNIT_MM);
    gtk_page_setup_set_paper_size(setup, paper);
    gtk_paper_size_free(paper);
  }
  gtk_page_setup_set_top_margin(setup, options.margins_mm, GTK_UNIT_MM);
  gtk_page_setup_set_bottom_margin(setup, options.margins_mm, GTK_UNIT_MM);
  gtk_page_setup_set_left_margin(setup, options.margins_mm, GTK_UNIT_MM);
  gtk_page_setup_set_right_margin(setup, options.margins_mm, GTK_UNIT_MM);
  return setup;
}

// A new file for the PDF, in the temporary folder; "" when none can be made.
QString NewPdfPath() {
  const QByteArray pattern = QFile::encodeName(QDir::tempPath()) + "/ombrix-print-XXXXXX.pdf";
  QByteArray path = pattern;
  const int fd = g_mkstemp_full(path.data(), 0, 0600);
  if (fd < 0) return QString();
  close(fd);
  return QFile::decodeName(path);
}

JobReport Failed(const char* reason) {
  return JobReport{0, QStringLiteral("failed"), QLatin1String(reason)};
}

}  // namespace

struct SilentPrint::Render {
  SilentPrint* owner;
  Reporter report;
  QString pdf_path;
  QString title;
  GtkWidget* offscreen = nullptr;  // the window of a document laid out on its own
  WebKitPrintOperation* operation = nullptr;
  guint limit = 0;  // while a document laid out on its own loads
  bool failed = false;
};

SilentPrint::SilentPrint(PrintOptions options, QString options_failure, QString app_title)
    : options_(std::move(options)),
      options_failure_(std::move(options_failure)),
      app_title_(std::move(app_title)) {
  // Only the print-to-file back end: GTK's CUPS back end would ask the print
  // server from the window's thread; the jobs go to CUPS from CupsJobs.
  g_object_set(gtk_settings_get_default(), "gtk-print-backends", "file", nullptr);
}

SilentPrint::~SilentPrint() {
  // The shell ends while a PDF is being made: nobody hears of it.
  Render* render = render_;
  if (!render) return;
  if (render->operation) {
    g_signal_handlers_disconnect_by_data(render->operation, render);
    g_object_unref(render->operation);
  }
  if (render->limit) g_source_remove(render->limit);
  if (render->offscreen) gtk_widget_destroy(render->offscreen);
  QFile::remove(render->pdf_path);
  delete render;
}

void SilentPrint::WatchView(WebKitWebView* view) {
  g_signal_connect(view, "print", G_CALLBACK(OnEnginePrint), this);
}

gboolean SilentPrint::OnEnginePrint(WebKitWebView*, WebKitPrintOperation*, gpointer) {
  qDebug() << "print: a print() without the page side's print was not carried out";
  return TRUE;  // no dialog
}

void SilentPrint::Print(WebKitWebView* view, const QString& html, const QString& base_uri,
                        const QString& title, Reporter report) {
  if (!options_failure_.isEmpty()) {
    report(JobReport{0, QStringLiteral("failed"), options_failure_});
    return;
  }
  if (render_) {
    report(Failed("busy"));
    return;
  }
  const QString pdf_path = NewPdfPath();
  if (pdf_path.isEmpty()) {
    qDebug() << "print: no file for the PDF in" << QDir::tempPath();
    report(Failed("render-failed"));
    return;
  }
  auto* render = new Render{this, std::move(report), pdf_path,
                            (title.isEmpty() ? app_title_ : title).left(100)};
  render_ = render;
  if (html.isEmpty()) {
    StartRender(render, view);
  } else {
    LayOutAlone(render, view, html, base_uri);
  }
}

void SilentPrint::LayOutAlone(Render* render, WebKitWebView* related, const QString& html,
                              const QString& base_uri) {
  // The frame's document as it stands, without its scripts, in a window of
  // its own that never shows; in the page's web process.
  WebKitSettings* settings = webkit_settings_new();
  webkit_settings_set_enable_javascript(settings, FALSE);
  auto* view = WEBKIT_WEB_VIEW(
      g_object_new(WEBKIT_TYPE_WEB_VIEW, "related-view", related, "settings", settings, nullptr));
  g_object_unref(settings);
  render->offscreen = gtk_offscreen_window_new();
  gtk_container_add(GTK_CONTAINER(render->offscreen), GTK_WIDGET(view));
  gtk_window_set_default_size(GTK_WINDOW(render->offscreen), 800, 600);
  gtk_widget_show_all(render->offscreen);
  g_signal_connect(view, "load-changed",
                   G_CALLBACK(+[](WebKitWebView* view, WebKitLoadEvent event, gpointer data) {
                     if (event != WEBKIT_LOAD_FINISHED) return;
                     auto* render = static_cast<Render*>(data);
                     g_signal_handlers_disconnect_by_data(view, data);
                     g_source_remove(render->limit);  // laid out: the PDF always comes
                     render->limit = 0;
                     render->owner->StartRender(render, view);
                   }),
                   render);
  g_signal_connect(view, "load-failed",
                   G_CALLBACK(+[](WebKitWebView* view, WebKitLoadEvent, gchar*, GError* error,
                                  gpointer data) -> gboolean {
                     qDebug() << "print: the frame's document did not lay out:" << error->message;
                     g_signal_handlers_disconnect_by_data(view, data);
                     auto* render = static_cast<Render*>(data);
                     render->owner->RenderDone(render, false);
                     return TRUE;
                   }),
                   render);
  render->limit = g_timeout_add_seconds(
      kLayoutLimitSeconds,
      [](gpointer data) -> gboolean {
        auto* render = static_cast<Render*>(data);
        render->limit = 0;
        qDebug() << "print: the frame's document did not lay out in time";
        GtkWidget* child = gtk_bin_get_child(GTK_BIN(render->offscreen));
        g_signal_handlers_disconnect_by_data(child, data);
        render->owner->RenderDone(render, false);
        return G_SOURCE_REMOVE;
      },
      render);
  const QByteArray content = html.toUtf8();
  const QByteArray base = base_uri.toUtf8();
  webkit_web_view_load_html(view, content.constData(), base.isEmpty() ? nullptr : base.constData());
}

void SilentPrint::StartRender(Render* render, WebKitWebView* view) {
  WebKitPrintOperation* operation = webkit_print_operation_new(view);
  render->operation = operation;
  GtkPrintSettings* settings = FileSettings(render->pdf_path);
  GtkPageSetup* setup = PageSetup(options_);
  webkit_print_operation_set_print_settings(operation, settings);
  webkit_print_operation_set_page_setup(operation, setup);
  g_object_unref(settings);
  g_object_unref(setup);
  g_signal_connect(operation, "failed",
                   G_CALLBACK(+[](WebKitPrintOperation*, GError* error, gpointer data) {
                     qDebug() << "print: the engine made no PDF:" << error->message;
                     static_cast<Render*>(data)->failed = true;
                   }),
                   render);
  g_signal_connect(operation, "finished",
                   G_CALLBACK(+[](WebKitPrintOperation* operation, gpointer data) {
                     auto* render = static_cast<Render*>(data);
                     render->operation = nullptr;
                     render->owner->RenderDone(render, !render->failed);
                     g_object_unref(operation);
                   }),
                   render);
  webkit_print_operation_print(operation);
}

void SilentPrint::RenderDone(Render* render, bool ok) {
  render_ = nullptr;
  if (render->limit) g_source_remove(render->limit);
  if (render->offscreen) {
    // Not from inside the laid-out view's own signal.
    g_idle_add(
        [](gpointer window) -> gboolean {
          gtk_widget_destroy(GTK_WIDGET(window));
          return G_SOURCE_REMOVE;
        },
        render->offscreen);
  }
  if (ok && QFile(render->pdf_path).size() > 0) {
    jobs_.Submit(
        JobRequest{options_.printer, render->pdf_path, render->title, JobOptions(options_)},
        render->report);
  } else {
    QFile::remove(render->pdf_path);
    render->report(Failed("render-failed"));
  }
  delete render;
}

}  // namespace ombrix
