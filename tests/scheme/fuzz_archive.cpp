// Fuzz target for the content archive reader: damaged archives (bytes changed,
// cut short, lengths that lie, names with ".." and escapes) must give a clean
// "not found" or some bytes, never a crash, a read past a buffer or more bytes
// than the entry's recorded size.
//
// main() mutates a valid archive in a seeded, time-bounded loop.
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "scheme/archive_writer.h"
#include "scheme/content_archive.h"
#include "tests/support/fuzz_options.h"

namespace {

using ombrix::ArchiveWriter;

const char* const kNames[] = {"index.html", "js/app.js", "../etc/passwd", "img/a.png",
                              "empty.txt",  "%2e%2e/x",  "INDEX.HTML"};

void Require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz_archive: %s\n", what);
  std::abort();
}

QByteArray ValidArchive(const QString& path) {
  ArchiveWriter writer;
  writer.Open(path);
  QByteArray text;
  for (int i = 0; i < 3000; ++i) text += char('a' + i % 23);
  writer.Add("index.html", "<h1>hello</h1>", ArchiveWriter::Method::kDeflated, true);
  writer.Add("js/app.js", text, ArchiveWriter::Method::kDeflated, false);
  writer.Add("../etc/passwd", "root", ArchiveWriter::Method::kStored, true);
  writer.Add("img/a.png", QByteArray(700, '\x89'), ArchiveWriter::Method::kStored, false);
  writer.Add("empty.txt", "", ArchiveWriter::Method::kDeflated, true);
  writer.Close();
  QFile file(path);
  file.open(QIODevice::ReadOnly);
  return file.readAll();
}

void ReadEvery(const QString& path) {
  ombrix::ContentArchive archive;
  archive.Open(path);
  for (const char* name : kNames) {
    const qint64 size = archive.OpenEntry(QString::fromUtf8(name));
    qint64 total = 0;
    char piece[512];
    for (qint64 n; (n = archive.ReadEntry(piece, sizeof piece)) > 0;) {
      Require(n <= qint64(sizeof piece), "piece larger than asked");
      total += n;
    }
    Require(size >= 0 || total == 0, "bytes from a missing entry");
    Require(total <= qMax<qint64>(size, 0), "more bytes than the entry's size");
  }
}

QByteArray Mutate(QByteArray data, std::mt19937& rng) {
  const int changes = 1 + int(rng() % 8);
  for (int i = 0; i < changes && !data.isEmpty(); ++i) {
    const int at = int(rng() % unsigned(data.size()));
    switch (rng() % 4) {
      case 0:
        data[at] = char(rng());
        break;
      case 1:
        data.truncate(at);
        break;
      case 2:  // a length field that lies
        for (int k = 0; k < 4 && at + k < data.size(); ++k) data[at + k] = char(0xff);
        break;
      default:
        data.insert(at, char(rng()));
        break;
    }
  }
  return data;
}

}  // namespace

int main(int argc, char** argv) {
  QTemporaryDir dir;
  const QString valid_path = dir.filePath("valid.data");
  const QString path = dir.filePath("fuzz.data");
  const QByteArray valid = ValidArchive(valid_path);
  Require(valid.size() > 100, "no valid archive to start from");
  std::fflush(stdout);
  const int quiet = dup(1);  // the reader's status lines would drown the report
  Require(std::freopen("/dev/null", "w", stdout) != nullptr, "no /dev/null");
  const long runs =
      ombrix_test::RunFuzz(ombrix_test::ReadFuzzOptions(argc, argv), [&](std::mt19937& rng) {
        QFile file(path);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(Mutate(valid, rng));
        file.close();
        ReadEvery(path);
        return 1L;
      });
  std::fflush(stdout);
  dup2(quiet, 1);
  std::printf("fuzz_archive: %ld archives, no failure\n", runs);
  return 0;
}
