#include "control/metrics_server.h"

#include <QDebug>
#include <cstring>
#include <utility>

#include "control/control_rules.h"

namespace ombrix {
namespace {

// A request must be all there (line, headers) within this many seconds; a
// kept-alive connection that sends nothing more is closed after as long.
constexpr guint kRequestSeconds = 5;
const char kDeadlineKey[] = "ombrix-deadline";

struct Deadline {
  SoupServerMessage* message;
  guint source = 0;
};

gboolean OnDeadline(gpointer data) {
  auto* deadline = static_cast<Deadline*>(data);
  deadline->source = 0;
  qDebug() << "metrics: a request did not arrive in time; its connection is closed";
  // The read under way ends; the server drops the connection.
  GSocket* socket = soup_server_message_get_socket(deadline->message);
  if (socket) g_socket_shutdown(socket, TRUE, TRUE, nullptr);
  return G_SOURCE_REMOVE;
}

void DropDeadline(gpointer data) {
  auto* deadline = static_cast<Deadline*>(data);
  if (deadline->source) g_source_remove(deadline->source);
  delete deadline;
}

void Respond(SoupServerMessage* message, guint status, const char* type, const std::string& body) {
  soup_server_message_set_status(message, status, nullptr);
  soup_server_message_set_response(message, type, SOUP_MEMORY_COPY, body.data(), body.size());
}

}  // namespace

MetricsServer::MetricsServer(std::string token, Source source)
    : token_(std::move(token)), source_(std::move(source)) {}

std::unique_ptr<MetricsServer> MetricsServer::Start(const std::string& listen,
                                                    const std::string& token, Source source,
                                                    std::string* refusal) {
  ListenAddress address;
  *refusal = ListenRefusal(listen, token, &address);
  if (!refusal->empty()) return nullptr;
  std::unique_ptr<MetricsServer> metrics(new MetricsServer(token, std::move(source)));
  metrics->server_ = soup_server_new("server-header", "ombrix", nullptr);
  g_signal_connect(metrics->server_, "request-started", G_CALLBACK(OnRequestStarted),
                   metrics.get());
  g_signal_connect(metrics->server_, "request-read", G_CALLBACK(OnRequestRead), metrics.get());
  soup_server_add_handler(metrics->server_, nullptr, OnRequest, metrics.get(), nullptr);
  GSocketAddress* socket_address =
      g_inet_socket_address_new_from_string(address.host.c_str(), guint(address.port));
  GError* error = nullptr;
  const bool listening = socket_address && soup_server_listen(metrics->server_, socket_address,
                                                              SoupServerListenOptions(0), &error);
  if (socket_address) g_object_unref(socket_address);
  if (!listening) {
    *refusal = "metrics: cannot listen on " + listen + ": " +
               (error ? error->message : "not an address") +
               "; the shell runs without a metrics listener";
    g_clear_error(&error);
    return nullptr;
  }
  metrics->port_ = address.port;
  qDebug() << "metrics: listening on" << listen.c_str() << (token.empty() ? "" : "(with a token)");
  return metrics;
}

MetricsServer::~MetricsServer() {
  if (!server_) return;
  soup_server_disconnect(server_);
  g_signal_handlers_disconnect_by_data(server_, this);
  g_object_unref(server_);
}

void MetricsServer::OnRequestStarted(SoupServer*, SoupServerMessage* message, gpointer) {
  auto* deadline = new Deadline{message};
  deadline->source = g_timeout_add_seconds(kRequestSeconds, OnDeadline, deadline);
  g_object_set_data_full(G_OBJECT(message), kDeadlineKey, deadline, DropDeadline);
  // Nor may a client that stops reading hold the answer for longer.
  GSocket* socket = soup_server_message_get_socket(message);
  if (socket) g_socket_set_timeout(socket, kRequestSeconds);
}

void MetricsServer::OnRequestRead(SoupServer*, SoupServerMessage* message, gpointer) {
  g_object_set_data(G_OBJECT(message), kDeadlineKey, nullptr);
}

void MetricsServer::OnRequest(SoupServer*, SoupServerMessage* message, const char* path,
                              GHashTable*, gpointer self) {
  static_cast<MetricsServer*>(self)->Answer(message, path);
}

void MetricsServer::Answer(SoupServerMessage* message, const char* path) {
  const char* method = soup_server_message_get_method(message);
  const char* authorization = soup_message_headers_get_one(
      soup_server_message_get_request_headers(message), "Authorization");
  if (!BearerAccepted(authorization, token_)) {
    soup_message_headers_replace(soup_server_message_get_response_headers(message),
                                 "WWW-Authenticate", "Bearer");
    return Respond(message, SOUP_STATUS_UNAUTHORIZED, "text/plain", "a bearer token is needed\n");
  }
  const bool metrics = std::strcmp(path, "/metrics") == 0;
  const bool health = std::strcmp(path, "/healthz") == 0;
  if (!metrics && !health)
    return Respond(message, SOUP_STATUS_NOT_FOUND, "text/plain", "not here\n");
  if (std::strcmp(method, "GET") != 0 && std::strcmp(method, "HEAD") != 0) {
    soup_message_headers_replace(soup_server_message_get_response_headers(message), "Allow",
                                 "GET, HEAD");
    return Respond(message, SOUP_STATUS_METHOD_NOT_ALLOWED, "text/plain", "only GET\n");
  }
  const MetricsFigures figures = source_();
  if (metrics) return Respond(message, SOUP_STATUS_OK, kMetricsContentType, MetricsText(figures));
  const HealthAnswer answer = Health(figures.page_state, figures.page_responsive);
  Respond(message, guint(answer.status), "text/plain; charset=utf-8", answer.body + "\n");
}

}  // namespace ombrix
