#include "loopback_server.h"

#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace ombrix_test {

namespace {

// The request's head, or "" when the client went before it was complete.
std::string ReadHead(int client) {
  std::string request;
  char piece[4096];
  while (request.find("\r\n\r\n") == std::string::npos) {
    const ssize_t n = recv(client, piece, sizeof piece, 0);
    if (n <= 0) return "";
    request.append(piece, size_t(n));
  }
  return request.substr(0, request.find("\r\n\r\n") + 2);
}

// The path of the request line ("GET /path HTTP/1.1"), or "".
std::string PathOf(const std::string& head) {
  const size_t start = head.find(' ');
  if (start == std::string::npos) return "";
  return head.substr(start + 1, head.find(' ', start + 1) - start - 1);
}

}  // namespace

LoopbackServer::LoopbackServer(Handler handler, int port)
    : LoopbackServer(HeadHandler([handler = std::move(handler)](int client, const std::string& path,
                                                                const std::string&) {
                       handler(client, path);
                     }),
                     port) {}

LoopbackServer::LoopbackServer(HeadHandler handler, int port) : handler_(std::move(handler)) {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int reuse = 1;
  if (listener_ >= 0) setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(uint16_t(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      listen(listener_, 16) != 0) {
    std::perror("loopback server");
    std::abort();  // every test of it would fail later and less clearly
  }
  port_ = ntohs(address.sin_port);
  accepting_ = std::thread([this] { Accept(); });
}

LoopbackServer::~LoopbackServer() {
  shutdown(listener_, SHUT_RDWR);  // ends the waiting accept
  accepting_.join();
  close(listener_);
  std::unique_lock<std::mutex> lock(mutex_);
  for (const int client : served_) shutdown(client, SHUT_RDWR);
  done_.wait(lock, [this] { return served_.empty(); });
}

void LoopbackServer::Accept() {
  for (;;) {
    const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0 && (errno == EINTR || errno == ECONNABORTED)) continue;
    if (client < 0) return;  // shut down by the destructor
    std::lock_guard<std::mutex> lock(mutex_);
    served_.insert(client);
    std::thread([this, client] { Serve(client); }).detach();
  }
}

void LoopbackServer::Serve(int client) {
  const std::string head = ReadHead(client);
  const std::string path = PathOf(head);
  if (!path.empty()) handler_(client, path, head);
  std::lock_guard<std::mutex> lock(mutex_);
  close(client);  // under the lock, so the destructor never shuts down a reused number
  served_.erase(client);
  done_.notify_all();
}

std::string HeaderValue(const std::string& head, const std::string& name) {
  for (size_t line = head.find("\r\n"); line != std::string::npos;
       line = head.find("\r\n", line + 2)) {
    const size_t start = line + 2;
    const size_t colon = head.find(':', start);
    const size_t end = head.find("\r\n", start);
    if (colon == std::string::npos || colon > end || colon - start != name.size()) continue;
    if (strncasecmp(head.c_str() + start, name.c_str(), name.size()) != 0) continue;
    const size_t value = head.find_first_not_of(' ', colon + 1);
    return head.substr(value, end - value);
  }
  return "";
}

std::string ResponseHead(int status, long long length, const std::string& type,
                         const std::string& extra) {
  return "HTTP/1.1 " + std::to_string(status) +
         (status == 200   ? " OK"
          : status == 404 ? " Not Found"
                          : " Error") +
         "\r\nContent-Type: " + type + "\r\nContent-Length: " + std::to_string(length) + "\r\n" +
         extra + "Connection: close\r\n\r\n";
}

bool SendAll(int client, const char* data, size_t size) {
  for (size_t sent = 0; sent < size;) {
    const ssize_t n = send(client, data + sent, size - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += size_t(n);
  }
  return true;
}

bool SendAll(int client, const std::string& data) {
  return SendAll(client, data.data(), data.size());
}

}  // namespace ombrix_test
