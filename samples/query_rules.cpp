#include "samples/query_rules.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>

namespace ombrix {
namespace {

constexpr int kMinimumSide = 100;

// "WindowTest.Position" is 19 characters; the 20th separates the numbers.
constexpr int kPositionNumbersStart = 20;
// "DialogTest.FileSave" is 19 characters; the 20th separates the settings.
constexpr int kSaveNameLength = 19;
constexpr int kSaveSettingsStart = 20;

// What the file systems here take: a name of at most 255 bytes, a path of at
// most 4096. Longer ones name no file, and the dialog would spend long laying
// out a megabyte of text.
constexpr int kNameMaxBytes = 255;
constexpr int kPathMaxBytes = 4096;
// A filter's name is shown in the dialog's list of filters; a longer text is
// cut there (its patterns still come from all of it).
constexpr int kShownFilterName = 120;
// More patterns than any real filter needs; the rest are left out.
constexpr int kMaxFilterParts = 64;

bool FitsFileSystem(const QString& path) {
  return path.toUtf8().size() <= kPathMaxBytes &&
         QFileInfo(path).fileName().toUtf8().size() <= kNameMaxBytes;
}

QString ShownFilterName(const QString& text) {
  if (text.size() <= kShownFilterName) return text;
  return text.left(kShownFilterName - 1) + QChar(0x2026);
}

// Reads one integer at *at (leading white space and a sign allowed); false
// when there is none or it does not fit in int.
bool ReadInt(const QString& text, int* at, int* value) {
  int i = *at;
  while (i < text.size() && text[i].isSpace()) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
    negative = text[i] == QLatin1Char('-');
    ++i;
  }
  const int digits = i;
  qint64 magnitude = 0;
  for (; i < text.size() && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'); ++i) {
    magnitude = magnitude * 10 + (text[i].unicode() - '0');
    if (magnitude > qint64(INT_MAX) + 1) return false;
  }
  if (i == digits) return false;
  const qint64 signed_value = negative ? -magnitude : magnitude;
  if (signed_value > INT_MAX || signed_value < INT_MIN) return false;
  *value = int(signed_value);
  *at = i;
  return true;
}

// One side of the box: at least 100, at most the work area's side.
qint64 FitSide(int requested, int available) {
  if (requested < kMinimumSide) return kMinimumSide;
  return requested >= available ? available : requested;
}

// The start of the box along one axis: relative to the work area, not before
// its start, and moved back so the far edge stays inside.
qint64 FitStart(int requested, qint64 side, int area_start, int area_side) {
  qint64 start = std::max(qint64(requested) + area_start, qint64(area_start));
  if (start + side >= qint64(area_start) + area_side) start = qint64(area_start) + area_side - side;
  return start;
}

int ToInt(qint64 value) { return int(qBound(qint64(INT_MIN), value, qint64(INT_MAX))); }

// The value of "name=value": from the first "=" to the next one or the end.
std::optional<QString> ItemValue(const QString& item) {
  const int equals = item.indexOf(QLatin1Char('='));
  if (equals < 0) return std::nullopt;
  const int next = item.indexOf(QLatin1Char('='), equals + 1);
  return item.mid(equals + 1, next < 0 ? -1 : next - equals - 1);
}

// "*.[tT][xX][tT]" for "txt": the file systems here tell letter cases apart,
// a user choosing "*.txt" does not.
QString AnyCasePattern(const QString& extension) {
  QString pattern = QStringLiteral("*.");
  for (const QChar c : extension) {
    if (c.toLower() != c.toUpper()) {
      pattern += QLatin1Char('[') + c.toLower() + c.toUpper() + QLatin1Char(']');
    } else {
      pattern += c;
    }
  }
  return pattern;
}

}  // namespace

std::vector<int> ReadPositionNumbers(const QString& request) {
  const QString text = request.mid(kPositionNumbersStart);
  std::vector<int> numbers;
  int at = 0;
  int value = 0;
  while (numbers.size() < 5 && ReadInt(text, &at, &value)) {
    numbers.push_back(value);
    if (at < text.size() && text[at] == QLatin1Char(',')) ++at;
  }
  return numbers;
}

Box FitIntoWorkArea(const Box& requested, const Box& area) {
  const qint64 width = FitSide(requested.width, area.width);
  const qint64 height = FitSide(requested.height, area.height);
  return Box{ToInt(FitStart(requested.x, width, area.x, area.width)),
             ToInt(FitStart(requested.y, height, area.y, area.height)), ToInt(width),
             ToInt(height)};
}

std::optional<Box> PlaceByRequest(const QString& request, const Box& work_area) {
  const std::vector<int> numbers = ReadPositionNumbers(request);
  if (numbers.size() != 4) return std::nullopt;
  return FitIntoWorkArea(Box{numbers[0], numbers[1], numbers[2], numbers[3]}, work_area);
}

std::optional<DialogRequest> ReadDialogRequest(const QString& request) {
  const auto begins = [&request](const char* name) {
    return request.startsWith(QLatin1String(name));
  };
  if (begins("DialogTest.FileOpenFolder")) {
    return DialogRequest{DialogKind::kOpenFolder, QStringLiteral("My Open Folder Dialog")};
  }
  if (begins("DialogTest.FileOpenMultiple")) {
    return DialogRequest{DialogKind::kOpenMultiple, QStringLiteral("My Open Multiple Dialog")};
  }
  if (begins("DialogTest.FileOpen")) {
    return DialogRequest{DialogKind::kOpen, QStringLiteral("My Open Dialog")};
  }
  if (begins("DialogTest.FileSave")) {
    return DialogRequest{DialogKind::kSave, QStringLiteral("File Save")};
  }
  return std::nullopt;
}

SaveSettings ReadSaveSettings(const QString& request) {
  SaveSettings settings;
  if (request.size() <= kSaveNameLength) return settings;
  settings.given = true;
  settings.text = request.mid(kSaveSettingsStart);
  for (const QString& item : settings.text.split(QLatin1Char('|'))) {
    const std::optional<QString> value = ItemValue(item);
    if (!value) continue;
    if (item.startsWith(QLatin1String("filepath"))) settings.filepaths << *value;
    if (item.startsWith(QLatin1String("filter"))) settings.filters << *value;
  }
  return settings;
}

QString NextStartPath(const QString& last_file, const QString& value) {
  if (!FitsFileSystem(value)) return last_file;
  if (last_file.isEmpty() || QDir::isAbsolutePath(value)) return value;
  const QString folder = QFileInfo(last_file).absolutePath();
  return folder.endsWith(QLatin1Char('/')) ? folder + value : folder + QLatin1Char('/') + value;
}

FileFilterParts ReadFileFilter(const QString& text) {
  FileFilterParts filter;
  filter.name = ShownFilterName(text);
  if (text.trimmed().isEmpty()) {
    // "filter=" with nothing after it: a filter matching no file would hide
    // every file, so it shows them all.
    filter.name = QStringLiteral("*");
    filter.patterns << QStringLiteral("*");
    return filter;
  }
  static const QRegularExpression separators(QStringLiteral("[;,\\s]+"));
  int parts = 0;
  for (const QString& part : text.split(separators, Qt::SkipEmptyParts)) {
    if (part.toUtf8().size() > kNameMaxBytes || ++parts > kMaxFilterParts) continue;
    if (part.contains(QLatin1Char('/'))) {
      filter.mime_types << part;
      continue;
    }
    QString extension = part;
    while (extension.startsWith(QLatin1Char('*'))) extension.remove(0, 1);
    if (extension.startsWith(QLatin1Char('.'))) extension.remove(0, 1);
    if (extension.isEmpty() || extension == QLatin1String("*")) {
      filter.patterns << QStringLiteral("*");
    } else {
      filter.patterns << AnyCasePattern(extension);
    }
  }
  return filter;
}

QString JoinAnswer(const QStringList& paths, DialogKind kind) {
  QStringList answer = paths;
  if (kind == DialogKind::kOpenFolder) {
    for (QString& path : answer) {
      if (!path.endsWith(QLatin1Char('/'))) path += QLatin1Char('/');
    }
  }
  return answer.join(QLatin1Char('|'));
}

}  // namespace ombrix
