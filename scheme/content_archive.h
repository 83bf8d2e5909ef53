// The content archive: a ZIP file beside the shell whose entries (stored or
// deflated, each possibly encrypted with the traditional ZIP method and the
// archive password) are the application's pages, scripts and images.
//
// An entry is read in pieces, so no entry is ever held whole in memory,
// whatever size its header claims.
#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

namespace ombrix {

struct ArchiveIdentity;

class ContentArchive {
 public:
  ContentArchive();
  ~ContentArchive();
  ContentArchive(const ContentArchive&) = delete;
  ContentArchive& operator=(const ContentArchive&) = delete;

  // Opens the archive at path; prints "zip file is exists" or "zip file is not
  // exists". False when it is missing or is no ZIP archive.
  bool Open(const QString& path);

  // Finds the entry whose name equals name without regard to letter case and
  // opens it for reading. Returns its uncompressed size as the archive records
  // it (and prints "zip size :N"), or -1 when there is no such entry, it is
  // neither stored nor deflated, or it is encrypted with another password.
  qint64 OpenEntry(const QString& name);

  // Reads the next piece of the open entry into buffer: the number of bytes
  // read, 0 at its end, or -1 when the entry's data is damaged.
  qint64 ReadEntry(char* buffer, qint64 capacity);

  // True once every byte of the open entry was read and they match its CRC
  // (false for damaged data or a password that only seemed to fit).
  bool EntryWhole() const;

  // The rest of the open entry, at most limit bytes.
  QByteArray ReadRest(qint64 limit);

  // The whole entry (at most limit bytes); an empty array when it is missing.
  QByteArray Read(const QString& name, qint64 limit);

 private:
  struct Entry;

  bool LocateEntry(const QString& name);
  void CloseEntry();

  void* zip_ = nullptr;                        // unzFile
  std::unique_ptr<ArchiveIdentity> identity_;  // of the file opened
  std::unique_ptr<Entry> entry_;               // the open entry
};

// The archive's file name: the shell's name with ".data" (resolved against the
// working directory, which is the shell's folder).
QString ContentArchiveFileName();

// The entry a client URL asks for: the URL without its first ten characters
// ("client:///"), query and fragment included, its percent-escapes decoded
// (UTF-8) but for "%2F".
QString EntryNameFromUrl(const QString& url);

// Whether a request can ever name an entry of this name: not with "?", "#" or
// "%" in it (the packer refuses such files).
bool IsServableEntryName(const QString& name);

// The type an entry is answered with: the name is cut at the first "?" (or,
// without one, the first "#"); the extension after its last "." picks a type
// from the web's usual table; no dot or an unknown extension gives "text/html".
QString ChooseMimeType(const QString& entry_name);

}  // namespace ombrix
