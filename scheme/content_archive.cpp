#include "scheme/content_archive.h"

#include <minizip/unzip.h>
#include <sys/stat.h>
#include <zlib.h>

#include <QFile>
#include <QHash>
#include <QMimeDatabase>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <mutex>
#include <vector>

#include "scheme/zip_crypto.h"
#include "util/util_win.h"

namespace ombrix {
namespace {

unzFile Zip(void* zip) { return static_cast<unzFile>(zip); }

void PrintLine(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

// The types pages rely on (scripts and modules, styles, fonts, images, media,
// data, WebAssembly), as browsers name them.
const char* WebType(const QString& extension) {
  static const struct {
    const char* extension;
    const char* type;
  } kTypes[] = {
      {"html", "text/html"},       {"htm", "text/html"},
      {"shtml", "text/html"},      {"xhtml", "application/xhtml+xml"},
      {"js", "text/javascript"},   {"mjs", "text/javascript"},
      {"css", "text/css"},         {"json", "application/json"},
      {"map", "application/json"}, {"xml", "text/xml"},
      {"txt", "text/plain"},       {"csv", "text/csv"},
      {"svg", "image/svg+xml"},    {"png", "image/png"},
      {"jpg", "image/jpeg"},       {"jpeg", "image/jpeg"},
      {"gif", "image/gif"},        {"webp", "image/webp"},
      {"bmp", "image/bmp"},        {"ico", "image/x-icon"},
      {"avif", "image/avif"},      {"woff", "font/woff"},
      {"woff2", "font/woff2"},     {"ttf", "font/ttf"},
      {"otf", "font/otf"},         {"wasm", "application/wasm"},
      {"mp3", "audio/mpeg"},       {"wav", "audio/wav"},
      {"ogg", "audio/ogg"},        {"mp4", "video/mp4"},
      {"webm", "video/webm"},      {"pdf", "application/pdf"},
      {"zip", "application/zip"},
  };
  for (const auto& entry : kTypes) {
    if (extension.compare(QLatin1String(entry.extension), Qt::CaseInsensitive) == 0) {
      return entry.type;
    }
  }
  return nullptr;
}

}  // namespace

// An entry being read: its raw bytes come from minizip, are decrypted when
// the entry is encrypted and inflated when it is deflated.
struct ContentArchive::Entry {
  Entry() : crypto(kContentArchivePassword) {}
  ~Entry() {
    if (deflated) inflateEnd(&stream);
  }

  ZipCrypto crypto;
  bool encrypted = false;
  bool deflated = false;
  bool input_ended = false;
  qint64 remaining = 0;              // bytes the archive says are still to come
  uLong crc = crc32(0, nullptr, 0);  // of the bytes handed out so far
  uLong expected_crc = 0;

  // Counts bytes handed out; the last of them must give the recorded CRC.
  void Produced(const char* data, qint64 n) {
    crc = crc32(crc, reinterpret_cast<const Bytef*>(data), uInt(n));
    remaining -= n;
  }
  bool Whole() const { return remaining == 0 && crc == expected_crc; }
  z_stream stream{};
  char input[65536];

  // Reads raw bytes of the entry and decrypts them.
  int ReadRaw(unzFile zip, char* buffer, unsigned capacity) {
    const int n = unzReadCurrentFile(zip, buffer, capacity);
    if (n > 0 && encrypted) crypto.Decrypt(buffer, size_t(n));
    return n;
  }

  // The header of an encrypted entry ends with a byte of the CRC (or, when
  // sizes follow the data, of the time): a wrong password shows there.
  bool PasswordFits(unzFile zip, const unz_file_info64& info) {
    char header[ZipCrypto::kHeaderSize];
    if (ReadRaw(zip, header, sizeof header) != int(sizeof header)) return false;
    const uint8_t check = (info.flag & 8) ? uint8_t(info.dosDate >> 8) : uint8_t(info.crc >> 24);
    return uint8_t(header[sizeof header - 1]) == check;
  }
};

ContentArchive::ContentArchive() = default;

ContentArchive::~ContentArchive() {
  CloseEntry();
  if (zip_) unzClose(Zip(zip_));
}

// Which archive file an index belongs to: a replaced or rewritten archive
// differs in its inode, size or modification time.
struct ArchiveIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = -1;
  timespec modified{};
  bool operator==(const ArchiveIdentity& o) const {
    return device == o.device && inode == o.inode && size == o.size &&
           modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec;
  }
};

namespace {

// Where each entry (by case-folded name, the first of equal names) starts.
struct EntryIndex {
  ArchiveIdentity identity;
  QHash<QString, unz64_file_pos> entries;
};

// The index of the archive read last, shared by every request while the file
// stays the same: a lookup costs one step instead of a walk over every entry.
std::mutex index_mutex;
std::shared_ptr<const EntryIndex>* last_index = new std::shared_ptr<const EntryIndex>;

// The current entry's name. The buffer fits the longest name a ZIP can hold
// and is made once per thread: this runs for every entry of a walk.
QString CurrentName(unzFile zip) {
  thread_local std::vector<char> raw(65536);
  unz_file_info64 info;
  if (unzGetCurrentFileInfo64(zip, &info, raw.data(), raw.size(), nullptr, 0, nullptr, 0) !=
      UNZ_OK) {
    return QString();
  }
  return QString::fromUtf8(raw.data(), int(qMin<uLong>(info.size_filename, raw.size() - 1)));
}

std::shared_ptr<const EntryIndex> BuildIndex(unzFile zip, const ArchiveIdentity& identity) {
  auto index = std::make_shared<EntryIndex>();
  index->identity = identity;
  for (int status = unzGoToFirstFile(zip); status == UNZ_OK; status = unzGoToNextFile(zip)) {
    unz64_file_pos position;
    const QString name = CurrentName(zip).toCaseFolded();
    if (unzGetFilePos64(zip, &position) != UNZ_OK) break;
    if (!index->entries.contains(name)) index->entries.insert(name, position);
  }
  return index;
}

}  // namespace

bool ContentArchive::Open(const QString& path) {
  const QByteArray file = QFile::encodeName(path);
  struct stat info;
  if (::stat(file.constData(), &info) == 0) {
    identity_ = std::make_unique<ArchiveIdentity>(
        ArchiveIdentity{info.st_dev, info.st_ino, info.st_size, info.st_mtim});
  }
  zip_ = unzOpen64(file.constData());
  PrintLine(zip_ ? "zip file is exists\n" : "zip file is not exists\r\n");
  return zip_ != nullptr;
}

bool ContentArchive::LocateEntry(const QString& name) {
  std::shared_ptr<const EntryIndex> index;
  {
    std::lock_guard<std::mutex> lock(index_mutex);
    if (identity_ && *last_index && (*last_index)->identity == *identity_) index = *last_index;
  }
  if (!index && identity_) {
    index = BuildIndex(Zip(zip_), *identity_);
    std::lock_guard<std::mutex> lock(index_mutex);
    *last_index = index;
  }
  if (index) {
    const auto it = index->entries.constFind(name.toCaseFolded());
    if (it == index->entries.constEnd()) return false;
    unz64_file_pos position = *it;
    // The file may have changed between its stat and its opening: the entry
    // found must bear the name asked for, or the archive is walked.
    if (unzGoToFilePos64(Zip(zip_), &position) == UNZ_OK &&
        CurrentName(Zip(zip_)).compare(name, Qt::CaseInsensitive) == 0) {
      return true;
    }
  }
  for (int status = unzGoToFirstFile(Zip(zip_)); status == UNZ_OK;
       status = unzGoToNextFile(Zip(zip_))) {
    if (CurrentName(Zip(zip_)).compare(name, Qt::CaseInsensitive) == 0) return true;
  }
  return false;
}

qint64 ContentArchive::OpenEntry(const QString& name) {
  CloseEntry();
  if (!zip_ || name.isEmpty() || !LocateEntry(name)) return -1;
  unz_file_info64 info;
  if (unzGetCurrentFileInfo64(Zip(zip_), &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK ||
      (info.compression_method != 0 && info.compression_method != Z_DEFLATED)) {
    return -1;
  }
  int method = 0;
  int level = 0;
  if (unzOpenCurrentFile2(Zip(zip_), &method, &level, 1) != UNZ_OK) return -1;
  entry_ = std::make_unique<Entry>();
  entry_->encrypted = info.flag & 1;
  entry_->expected_crc = info.crc;
  entry_->remaining = qint64(qMin<ZPOS64_T>(info.uncompressed_size, ZPOS64_T(INT64_MAX)));
  if ((entry_->encrypted && !entry_->PasswordFits(Zip(zip_), info)) ||
      (method == Z_DEFLATED && inflateInit2(&entry_->stream, -MAX_WBITS) != Z_OK)) {
    CloseEntry();
    return -1;
  }
  entry_->deflated = method == Z_DEFLATED;
  std::printf("zip size :%lld\r\n", static_cast<long long>(entry_->remaining));
  std::fflush(stdout);
  return entry_->remaining;
}

qint64 ContentArchive::ReadEntry(char* buffer, qint64 capacity) {
  if (!entry_) return -1;
  Entry& entry = *entry_;
  const unsigned room = unsigned(std::clamp<qint64>(qMin(capacity, entry.remaining), 0, 1 << 30));
  if (room == 0) return 0;
  if (!entry.deflated) {
    const int n = entry.ReadRaw(Zip(zip_), buffer, room);
    if (n > 0) entry.Produced(buffer, n);
    return n < 0 ? -1 : n;
  }
  z_stream& stream = entry.stream;
  stream.next_out = reinterpret_cast<Bytef*>(buffer);
  stream.avail_out = room;
  while (stream.avail_out == room) {
    if (stream.avail_in == 0 && !entry.input_ended) {
      const int n = entry.ReadRaw(Zip(zip_), entry.input, sizeof entry.input);
      if (n < 0) return -1;
      entry.input_ended = n == 0;
      stream.next_in = reinterpret_cast<Bytef*>(entry.input);
      stream.avail_in = unsigned(n);
    }
    const int status = inflate(&stream, Z_NO_FLUSH);
    if (status == Z_STREAM_END) break;
    if (status == Z_BUF_ERROR && entry.input_ended) break;  // the data ends early
    if (status != Z_OK && status != Z_BUF_ERROR) return -1;
  }
  const qint64 produced = room - stream.avail_out;
  entry.Produced(buffer, produced);
  return produced;
}

QByteArray ContentArchive::Read(const QString& name, qint64 limit) {
  return OpenEntry(name) < 0 ? QByteArray() : ReadRest(limit);
}

bool ContentArchive::EntryWhole() const { return entry_ && entry_->Whole(); }

QByteArray ContentArchive::ReadRest(qint64 limit) {
  QByteArray data;
  char buffer[65536];
  for (qint64 n; data.size() < limit && (n = ReadEntry(buffer, sizeof buffer)) > 0;) {
    data.append(buffer, int(qMin<qint64>(n, limit - data.size())));
  }
  return data;
}

void ContentArchive::CloseEntry() {
  if (entry_) unzCloseCurrentFile(Zip(zip_));
  entry_.reset();
}

QString ContentArchiveFileName() { return GetAppName() + QStringLiteral(".data"); }

QString EntryNameFromUrl(const QString& url) {
  // The engine percent-encodes a request's spaces and non-ASCII characters
  // (UTF-8); the entry bears the name as it was in the folder. "%2F" stays as
  // it is: an encoded slash names no folder.
  const QByteArray bytes = url.mid(10).toUtf8();
  QByteArray name;
  name.reserve(bytes.size());
  for (int i = 0; i < bytes.size(); ++i) {
    const bool escape = bytes[i] == '%' && i + 2 < bytes.size() &&
                        isxdigit(static_cast<unsigned char>(bytes[i + 1])) &&
                        isxdigit(static_cast<unsigned char>(bytes[i + 2]));
    const QByteArray code = escape ? bytes.mid(i + 1, 2) : QByteArray();
    if (escape && code.compare("2f", Qt::CaseInsensitive) != 0) {
      name.append(char(code.toInt(nullptr, 16)));
      i += 2;
    } else {
      name.append(bytes[i]);
    }
  }
  return QString::fromUtf8(name);
}

bool IsServableEntryName(const QString& name) {
  // "?" and "#" end a URL's path; "%" would be read as an escape.
  return !name.isEmpty() && !name.contains(QLatin1Char('?')) && !name.contains(QLatin1Char('#')) &&
         !name.contains(QLatin1Char('%'));
}

QString ChooseMimeType(const QString& entry_name) {
  int cut = entry_name.indexOf(QLatin1Char('?'));
  if (cut < 0) cut = entry_name.indexOf(QLatin1Char('#'));
  const QString path = cut < 0 ? entry_name : entry_name.left(cut);
  const int dot = path.lastIndexOf(QLatin1Char('.'));
  if (dot < 0) return QStringLiteral("text/html");
  const QString extension = path.mid(dot + 1);
  if (const char* type = WebType(extension)) return QString::fromLatin1(type);
  if (extension.isEmpty() || extension.contains(QLatin1Char('/')))
    return QStringLiteral("text/html");
  const QMimeType found = QMimeDatabase().mimeTypeForFile(QStringLiteral("x.") + extension,
                                                          QMimeDatabase::MatchExtension);
  return found.isDefault() ? QStringLiteral("text/html") : found.name();
}

}  // namespace ombrix
