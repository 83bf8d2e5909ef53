#include "control/control_rules.h"

#include <arpa/inet.h>
#include <strings.h>

#include <cstdio>
#include <cstring>

namespace ombrix {
namespace {

constexpr size_t kBusNameLimit = 255;

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// A UTF-8 continuation byte belongs to the character before it.
bool Continues(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

bool ParsePort(const std::string& text, int* port) {
  if (text.empty() || text.size() > 5) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > 65535) return false;
  *port = value;
  return true;
}

bool IsLoopback(const std::string& host) {
  in_addr v4;
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6;
  if (inet_pton(AF_INET6, host.c_str(), &v6) != 1) return false;
  static const unsigned char kLoopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  static const unsigned char kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
  if (std::memcmp(v6.s6_addr, kLoopback, 16) == 0) return true;
  return std::memcmp(v6.s6_addr, kMapped, 12) == 0 && v6.s6_addr[12] == 127;
}

bool IsAddress(const std::string& host, bool bracketed) {
  unsigned char buffer[16];
  if (bracketed) return inet_pton(AF_INET6, host.c_str(), buffer) == 1;
  return inet_pton(AF_INET, host.c_str(), buffer) == 1;
}

// Splits "HOST:PORT" or "[HOST]:PORT".
bool SplitHostPort(const std::string& text, std::string* host, std::string* port, bool* bracketed) {
  *bracketed = !text.empty() && text[0] == '[';
  if (*bracketed) {
    const size_t close = text.find(']');
    if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':')
      return false;
    *host = text.substr(1, close - 1);
    *port = text.substr(close + 2);
    return true;
  }
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || text.find(':') != colon) return false;
  *host = text.substr(0, colon);
  *port = text.substr(colon + 1);
  return true;
}

}  // namespace

std::string BusNameForApp(const std::string& app_utf8) {
  std::string element;
  for (char c : app_utf8) {
    if (Continues(c)) continue;
    element += IsNameChar(c) ? c : '_';
  }
  if (element.empty() || (element[0] >= '0' && element[0] <= '9')) element.insert(0, "_");
  std::string name = std::string(kKioskBusPrefix) + element;
  if (name.size() > kBusNameLimit) name.resize(kBusNameLimit);
  return name;
}

bool ParseListen(const std::string& text, ListenAddress* address, std::string* error) {
  std::string host, port;
  bool bracketed = false;
  if (!SplitHostPort(text, &host, &port, &bracketed)) {
    *error = "it should be an address and a port, such as \"127.0.0.1:9464\"";
    return false;
  }
  if (!ParsePort(port, &address->port)) {
    *error = "its port should be a number from 1 to 65535";
    return false;
  }
  if (!bracketed && host == "localhost") host = "127.0.0.1";
  if (!IsAddress(host, bracketed)) {
    *error = "its host should be an IP address (IPv6 in brackets, such as \"[::1]:9464\")";
    return false;
  }
  address->host = host;
  address->loopback = IsLoopback(host);
  return true;
}

std::string ListenRefusal(const std::string& text, const std::string& token,
                          ListenAddress* address) {
  const std::string head = "metrics: \"metrics.listen\" is \"" + text + "\": ";
  const std::string tail = "; the shell runs without a metrics listener";
  std::string error;
  if (!ParseListen(text, address, &error)) return head + error + tail;
  if (!token.empty() && token.size() < kMinTokenLength) {
    return "metrics: \"metrics.token\" has " + std::to_string(token.size()) +
           " characters, it needs at least " + std::to_string(kMinTokenLength) + tail;
  }
  if (token.empty() && !address->loopback) {
    return head + "an address other than loopback needs \"metrics.token\" (at least " +
           std::to_string(kMinTokenLength) + " characters)" + tail;
  }
  return std::string();
}

bool BearerAccepted(const char* header, const std::string& token) {
  if (token.empty()) return true;
  if (!header) return false;
  const std::string value = header;
  if (value.size() < 7 || strncasecmp(value.c_str(), "Bearer ", 7) != 0) return false;
  const std::string given = value.substr(7);
  // Every character is compared, so the time taken tells nothing of the token.
  unsigned char differs = given.size() != token.size();
  for (size_t i = 0; i < token.size(); ++i)
    differs |= static_cast<unsigned char>(token[i] ^ (i < given.size() ? given[i] : 0));
  return differs == 0;
}

std::string JsonString(const std::string& text) {
  std::string json = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        json += "\\\"";
        break;
      case '\\':
        json += "\\\\";
        break;
      case '\n':
        json += "\\n";
        break;
      case '\r':
        json += "\\r";
        break;
      case '\t':
        json += "\\t";
        break;
      default:
        if (c < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          json += escaped;
        } else {
          json += static_cast<char>(c);
        }
    }
  }
  return json + "\"";
}

}  // namespace ombrix
