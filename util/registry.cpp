// The settings store that stands in for the registry, and the installed-program
// lists read from it and from the desktop's application entries.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <memory>

#include "util/log_text.h"
#include "util/settings_text.h"
#include "util/util_win.h"

namespace ombrix {
namespace {

const char kOrganization[] = "ombrix";
const char kUninstallKey[] =
    "HKEY_LOCAL_MACHINE\\SoftWare\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr int kMaxSegment = 255;
constexpr int kMaxPath = 4096;
constexpr int kMaxValueName = 16383;

bool IsRoot(const QString& name) {
  static const QStringList roots = {"HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_CLASSES_ROOT",
                                    "HKEY_USERS", "HKEY_CURRENT_CONFIG"};
  return roots.contains(name);
}

bool IsKeySegment(const QString& segment) {
  return segment != QLatin1String(".") && segment != QLatin1String("..") &&
         segment.size() <= kMaxSegment && !segment.contains(QLatin1Char('/')) &&
         !segment.contains(QChar(0));
}

bool IsValueName(const QString& name) {
  return name.size() <= kMaxValueName && !name.contains(QChar(0));
}

std::unique_ptr<QSettings> NewRootSettings(const QString& root) {
  auto settings = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                              QLatin1String(kOrganization), root);
  UseUtf8Text(*settings);
  return settings;
}

// Whether Qt parses the whole file. Qt keeps a file's parsed form for the
// process and reports a parse error only once, so a copy under a name of its
// own is parsed; every section is read (Qt parses one when first used).
bool ParsesCleanly(const QString& file_name) {
  QFile file(file_name);
  if (!file.open(QIODevice::ReadOnly)) return true;  // missing or unreadable: nothing to move
  QTemporaryFile copy;
  if (!copy.open() || copy.write(file.readAll()) < 0 || !copy.flush()) return true;
  QSettings alone(copy.fileName(), QSettings::IniFormat);
  UseUtf8Text(alone);
  alone.allKeys();
  return alone.status() != QSettings::FormatError;
}

// A file Qt cannot parse is moved aside (never rewritten from the part it
// could read), so what it held can still be recovered by hand.
void MoveAside(const QString& file_name) {
  const QString aside = file_name + QStringLiteral(".corrupt-") +
                        QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmsszzz"));
  const bool moved = QFile::rename(file_name, aside);
  qDebug() << "settings store unreadable:" << file_name << (moved ? "kept as" : "could not move to")
           << aside;
}

// Under the lock Qt's own writers take, so another process or thread that
// has just started the file again does not lose its new file.
void SetAsideIfStillCorrupt(const QString& file_name) {
  QLockFile lock(file_name + QStringLiteral(".lock"));
  if (!lock.lock()) {
    qDebug() << "settings store unreadable and locked:" << file_name;
    return;
  }
  if (!ParsesCleanly(file_name)) MoveAside(file_name);
}

// The root's settings: the user's own file, with the system-wide and shared
// files as fallback. Only the user's file is moved aside when it cannot be
// parsed; a fallback file that cannot be parsed is skipped and logged.
std::unique_ptr<QSettings> OpenRoot(const QString& root) {
  std::unique_ptr<QSettings> settings = NewRootSettings(root);
  const QString file_name = settings->fileName();
  if (!ParsesCleanly(file_name)) {
    settings.reset();
    SetAsideIfStillCorrupt(file_name);
    settings = NewRootSettings(root);
  }
  if (settings->status() == QSettings::FormatError) {
    qDebug() << "settings store: a fallback file of" << root << "cannot be parsed, skipped";
  }
  return settings;
}

// The stored spelling of each key (key names ignore case, as the registry's
// do); a key not stored yet keeps the caller's spelling.
QString ResolveGroup(QSettings& settings, const QStringList& keys) {
  QStringList resolved;
  int depth = 0;
  for (const QString& key : keys) {
    QString name = key;
    for (const QString& child : settings.childGroups()) {
      if (child.compare(key, Qt::CaseInsensitive) == 0) {
        name = child;
        break;
      }
    }
    resolved << name;
    settings.beginGroup(name);
    ++depth;
  }
  while (depth-- > 0) settings.endGroup();
  return resolved.join(QLatin1Char('/'));
}

// The stored spelling of a value name (value names ignore case too): each
// "/"-separated subkey as a group, the last part as a value, or as a subkey
// when with_groups allows it (a removal names either). A name not stored yet
// keeps the caller's spelling.
QString ResolveValueName(QSettings& settings, const QString& name, bool with_groups) {
  QStringList parts = name.split(QLatin1Char('/'));
  const QString last = parts.takeLast();
  const QString group = ResolveGroup(settings, parts);
  if (!group.isEmpty()) settings.beginGroup(group);
  QString resolved = last;
  QStringList candidates = settings.childKeys();
  if (with_groups) candidates += settings.childGroups();
  for (const QString& stored : candidates) {
    if (stored.compare(last, Qt::CaseInsensitive) == 0) {
      resolved = stored;
      break;
    }
  }
  if (!group.isEmpty()) settings.endGroup();
  return group.isEmpty() ? resolved : group + QLatin1Char('/') + resolved;
}

// The store opened at path's key; nullptr for an invalid path.
std::unique_ptr<QSettings> OpenKey(const QString& path) {
  const RegistryPath parsed = ParseRegistryPath(path);
  if (!parsed.valid) return nullptr;
  std::unique_ptr<QSettings> settings = OpenRoot(parsed.root);
  const QString group = ResolveGroup(*settings, parsed.keys);
  if (!group.isEmpty()) settings->beginGroup(group);
  return settings;
}

// Creates the user's file when it is missing, without touching one that
// exists. Qt's writability check would otherwise create and remove a missing
// file itself, and remove or empty the file another process has just written.
void EnsureFileExists(const QString& file_name) {
  QFile file(file_name);
  file.open(QIODevice::ReadWrite);  // creates, never truncates
}

// An exclusive lock on a folder for as long as it lives; the kernel drops it
// when the process dies. Store writers hold it around their whole
// read-change-write, so two writers at once never lose each other's values.
class FolderLock {
 public:
  explicit FolderLock(const QString& folder)
      : fd_(open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    while (fd_ >= 0 && flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  ~FolderLock() {
    if (fd_ >= 0) close(fd_);
  }
  // Flushes the folder's entries to disk (a rename in it survives a power cut).
  void Flush() const {
    if (fd_ >= 0) fsync(fd_);
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

 private:
  int fd_;
};

// The user's own file alone at path's key, opened for a change under the
// store's lock: its status then tells about that file only, not about a
// fallback file. Key spellings are resolved with the fallback files too.
struct KeyWriter {
  std::unique_ptr<FolderLock> lock;
  std::unique_ptr<QSettings> settings;  // nullptr for an invalid path
  QString name;                         // the value's stored spelling
};

// value_name is resolved to its stored spelling as well (an empty name stays empty).
KeyWriter OpenKeyForWriting(const QString& path, const QString& value_name, bool name_groups) {
  KeyWriter writer;
  const RegistryPath parsed = ParseRegistryPath(path);
  if (!parsed.valid) return writer;
  const QString file_name = NewRootSettings(parsed.root)->fileName();
  QDir().mkpath(QFileInfo(file_name).absolutePath());
  writer.lock = std::make_unique<FolderLock>(QFileInfo(file_name).absolutePath());
  std::unique_ptr<QSettings> reader = OpenKey(path);
  const QString group = reader->group();
  if (!value_name.isEmpty()) writer.name = ResolveValueName(*reader, value_name, name_groups);
  reader.reset();
  EnsureFileExists(file_name);
  writer.settings = std::make_unique<QSettings>(file_name, QSettings::IniFormat);
  UseUtf8Text(*writer.settings);
  if (!group.isEmpty()) writer.settings->beginGroup(group);
  return writer;
}

// Qt writes the new file beside the old one, flushes it and renames it over;
// the folder is flushed after that, so the rename outlasts a power cut too.
bool Commit(const KeyWriter& writer) {
  writer.settings->sync();
  if (writer.settings->status() != QSettings::NoError) return false;
  writer.lock->Flush();
  return true;
}

QJsonValue MemberValue(const UninstallSource& source, const char* name) {
  const auto it = source.find(QLatin1String(name));
  return it == source.end() ? QJsonValue(QJsonValue::Null) : QJsonValue::fromVariant(*it);
}

QJsonObject ListForm(const UninstallSource& source) {
  QJsonObject entry;
  for (const char* name : {"DisplayName", "DisplayVersion", "InstallLocation", "LocationRoot",
                           "SetupPath", "UninstallString"}) {
    entry.insert(QLatin1String(name), MemberValue(source, name));
  }
  return entry;
}

QJsonObject FindForm(const UninstallSource& source) {
  QJsonObject entry = ListForm(source);
  entry.insert(QStringLiteral("SetupPath"), source.value(QStringLiteral("SetupPath")).toString());
  entry.insert(QStringLiteral("UninstallString"),
               source.value(QStringLiteral("UninstallString")).toString().remove(QLatin1Char('"')));
  return entry;
}

std::vector<UninstallSource> StoreSources() {
  std::vector<UninstallSource> sources;
  std::unique_ptr<QSettings> settings = OpenKey(QLatin1String(kUninstallKey));
  for (const QString& program : settings->childGroups()) {
    settings->beginGroup(program);
    UninstallSource source;
    for (const QString& key : settings->childKeys()) source.insert(key, settings->value(key));
    settings->endGroup();
    sources.push_back(source);
  }
  return sources;
}

// Exec without its field codes (%f, %U, ...); "%%" is a literal percent sign.
QString ExecWithoutFieldCodes(const QString& exec) {
  QString result;
  for (int i = 0; i < exec.size(); ++i) {
    if (exec[i] != QLatin1Char('%') || i + 1 >= exec.size()) {
      result += exec[i];
    } else if (exec[++i] == QLatin1Char('%')) {
      result += QLatin1Char('%');
    }
  }
  return result.simplified();
}

// Application entries of the XDG data folders; an entry of an earlier folder
// hides one with the same desktop-file id in a later folder.
std::vector<UninstallSource> DesktopSources() {
  std::vector<UninstallSource> sources;
  QStringList seen;
  for (const QString& folder :
       QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation)) {
    QDirIterator it(folder, {QStringLiteral("*.desktop")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
      const QString file = it.next();
      const QString id = file.mid(folder.size());
      if (seen.contains(id)) continue;
      seen << id;
      QFile entry(file);
      if (!entry.open(QIODevice::ReadOnly)) continue;
      const UninstallSource source = DesktopEntrySource(entry.read(1 << 20));
      if (!source.isEmpty()) sources.push_back(source);
    }
  }
  return sources;
}

std::vector<UninstallSource> AllSources() {
  std::vector<UninstallSource> sources = DesktopSources();
  for (const UninstallSource& source : StoreSources()) sources.push_back(source);  // store wins
  return sources;
}

}  // namespace

RegistryPath ParseRegistryPath(const QString& path) {
  RegistryPath parsed;
  if (path.isEmpty() || path.size() > kMaxPath) return parsed;
  const QStringList segments = path.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
  if (segments.isEmpty() || !IsRoot(segments.first())) return parsed;
  for (int i = 1; i < segments.size(); ++i) {
    if (!IsKeySegment(segments[i])) return parsed;
  }
  parsed.root = segments.first();
  parsed.keys = segments.mid(1);
  parsed.valid = true;
  return parsed;
}

QString GetRegValue(const QString& path) {
  QVariantMap ordered;
  if (std::unique_ptr<QSettings> settings = OpenKey(path)) {
    for (const QString& name : settings->allKeys()) ordered.insert(name, settings->value(name));
  }
  const QString json = QString::fromUtf8(
      QJsonDocument(QJsonObject::fromVariantMap(ordered)).toJson(QJsonDocument::Compact));
  qDebug() << "GetRegValue" << LogText(path) << LogText(json);
  return json;
}

bool SetRegValue(const QString& path, const QString& name, const QString& value) {
  if (name.isEmpty() || !IsValueName(name)) return false;
  KeyWriter writer = OpenKeyForWriting(path, name, false);
  if (!writer.settings || !writer.settings->isWritable()) return false;
  writer.settings->setValue(writer.name, value);
  return Commit(writer);
}

bool RemoveRegValue(const QString& path, const QString& name) {
  if (!IsValueName(name)) return false;
  KeyWriter writer = OpenKeyForWriting(path, name, true);
  if (!writer.settings || !writer.settings->isWritable()) return false;
  writer.settings->remove(writer.name);  // an empty name: everything in the group
  return Commit(writer);
}

QString UninstallEntriesJson(const std::vector<UninstallSource>& sources, bool find,
                             const QString& part) {
  QJsonObject entries;  // ordered by display name; a later source replaces an earlier one
  for (const UninstallSource& source : sources) {
    const auto name = source.find(QStringLiteral("DisplayName"));
    if (name == source.end()) continue;
    const QString display_name = name->toString();
    if (find && !display_name.contains(part, Qt::CaseSensitive)) continue;
    entries.insert(display_name, find ? FindForm(source) : ListForm(source));
  }
  return QString::fromUtf8(QJsonDocument(entries).toJson(QJsonDocument::Compact));
}

UninstallSource DesktopEntrySource(const QByteArray& content) {
  QMap<QString, QString> keys;
  bool in_entry = false;
  for (const QByteArray& raw : content.split('\n')) {
    const QString line = QString::fromUtf8(raw).trimmed();
    if (line.startsWith(QLatin1Char('['))) {
      in_entry = line == QLatin1String("[Desktop Entry]");
      continue;
    }
    const int equals = line.indexOf(QLatin1Char('='));
    if (!in_entry || line.startsWith(QLatin1Char('#')) || equals <= 0) continue;
    const QString key = line.left(equals).trimmed();
    if (!keys.contains(key)) keys.insert(key, line.mid(equals + 1).trimmed());
  }
  if (keys.value(QStringLiteral("Type")) != QLatin1String("Application") ||
      keys.value(QStringLiteral("Hidden")) == QLatin1String("true") ||
      keys.value(QStringLiteral("Name")).isEmpty()) {
    return {};
  }
  UninstallSource source;
  source.insert(QStringLiteral("DisplayName"), keys.value(QStringLiteral("Name")));
  if (keys.contains(QStringLiteral("Path"))) {
    source.insert(QStringLiteral("InstallLocation"), keys.value(QStringLiteral("Path")));
  }
  if (keys.contains(QStringLiteral("Exec"))) {
    source.insert(QStringLiteral("SetupPath"),
                  ExecWithoutFieldCodes(keys.value(QStringLiteral("Exec"))));
  }
  return source;
}

QString ListUninstallEntries() { return UninstallEntriesJson(AllSources(), false, QString()); }

QString FindUninstallEntries(const QString& part) {
  return UninstallEntriesJson(AllSources(), true, part);
}

}  // namespace ombrix
