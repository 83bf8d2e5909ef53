// ombrix-ctl [--app NAME] [--json] status | reload | home | screenshot FILE | quit
// Steers a running shell through its interface on the session bus. With one
// shell on the bus, --app may be left out. Exits 0 on success, 1 when no
// shell answers (or the shell could not do it), 2 on a usage error.
#include <gio/gio.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "control/control_rules.h"

namespace {

const char kUsage[] =
    "usage: ombrix-ctl [--app NAME] [--json] COMMAND\n"
    "Steers a running ombrix shell on this session's bus.\n"
    "  status           prints the main page's address and state, its restarts,\n"
    "                   and the shell's start time, version and app name\n"
    "  reload           loads the main page again\n"
    "  home             goes back to the app's first page\n"
    "  screenshot FILE  writes a PNG of the page as shown to FILE\n"
    "  quit             ends the shell\n"
    "  --app NAME       the app's shell (needed when several run)\n"
    "  --json           status as one JSON object\n"
    "Exits 0 on success, 1 when no shell answers, 2 on a usage error.\n";

constexpr int kCallMs = 10000;
constexpr int kScreenshotMs = 30000;

struct Options {
  std::string app;
  bool json = false;
  std::string command;
  std::string file;
};

int Usage(const char* why) {
  if (why) std::fprintf(stderr, "ombrix-ctl: %s\n", why);
  std::fputs(kUsage, stderr);
  return 2;
}

// 0 to go on, otherwise the exit status.
int ParseOptions(int argc, char** argv, Options* options) {
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return -1;
    } else if (arg == "--json") {
      options->json = true;
    } else if (arg == "--app") {
      if (++i >= argc) return Usage("--app needs a name");
      options->app = argv[i];
    } else if (arg.rfind("--app=", 0) == 0) {
      options->app = arg.substr(6);
    } else if (arg.rfind("--", 0) == 0) {
      return Usage(("unknown option " + arg).c_str());
    } else {
      words.push_back(arg);
    }
  }
  if (words.empty()) return Usage("no command");
  options->command = words[0];
  const bool takes_file = options->command == "screenshot";
  const bool known = takes_file || options->command == "status" || options->command == "reload" ||
                     options->command == "home" || options->command == "quit";
  if (!known) return Usage(("unknown command " + options->command).c_str());
  if (takes_file && words.size() != 2) return Usage("screenshot needs one FILE");
  if (!takes_file && words.size() != 1) return Usage("too many arguments");
  if (takes_file) options->file = words[1];
  return 0;
}

// The shells' names on the bus.
std::vector<std::string> ShellNames(GDBusConnection* bus) {
  std::vector<std::string> names;
  GVariant* reply = g_dbus_connection_call_sync(
      bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "ListNames",
      nullptr, G_VARIANT_TYPE("(as)"), G_DBUS_CALL_FLAGS_NONE, kCallMs, nullptr, nullptr);
  if (!reply) return names;
  GVariantIter* iter = nullptr;
  g_variant_get(reply, "(as)", &iter);
  const gchar* name = nullptr;
  while (g_variant_iter_next(iter, "&s", &name)) {
    if (g_str_has_prefix(name, ombrix::kKioskBusPrefix)) names.push_back(name);
  }
  g_variant_iter_free(iter);
  g_variant_unref(reply);
  return names;
}

// The bus name to talk to; "" with the exit status in *status.
std::string ChooseShell(GDBusConnection* bus, const Options& options, int* status) {
  if (!options.app.empty()) {
    if (options.app.rfind(ombrix::kKioskBusPrefix, 0) == 0) return options.app;
    return ombrix::BusNameForApp(options.app);
  }
  const std::vector<std::string> names = ShellNames(bus);
  if (names.size() == 1) return names[0];
  if (names.empty()) {
    std::fprintf(stderr, "ombrix-ctl: no shell on this session's bus\n");
    *status = 1;
    return std::string();
  }
  std::fprintf(stderr, "ombrix-ctl: several shells run; name one with --app:\n");
  for (const std::string& name : names)
    std::fprintf(stderr, "  %s\n", name.substr(std::strlen(ombrix::kKioskBusPrefix)).c_str());
  *status = 2;
  return std::string();
}

GVariant* Call(GDBusConnection* bus, const std::string& name, const char* interface,
               const char* method, GVariant* parameters, const char* reply_type, int timeout_ms) {
  GError* error = nullptr;
  GVariant* reply =
      g_dbus_connection_call_sync(bus, name.c_str(), ombrix::kKioskObjectPath, interface, method,
                                  parameters, reply_type ? G_VARIANT_TYPE(reply_type) : nullptr,
                                  G_DBUS_CALL_FLAGS_NO_AUTO_START, timeout_ms, nullptr, &error);
  if (!reply) {
    const bool absent = g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
                        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER);
    if (absent) {
      std::fprintf(stderr, "ombrix-ctl: no shell answers as %s\n", name.c_str());
    } else {
      g_dbus_error_strip_remote_error(error);
      std::fprintf(stderr, "ombrix-ctl: %s: %s\n", method, error->message);
    }
    g_clear_error(&error);
  }
  return reply;
}

std::string Text(GVariant* value) {
  if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING))
    return g_variant_get_string(value, nullptr);
  if (g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN))
    return g_variant_get_boolean(value) ? "true" : "false";
  if (g_variant_is_of_type(value, G_VARIANT_TYPE_UINT32))
    return std::to_string(g_variant_get_uint32(value));
  if (g_variant_is_of_type(value, G_VARIANT_TYPE_UINT64))
    return std::to_string(g_variant_get_uint64(value));
  gchar* printed = g_variant_print(value, FALSE);
  const std::string text = printed;
  g_free(printed);
  return text;
}

const char* const kStatusOrder[] = {"AppName",    "Version",  "Url",      "State",
                                    "Responsive", "Restarts", "StartTime"};

int Status(GDBusConnection* bus, const std::string& name, bool json) {
  GVariant* reply = Call(bus, name, "org.freedesktop.DBus.Properties", "GetAll",
                         g_variant_new("(s)", ombrix::kKioskInterface), "(a{sv})", kCallMs);
  if (!reply) return 1;
  GVariant* properties = g_variant_get_child_value(reply, 0);
  std::string out = json ? "{" : "";
  bool first = true;
  for (const char* key : kStatusOrder) {
    GVariant* value = g_variant_lookup_value(properties, key, nullptr);
    if (!value) continue;
    const std::string text = Text(value);
    const bool quoted = g_variant_is_of_type(value, G_VARIANT_TYPE_STRING);
    g_variant_unref(value);
    if (json) {
      out += std::string(first ? "" : ",") + ombrix::JsonString(key) + ":" +
             (quoted ? ombrix::JsonString(text) : text);
    } else {
      out += std::string(key) + ": " + text + "\n";
    }
    first = false;
  }
  if (json) out += "}\n";
  std::fputs(out.c_str(), stdout);
  g_variant_unref(properties);
  g_variant_unref(reply);
  return 0;
}

int Screenshot(GDBusConnection* bus, const std::string& name, const std::string& file) {
  // The shell writes the file; a relative name is this folder's.
  gchar* absolute = g_canonicalize_filename(file.c_str(), nullptr);
  GVariant* reply = Call(bus, name, ombrix::kKioskInterface, "Screenshot",
                         g_variant_new("(s)", absolute), "(s)", kScreenshotMs);
  g_free(absolute);
  if (!reply) return 1;
  const gchar* written = nullptr;
  g_variant_get(reply, "(&s)", &written);
  std::printf("%s\n", written);
  g_variant_unref(reply);
  return 0;
}

int Plain(GDBusConnection* bus, const std::string& name, const std::string& command) {
  const char* method = command == "reload" ? "Reload" : command == "home" ? "Home" : "Quit";
  GVariant* reply = Call(bus, name, ombrix::kKioskInterface, method, nullptr, "()", kCallMs);
  if (!reply) return 1;
  g_variant_unref(reply);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  const int parsed = ParseOptions(argc, argv, &options);
  if (parsed != 0) return parsed < 0 ? 0 : parsed;
  GError* error = nullptr;
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  if (!bus) {
    std::fprintf(stderr, "ombrix-ctl: no session bus: %s\n", error ? error->message : "");
    g_clear_error(&error);
    return 1;
  }
  int status = 0;
  const std::string name = ChooseShell(bus, options, &status);
  if (!name.empty()) {
    if (options.command == "status") {
      status = Status(bus, name, options.json);
    } else if (options.command == "screenshot") {
      status = Screenshot(bus, name, options.file);
    } else {
      status = Plain(bus, name, options.command);
    }
  }
  g_object_unref(bus);
  return status;
}
