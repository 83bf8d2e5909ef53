#include "scheme/archive_writer.h"

#include <minizip/zip.h>
#include <stdio.h>
#include <zlib.h>

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRandomGenerator>
#include <QStringList>
#include <utility>

#include "scheme/content_archive.h"
#include "scheme/zip_crypto.h"

namespace ombrix {
namespace {

constexpr int kPiece = 1 << 16;

zipFile Zip(void* zip) { return static_cast<zipFile>(zip); }

// Reads a file in pieces, handing each to use; false when reading fails.
bool EachPiece(const QString& path, const std::function<bool(const char*, int)>& use) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  QByteArray piece(kPiece, Qt::Uninitialized);
  for (;;) {
    const qint64 n = file.read(piece.data(), kPiece);
    if (n < 0) return false;
    if (n == 0) return true;
    if (!use(piece.constData(), int(n))) return false;
  }
}

QStringList FilesBelow(const QString& folder) {
  QStringList names;
  QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::NoSymLinks,
                  QDirIterator::Subdirectories);
  const QDir root(QFileInfo(folder).absoluteFilePath());
  while (it.hasNext()) {
    it.next();
    names << root.relativeFilePath(it.fileInfo().absoluteFilePath());
  }
  names.sort();
  return names;
}

// Turns an entry's bytes into what the archive holds: deflated when asked,
// then encrypted (after a header whose last byte is the CRC's high byte).
class EntryEncoder {
 public:
  EntryEncoder(bool deflate, bool encrypt, unsigned long crc)
      : crypto_(kContentArchivePassword), deflate_(deflate), encrypt_(encrypt) {
    if (deflate_)
      deflateInit2(&stream_, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    if (!encrypt_) return;
    char header[ZipCrypto::kHeaderSize];
    QRandomGenerator::system()->generate(header, header + sizeof header - 1);
    header[sizeof header - 1] = char(crc >> 24);
    Emit(header, sizeof header);
  }
  ~EntryEncoder() {
    if (deflate_) deflateEnd(&stream_);
  }

  void Feed(const char* data, int size, bool last) {
    if (!deflate_) return Emit(data, size);
    stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    stream_.avail_in = uInt(size);
    char out[kPiece];
    do {
      stream_.next_out = reinterpret_cast<Bytef*>(out);
      stream_.avail_out = sizeof out;
      deflate(&stream_, last ? Z_FINISH : Z_NO_FLUSH);
      Emit(out, int(sizeof out - stream_.avail_out));
    } while (stream_.avail_out == 0 || (last && stream_.avail_in > 0));
  }

  // The bytes made so far, taken by the caller.
  QByteArray Take() { return std::exchange(output_, QByteArray()); }

 private:
  void Emit(const char* data, int size) {
    const int at = output_.size();
    output_.append(data, size);
    if (encrypt_) crypto_.Encrypt(output_.data() + at, size_t(size));
  }

  ZipCrypto crypto_;
  bool deflate_;
  bool encrypt_;
  z_stream stream_{};
  QByteArray output_;
};

}  // namespace

ArchiveWriter::~ArchiveWriter() {
  if (zip_) zipClose(Zip(zip_), nullptr);
}

bool ArchiveWriter::Open(const QString& path) {
  zip_ = zipOpen64(QFile::encodeName(path).constData(), APPEND_STATUS_CREATE);
  return zip_ != nullptr;
}

bool ArchiveWriter::AddEntry(const QString& name, unsigned long crc, qint64 size, Method method,
                             bool encrypted, const PieceSource& source) {
  if (!zip_) return false;
  zip_fileinfo info{};
  const QDateTime now = QDateTime::currentDateTime();
  info.tmz_date = {uInt(now.time().second()),    uInt(now.time().minute()),
                   uInt(now.time().hour()),      uInt(now.date().day()),
                   uInt(now.date().month() - 1), uInt(now.date().year())};
  const QByteArray utf8 = name.toUtf8();
  const bool deflate = method == Method::kDeflated;
  const uLong flags = (1 << 11) /* UTF-8 name */ | (encrypted ? 1 : 0);
  if (zipOpenNewFileInZip4_64(Zip(zip_), utf8.constData(), &info, nullptr, 0, nullptr, 0, nullptr,
                              deflate ? Z_DEFLATED : 0, deflate ? Z_BEST_COMPRESSION : 0, 1,
                              -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0, 0, flags,
                              size >= 0xffffffffLL ? 1 : 0) != ZIP_OK) {
    return false;
  }
  EntryEncoder encoder(deflate, encrypted, crc);
  const auto write = [&](const QByteArray& bytes) {
    return bytes.isEmpty() ||
           zipWriteInFileInZip(Zip(zip_), bytes.constData(), unsigned(bytes.size())) == ZIP_OK;
  };
  bool written = source([&](const char* data, int n) {
    encoder.Feed(data, n, false);
    return write(encoder.Take());
  });
  encoder.Feed(nullptr, 0, true);
  written = write(encoder.Take()) && written;
  return zipCloseFileInZipRaw64(Zip(zip_), ZPOS64_T(size), crc) == ZIP_OK && written;
}

bool ArchiveWriter::Add(const QString& name, const QByteArray& data, Method method,
                        bool encrypted) {
  const unsigned long crc =
      crc32(0, reinterpret_cast<const Bytef*>(data.constData()), uInt(data.size()));
  return AddEntry(name, crc, data.size(), method, encrypted, [&](const auto& write) {
    return data.isEmpty() || write(data.constData(), data.size());
  });
}

bool ArchiveWriter::AddFile(const QString& name, const QString& path, Method method,
                            bool encrypted) {
  uLong crc = crc32(0, nullptr, 0);
  if (!EachPiece(path, [&crc](const char* data, int size) {
        crc = crc32(crc, reinterpret_cast<const Bytef*>(data), uInt(size));
        return true;
      })) {
    return false;
  }
  return AddEntry(name, crc, QFileInfo(path).size(), method, encrypted,
                  [&](const auto& write) { return EachPiece(path, write); });
}

bool ArchiveWriter::Close() {
  if (!zip_) return false;
  const bool closed = zipClose(Zip(zip_), nullptr) == ZIP_OK;
  zip_ = nullptr;
  return closed;
}

int PackFolder(const QString& folder, const QString& path, QString* error) {
  if (!QFileInfo(folder).isDir()) {
    *error = QStringLiteral("not a folder: %1").arg(folder);
    return -1;
  }
  const QString partial = path + QStringLiteral(".partial");
  const QStringList names = FilesBelow(folder);
  // A file no page could ask for would be packed and never served: refused.
  QStringList unservable;
  for (const QString& name : names) {
    if (!IsServableEntryName(name)) unservable << name;
  }
  if (!unservable.isEmpty()) {
    *error = QStringLiteral(
                 "no page can ask for a file whose name holds \"?\", \"#\" or \"%\"; "
                 "rename it:\n  ") +
             unservable.join(QStringLiteral("\n  "));
    return -1;
  }
  ArchiveWriter writer;
  bool ok = writer.Open(partial);
  for (const QString& name : names) {
    if (!ok) break;
    ok = writer.AddFile(name, QDir(folder).filePath(name), ArchiveWriter::Method::kDeflated, true);
    if (!ok) *error = QStringLiteral("cannot pack %1").arg(name);
  }
  ok = writer.Close() && ok;
  if (ok) {
    // One step: a running shell sees the old archive or the new one, never none.
    ok = ::rename(QFile::encodeName(partial).constData(), QFile::encodeName(path).constData()) == 0;
    if (!ok) *error = QStringLiteral("cannot write %1").arg(path);
  } else if (error->isEmpty()) {
    *error = QStringLiteral("cannot write %1").arg(partial);
  }
  if (!ok) QFile::remove(partial);
  return ok ? int(names.size()) : -1;
}

}  // namespace ombrix
