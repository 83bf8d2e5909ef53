#include "scheme/ombrix_cef_scheme_handler.h"

#include <gio/gunixinputstream.h>
#include <libsoup/soup.h>

#include <QDebug>
#include <memory>

#include "scheme/content_archive.h"
#include "scheme/entry_stream.h"
#include "util/log_text.h"

namespace ombrix {
namespace {

// Entries up to this size are answered from one buffer (the quicker way);
// larger ones stream through a socket, so what one request holds stays
// bounded whatever size an entry has.
constexpr qint64 kWholeLimit = 8 << 20;

// What a worker found for one request, handed to the main thread.
struct Answer {
  WebKitURISchemeRequest* request = nullptr;  // held until answered
  QString name;                               // the entry asked for
  QString mime;
  qint64 size = -1;    // as the archive records it; below 0: not found
  QByteArray whole;    // a small entry
  int stream_fd = -1;  // a large entry: the end its bytes arrive on
};

GInputStream* BodyOf(const Answer& answer) {
  if (answer.stream_fd >= 0) return g_unix_input_stream_new(answer.stream_fd, TRUE);
  GBytes* bytes = g_bytes_new(answer.whole.constData(), gsize(answer.whole.size()));
  GInputStream* stream = g_memory_input_stream_new_from_bytes(bytes);
  g_bytes_unref(bytes);
  return stream;
}

// Main thread: the status, the type (also as the Content-Type header, which
// fetch and XHR read) and the body.
gboolean Finish(gpointer data) {
  std::unique_ptr<Answer> answer(static_cast<Answer*>(data));
  const bool found = answer->size >= 0;
  const qint64 length = answer->stream_fd >= 0 ? answer->size : answer->whole.size();
  GInputStream* body = BodyOf(*answer);
  WebKitURISchemeResponse* response = webkit_uri_scheme_response_new(body, length);
  const QByteArray type = answer->mime.toUtf8();
  webkit_uri_scheme_response_set_status(response, found ? 200 : 404, nullptr);
  webkit_uri_scheme_response_set_content_type(response, type.constData());
  SoupMessageHeaders* headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
  soup_message_headers_replace(headers, "Content-Type", type.constData());
  // Asked for again each time: an archive replaced while the app runs is seen
  // at once, never an entry the engine kept from the old one.
  soup_message_headers_replace(headers, "Cache-Control", "no-cache");
  webkit_uri_scheme_response_set_http_headers(response, headers);  // takes the headers
  webkit_uri_scheme_request_finish_with_response(answer->request, response);
  g_object_unref(response);
  g_object_unref(body);
  g_object_unref(answer->request);
  return G_SOURCE_REMOVE;
}

void Post(Answer* answer) { g_idle_add_full(G_PRIORITY_DEFAULT, Finish, answer, nullptr); }

// A worker of the pool: finds the entry and answers; a small entry goes
// whole, and only if its bytes match its CRC.
void Serve(gpointer data, gpointer) {
  auto* answer = static_cast<Answer*>(data);
  auto archive = std::make_unique<ContentArchive>();
  archive->Open(ContentArchiveFileName());
  answer->size = archive->OpenEntry(answer->name);
  if (answer->size >= 0) qDebug() << LogText(answer->name) << answer->size;
  if (answer->size >= 0 && answer->size <= kWholeLimit) {
    answer->whole = archive->ReadRest(answer->size);
    if (!archive->EntryWhole()) {
      qDebug() << "damaged entry" << LogText(answer->name);
      answer->size = -1;
    }
  } else if (answer->size > kWholeLimit) {
    answer->stream_fd = StreamEntry(std::move(archive));
    if (answer->stream_fd < 0) {
      qDebug() << "no stream for" << LogText(answer->name);
      answer->size = -1;
    }
  }
  Post(answer);
}

// Lookups run on a few threads, so a page asking for hundreds of entries at
// once never makes hundreds of threads.
GThreadPool* Workers() {
  static GThreadPool* pool = g_thread_pool_new(Serve, nullptr, 4, FALSE, nullptr);
  return pool;
}

void OnClientRequest(WebKitURISchemeRequest* request, gpointer) {
  auto* answer = new Answer;
  answer->request = WEBKIT_URI_SCHEME_REQUEST(g_object_ref(request));
  answer->name = EntryNameFromUrl(QString::fromUtf8(webkit_uri_scheme_request_get_uri(request)));
  answer->mime = ChooseMimeType(answer->name);
  g_thread_pool_push(Workers(), answer, nullptr);
}

}  // namespace

void RegisterClientScheme(WebKitWebContext* context) {
  webkit_web_context_register_uri_scheme(context, "client", OnClientRequest, nullptr, nullptr);
  WebKitSecurityManager* security = webkit_web_context_get_security_manager(context);
  webkit_security_manager_register_uri_scheme_as_secure(security, "client");
  webkit_security_manager_register_uri_scheme_as_cors_enabled(security, "client");
  // Local like file: pages of the archive may show the files the app keeps on
  // disk (a download, say) by their file: URLs, as pages from a folder can.
  webkit_security_manager_register_uri_scheme_as_local(security, "client");
}

}  // namespace ombrix
