// Builds content archives: ZIP files whose entries are deflated (or stored)
// and encrypted with the traditional ZIP method and the archive password.
#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

namespace ombrix {

class ArchiveWriter {
 public:
  enum class Method { kStored, kDeflated };

  ArchiveWriter() = default;
  ~ArchiveWriter();
  ArchiveWriter(const ArchiveWriter&) = delete;
  ArchiveWriter& operator=(const ArchiveWriter&) = delete;

  bool Open(const QString& path);
  // Adds an entry with the given bytes.
  bool Add(const QString& name, const QByteArray& data, Method method, bool encrypted);
  // Adds an entry read from a file in pieces (any size).
  bool AddFile(const QString& name, const QString& path, Method method, bool encrypted);
  bool Close();

 private:
  // Hands each piece of an entry's bytes to the writer it is given.
  using PieceSource = std::function<bool(const std::function<bool(const char*, int)>&)>;
  // Writes an entry of size bytes from source; the CRC comes first because an
  // encrypted entry's header carries it.
  bool AddEntry(const QString& name, unsigned long crc, qint64 size, Method method, bool encrypted,
                const PieceSource& source);

  void* zip_ = nullptr;  // zipFile
};

// Packs every file below folder (names relative to it, with "/") into a new
// archive at path, each entry deflated and encrypted. The archive is written
// beside path and renamed over it at the end, so a failed run leaves any older
// archive whole. Returns the number of entries, or -1 with error set.
int PackFolder(const QString& folder, const QString& path, QString* error);

}  // namespace ombrix
