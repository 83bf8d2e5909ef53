// The shell's metrics endpoint: GET /metrics (Prometheus' text format) and
// GET /healthz, served by libsoup's SoupServer on the shell's main loop. It
// never waits on a client: a request that is not all there within 5 s is
// dropped, so a slow or broken client stalls neither the window nor others.
#pragma once

#include <libsoup/soup.h>

#include <functional>
#include <memory>
#include <string>

#include "control/metrics_text.h"

namespace ombrix {

class MetricsServer {
 public:
  using Source = std::function<MetricsFigures()>;

  // Listens on listen ("127.0.0.1:9464") with token ("" for none). On a
  // refusal returns nullptr and says why in *refusal, a line for the shell's
  // output.
  static std::unique_ptr<MetricsServer> Start(const std::string& listen, const std::string& token,
                                              Source source, std::string* refusal);
  ~MetricsServer();
  MetricsServer(const MetricsServer&) = delete;
  MetricsServer& operator=(const MetricsServer&) = delete;

  // The port it listens on (the one asked for).
  int port() const { return port_; }

 private:
  MetricsServer(std::string token, Source source);
  static void OnRequest(SoupServer* server, SoupServerMessage* message, const char* path,
                        GHashTable* query, gpointer self);
  static void OnRequestStarted(SoupServer* server, SoupServerMessage* message, gpointer self);
  static void OnRequestRead(SoupServer* server, SoupServerMessage* message, gpointer self);
  void Answer(SoupServerMessage* message, const char* path);

  std::string token_;
  Source source_;
  SoupServer* server_ = nullptr;
  int port_ = 0;
};

}  // namespace ombrix
