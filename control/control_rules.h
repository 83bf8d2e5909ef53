// The rules of the shell's control interface and metrics endpoint, free of any
// bus or socket: the bus name an app owns, the listen address and its token,
// the bearer check, and JSON text for the command-line tool.
#pragma once

#include <string>

namespace ombrix {

// Every shell's bus name starts so; the app's name follows.
constexpr char kKioskBusPrefix[] = "org.ombrix.Kiosk.";
constexpr char kKioskObjectPath[] = "/org/ombrix/Kiosk";
constexpr char kKioskInterface[] = "org.ombrix.Kiosk1";

// "org.ombrix.Kiosk." and app_utf8 with each character other than an ASCII
// letter, digit or "_" replaced by "_" ("shop-2" gives "org.ombrix.Kiosk.shop_2").
// A name that is empty or starts with a digit gets a "_" in front, as the
// bus wants; the whole is cut to the bus's 255 characters.
std::string BusNameForApp(const std::string& app_utf8);

// A token shorter than this is refused.
constexpr size_t kMinTokenLength = 16;

struct ListenAddress {
  std::string host;  // an IPv4 or IPv6 address, without brackets
  int port = 0;
  bool loopback = false;
};

// Reads "127.0.0.1:9464", "[::1]:9464", "localhost:9464", "0.0.0.0:9464":
// an IP address (or "localhost", which is 127.0.0.1) and a port from 1 to
// 65535. On failure returns false and says why in error.
bool ParseListen(const std::string& text, ListenAddress* address, std::string* error);

// The start-up line that refuses a listener on text with token (which may be
// empty), or "" when it may listen. An address other than loopback needs a
// token; a token given must have at least kMinTokenLength characters.
std::string ListenRefusal(const std::string& text, const std::string& token,
                          ListenAddress* address);

// Whether an "Authorization" header value (nullptr: none) carries token as
// "Bearer TOKEN". With no token every request passes.
bool BearerAccepted(const char* header, const std::string& token);

// text as a JSON string, quotes included.
std::string JsonString(const std::string& text);

}  // namespace ombrix
