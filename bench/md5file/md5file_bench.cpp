// ombrix.tool.md5file of a large file from a page against md5sum of the same
// file, and how much the page's process grows while it hashes. The page runs in
// a web view that loads the shell's own page-side extension.
#include <dirent.h>
#include <webkit2/webkit2.h>

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "bench/common/extension_view.h"

namespace {

constexpr const char* kPage = R"(<!DOCTYPE html><html><body><script>
// Hashes twice and reports the better time, as md5sum's is taken.
window.hashFile = function(path, best, round) {
  best = best || Infinity;
  round = round || 0;
  const start = performance.now();
  ombrix.tool.md5file(path, function(digest) {
    best = Math.min(best, performance.now() - start);
    if (round === 0) return hashFile(path, best, 1);
    window.webkit.messageHandlers.done.postMessage(JSON.stringify({digest: digest, ms: best}));
  });
};
window.webkit.messageHandlers.ready.postMessage('');
</script></body></html>)";

struct Run {
  QString path;
  WebKitWebView* view = nullptr;
  QByteArray status_file;  // /proc/<web process>/status
  long idle_kb = 0;
  std::atomic<long> peak_kb{0};
  std::atomic<bool> hashing{false};
  std::thread sampler;
  QJsonObject result;
};

// The status file of the web process this program started.
QByteArray WebProcessStatusFile() {
  DIR* proc = opendir("/proc");
  const QByteArray self = QByteArray::number(getpid());
  QByteArray found;
  while (const dirent* entry = proc ? readdir(proc) : nullptr) {
    const QByteArray name = QByteArray("/proc/") + entry->d_name + "/status";
    QFile status(QString::fromLatin1(name));
    if (!status.open(QIODevice::ReadOnly)) continue;
    const QByteArray text = status.readAll();
    if (text.startsWith("Name:\tWebKitWebProces") && text.contains("\nPPid:\t" + self + "\n")) {
      found = name;
    }
  }
  if (proc) closedir(proc);
  return found;
}

long RssKb(const QByteArray& status_file) {
  QFile status(QString::fromLatin1(status_file));
  if (!status.open(QIODevice::ReadOnly)) return 0;
  const QByteArray text = status.readAll();
  const int at = text.indexOf("VmRSS:");
  return at < 0 ? 0 : std::atol(text.constData() + at + 6);
}

// Samples the web process's resident memory every 5 ms while it hashes.
void Sample(Run* run) {
  while (run->hashing) {
    const long now = RssKb(run->status_file);
    if (now > run->peak_kb) run->peak_kb = now;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void OnReady(WebKitUserContentManager*, WebKitJavascriptResult*, gpointer data) {
  auto* run = static_cast<Run*>(data);
  run->status_file = WebProcessStatusFile();
  run->idle_kb = run->peak_kb = RssKb(run->status_file);
  run->hashing = true;
  run->sampler = std::thread(Sample, run);
  const QByteArray call = "hashFile(" +
                          QJsonDocument(QJsonObject{{"p", run->path}})
                              .toJson(QJsonDocument::Compact)
                              .mid(5)
                              .chopped(1) +
                          ")";
  webkit_web_view_evaluate_javascript(run->view, call.constData(), -1, nullptr, nullptr, nullptr,
                                      nullptr, nullptr);
}

void OnDone(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer data) {
  auto* run = static_cast<Run*>(data);
  run->hashing = false;
  run->sampler.join();
  char* text = jsc_value_to_string(webkit_javascript_result_get_js_value(result));
  run->result = QJsonDocument::fromJson(QByteArray(text)).object();
  g_free(text);
  gtk_main_quit();
}

gboolean OnTimeout(gpointer) {
  std::fprintf(stderr, "md5file benchmark timed out\n");
  gtk_main_quit();
  return G_SOURCE_REMOVE;
}

// A file of size bytes of varied content.
bool MakeFile(const QString& path, qint64 size) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  QByteArray block(1 << 20, Qt::Uninitialized);
  quint64 state = 0x9E3779B97F4A7C15ull;
  for (qint64 written = 0; written < size; written += block.size()) {
    for (int i = 0; i + 8 <= block.size(); i += 8) {
      state ^= state << 13, state ^= state >> 7, state ^= state << 17;
      std::memcpy(block.data() + i, &state, 8);
    }
    if (file.write(block.constData(), std::min<qint64>(block.size(), size - written)) < 0) {
      return false;
    }
  }
  return true;
}

// md5sum's digest and seconds (the better of two runs, the file cached).
QString Md5sum(const QString& path, double* seconds) {
  QString digest;
  *seconds = 1e9;
  for (int round = 0; round < 2; ++round) {
    QElapsedTimer timer;
    timer.start();
    QProcess md5sum;
    md5sum.start(QStringLiteral("md5sum"), {path});
    md5sum.waitForFinished(-1);
    *seconds = std::min(*seconds, timer.nsecsElapsed() / 1e9);
    digest = QString::fromLatin1(md5sum.readAllStandardOutput().left(32));
  }
  return digest;
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = (argc > 1 && std::strcmp(argv[1], "--quick") == 0) || qgetenv("CI") == "true";
  const qint64 size = (quick ? 64ll : 1024ll) << 20;
  gtk_init(&argc, &argv);
  QTemporaryDir dir;
  Run run;
  run.path = dir.path() + "/big.bin";
  if (!MakeFile(run.path, size)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(run.path));
    return 1;
  }
  double md5sum_seconds = 0;
  const QString expected = Md5sum(run.path, &md5sum_seconds);

  WebKitUserContentManager* content = webkit_user_content_manager_new();
  run.view = OpenExtensionView(dir.path(), content);
  webkit_user_content_manager_register_script_message_handler(content, "ready");
  webkit_user_content_manager_register_script_message_handler(content, "done");
  g_signal_connect(content, "script-message-received::ready", G_CALLBACK(OnReady), &run);
  g_signal_connect(content, "script-message-received::done", G_CALLBACK(OnDone), &run);
  webkit_web_view_load_html(run.view, kPage, "file:///bench/");
  g_timeout_add_seconds(240, OnTimeout, nullptr);
  gtk_main();

  if (run.result.isEmpty()) {
    run.hashing = false;
    if (run.sampler.joinable()) run.sampler.join();
    return 1;
  }
  const double page_seconds = run.result["ms"].toDouble() / 1000;
  const double mb = double(size) / (1 << 20);
  const bool same = run.result["digest"].toString() == expected;
  std::printf("file: %.0f MB, digests %s\n", mb, same ? "agree" : "DIFFER");
  std::printf("md5sum:         %8.1f MB/s\n", mb / md5sum_seconds);
  std::printf("tool.md5file:   %8.1f MB/s  (%.2fx md5sum; target >= 0.9x)\n", mb / page_seconds,
              md5sum_seconds / page_seconds);
  std::printf(
      "page process:   %8.1f MB idle, %.1f MB peak, +%.1f MB while hashing (target <= 32 MB)\n",
      run.idle_kb / 1024.0, run.peak_kb / 1024.0, (run.peak_kb - run.idle_kb) / 1024.0);
  if (run.status_file.isEmpty()) std::printf("(the page process was not found)\n");
  return same ? 0 : 1;
}
