// Fuzz target for what pages and vendors hand the shell as text: the
// manifest, caption-region strings and the query requests (window position,
// dialog requests, save settings, file filters). Inputs are valid examples
// with random changes; nothing may crash, read past a buffer or overflow, and
// a fitted position must stay inside the work area.
#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <random>

#include "app/manifest_util.h"
#include "browser/window_rules.h"
#include "samples/query_rules.h"
#include "tests/support/fuzz_options.h"

namespace {

const char* const kSeeds[] = {
    R"({"first_page":"file://${AppDir}/web/index.html","application_title":"T","multiple_process":false,
        "window":{"launch_state":"maximized","launch_x":10,"launch_y":20,"launch_width":800,
        "launch_height":600,"disable_resize":true},"cache_path":"${AppDir}/c","app_icon":"i.png"})",
    "0,0,800,30",
    "2147483647,-2147483648,2147483647,-2147483648",
    "WindowTest.Position:10,20,300,200",
    "WindowTest.Position:-5, 99999999999, 3, 4",
    "DialogTest.FileSave:filepath=/tmp/out.txt|filter=*.txt;*.log",
    "DialogTest.FileOpenMultiple",
    "filter=image/png,.jpg,*,*.*,",
};

void Require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz_parsers: %s\n", what);
  std::abort();
}

QByteArray Mutate(QByteArray text, std::mt19937& rng) {
  const int changes = int(rng() % 6);
  for (int i = 0; i < changes; ++i) {
    const int at = text.isEmpty() ? 0 : int(rng() % unsigned(text.size()));
    switch (rng() % 5) {
      case 0:
        if (!text.isEmpty()) text[at] = char(rng());
        break;
      case 1:
        text.truncate(at);
        break;
      case 2:
        text.insert(at, "9999999999,");
        break;
      case 3:
        text.insert(at, char(rng() % 2 ? ',' : '='));
        break;
      default:
        text.insert(at, QByteArray(int(rng() % 40), char(rng())));
        break;
    }
  }
  return text;
}

void RunOne(const QByteArray& input) {
  ManifestUtil manifest(QStringLiteral("fuzz.json"));
  manifest.SetContent(input);
  manifest.Parse();

  const QString text = QString::fromUtf8(input);
  const ombrix::Rect region = ombrix::ParseCaptionRegion(text);
  const ombrix::Rect window{0, 0, 1280, 1024};
  ombrix::HitTest(window, int(input.size()) % 1300, 7, {region}, false);

  const ombrix::Box area{0, 32, 1280, 992};
  if (const auto box = ombrix::PlaceByRequest(text, area)) {
    Require(box->width >= 1 && box->height >= 1, "empty placement");
    Require(box->x >= area.x && box->y >= area.y, "placed before the work area");
    Require(qint64(box->x) + box->width <= qint64(area.x) + area.width &&
                qint64(box->y) + box->height <= qint64(area.y) + area.height,
            "placed past the work area");
  }
  ombrix::ReadDialogRequest(text);
  const ombrix::SaveSettings settings = ombrix::ReadSaveSettings(text);
  ombrix::NextStartPath(text, text.left(20));
  ombrix::ReadFileFilter(text);
  (void)settings;
}

}  // namespace

int main(int argc, char** argv) {
  // The manifest's own diagnostics would drown the report.
  qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
  const long runs =
      ombrix_test::RunFuzz(ombrix_test::ReadFuzzOptions(argc, argv), [](std::mt19937& rng) {
        for (const char* seed : kSeeds) RunOne(Mutate(QByteArray(seed), rng));
        return long(std::size(kSeeds));
      });
  std::printf("fuzz_parsers: %ld inputs, no failure\n", runs);
  return 0;
}
