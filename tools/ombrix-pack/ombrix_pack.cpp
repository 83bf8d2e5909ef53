// ombrix-pack: builds the content archive an ombrix app ships in.
//
//   ombrix-pack <folder> [archive]
//
// Every file below the folder becomes an entry (its path relative to the
// folder, with "/"), deflated and encrypted with the archive password. The
// archive defaults to "ombrix.data" in the working directory; name it after the
// shell's executable (an app shell named "kiosk" reads "kiosk.data").
#include <QString>
#include <cstdio>
#include <cstring>

#include "scheme/archive_writer.h"

namespace {

const char kUsage[] =
    "usage: ombrix-pack <folder> [archive]\n"
    "Packs every file below <folder> into the content archive an ombrix app\n"
    "serves as client: URLs (client:///index.html for <folder>/index.html).\n"
    "\n"
    "  archive   the archive to write (default: ombrix.data in the working\n"
    "            directory); name it after the app: a shell or link named\n"
    "            kiosk reads kiosk.data in its folder\n"
    "  --help    show this text\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc < 2 || argc > 3) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  const QString archive =
      argc == 3 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("ombrix.data");
  QString error;
  const int count = ombrix::PackFolder(folder, archive, &error);
  if (count < 0) {
    std::fprintf(stderr, "ombrix-pack: %s\n", error.toLocal8Bit().constData());
    return 1;
  }
  std::printf("%d files packed into %s\n", count, archive.toLocal8Bit().constData());
  return 0;
}
