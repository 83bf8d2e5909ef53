#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace ombrix_test {

// An HTTP server on 127.0.0.1 for tests and benchmarks. Each connection is
// served on a thread of its own: once the request's head has arrived, the
// handler gets the socket and the request's path and writes the answer; the
// server closes the socket when the handler returns. Ending the server shuts
// down the sockets still served (a handler waiting on one wakes up) and waits
// for their handlers.
class LoopbackServer {
 public:
  using Handler = std::function<void(int client, const std::string& path)>;
  // Also given the request's head (request line and header lines).
  using HeadHandler =
      std::function<void(int client, const std::string& path, const std::string& head)>;
  // port 0: any free port; another: that one (a server that comes back).
  explicit LoopbackServer(Handler handler, int port = 0);
  explicit LoopbackServer(HeadHandler handler, int port = 0);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;
  int port() const { return port_; }

 private:
  void Accept();
  void Serve(int client);
  HeadHandler handler_;
  int listener_ = -1;
  int port_ = 0;
  std::mutex mutex_;  // guards served_
  std::condition_variable done_;
  std::set<int> served_;
  std::thread accepting_;
};

// The head of an answer that closes its connection; extra holds further
// header lines, each ending in "\r\n".
std::string ResponseHead(int status, long long length, const std::string& type = "text/plain",
                         const std::string& extra = "");

// The value of a header line of head ("" when it has none); the name is
// matched without regard to case.
std::string HeaderValue(const std::string& head, const std::string& name);

// Writes all of data; false once the client has gone.
bool SendAll(int client, const char* data, size_t size);
bool SendAll(int client, const std::string& data);

}  // namespace ombrix_test
