#include "print/print_rules.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <cmath>

namespace ombrix {
namespace {

struct NamedPaper {
  const char* name;
  double width_mm;
  double height_mm;
};
const NamedPaper kNamedPapers[] = {{"A4", 210, 297},
                                   {"A5", 148, 210},
                                   {"A6", 105, 148},
                                   {"Letter", 215.9, 279.4},
                                   {"Legal", 215.9, 355.6}};

constexpr double kMaxPaperMm = 2000;

// 80 or 57.5, as CUPS' custom sizes write them.
QString MmText(double mm) { return QString::number(mm, 'g', 6); }

}  // namespace

bool ParsePaper(const QString& text, PaperSize* paper, QString* error) {
  for (const NamedPaper& named : kNamedPapers) {
    if (text.compare(QLatin1String(named.name), Qt::CaseInsensitive)) continue;
    *paper = PaperSize{named.width_mm, named.height_mm, QLatin1String(named.name)};
    return true;
  }
  static const QRegularExpression custom(
      QStringLiteral("^(\\d{1,4}(?:\\.\\d{1,2})?)x(\\d{1,4}(?:\\.\\d{1,2})?)mm$"));
  const QRegularExpressionMatch match = custom.match(text);
  if (!match.hasMatch()) {
    *error = QStringLiteral(
                 "paper \"%1\" is neither A4, A5, A6, Letter, Legal nor WIDTHxHEIGHTmm "
                 "(such as \"80x200mm\")")
                 .arg(text.left(80));
    return false;
  }
  const double width = match.captured(1).toDouble();
  const double height = match.captured(2).toDouble();
  if (width <= 0 || height <= 0 || width > kMaxPaperMm || height > kMaxPaperMm) {
    *error =
        QStringLiteral("paper \"%1\": each side must be above 0 and at most 2000 mm").arg(text);
    return false;
  }
  *paper =
      PaperSize{width, height, QStringLiteral("Custom.%1x%2mm").arg(MmText(width), MmText(height))};
  return true;
}

bool IsQueueName(const QString& name) {
  if (name.isEmpty() || name.size() > 127) return false;
  for (const QChar c : name) {
    if (c.unicode() <= 0x20 || c.unicode() == 0x7f || !c.isPrint()) return false;
    if (QStringLiteral("/\\#?'\"").contains(c)) return false;
  }
  return true;
}

bool MakePrintOptions(const QJsonValue& printer, const QJsonValue& paper,
                      const QJsonValue& margins_mm, const QJsonValue& copies, PrintOptions* options,
                      QString* reason, QString* error) {
  *options = PrintOptions();
  if (!printer.isNull() && !printer.isUndefined()) {
    if (!printer.isString() || !IsQueueName(printer.toString())) {
      *reason = QStringLiteral("bad-printer-name");
      *error = QStringLiteral(
          "printer: a CUPS queue name of 1 to 127 characters without spaces, \"/\", \"#\" "
          "or quotes");
      return false;
    }
    options->printer = printer.toString();
  }
  if (!paper.isNull() && !paper.isUndefined()) {
    options->has_paper = true;
    if (!ParsePaper(paper.toString(), &options->paper, error)) {
      *reason = QStringLiteral("bad-paper");
      return false;
    }
  }
  if (!margins_mm.isNull() && !margins_mm.isUndefined()) {
    const double margins = margins_mm.toDouble(-1);
    const double shorter = options->has_paper
                               ? std::min(options->paper.width_mm, options->paper.height_mm)
                               : kMaxPaperMm;
    if (!margins_mm.isDouble() || margins < 0 || 2 * margins >= shorter) {
      *reason = QStringLiteral("bad-margins");
      *error = QStringLiteral("margins_mm: a number of 0 or more that leaves room on the paper");
      return false;
    }
    options->margins_mm = margins;
  }
  if (!copies.isNull() && !copies.isUndefined()) {
    const double count = copies.toDouble(0);
    if (!copies.isDouble() || count != std::floor(count) || count < 1 || count > kMaxCopies) {
      *reason = QStringLiteral("bad-copies");
      *error = QStringLiteral("copies: a whole number from 1 to %1").arg(kMaxCopies);
      return false;
    }
    options->copies = int(count);
  }
  return true;
}

std::vector<std::pair<QByteArray, QByteArray>> JobOptions(const PrintOptions& options) {
  std::vector<std::pair<QByteArray, QByteArray>> list;
  if (options.has_paper) list.emplace_back("media", options.paper.media.toUtf8());
  list.emplace_back("copies", QByteArray::number(options.copies));
  return list;
}

QString JobOutcome(int job_state, int printer_state) {
  switch (job_state) {
    case kJobCompleted:
      return QStringLiteral("completed");
    case kJobCanceled:
      return QStringLiteral("canceled");
    case kJobAborted:
      return QStringLiteral("aborted");
    case kJobStopped:
      return QStringLiteral("stopped");
    default:
      return printer_state == kPrinterStopped ? QStringLiteral("stopped") : QString();
  }
}

bool IsFinalOutcome(const QString& outcome) {
  return outcome == QLatin1String("completed") || outcome == QLatin1String("canceled") ||
         outcome == QLatin1String("aborted") || outcome == QLatin1String("failed");
}

QString PrinterReason(const QStringList& reasons) {
  for (QString reason : reasons) {
    if (reason.isEmpty() || reason == QLatin1String("none")) continue;
    for (const char* ending : {"-error", "-warning", "-report"}) {
      if (reason.endsWith(QLatin1String(ending))) {
        reason.chop(int(qstrlen(ending)));
        break;
      }
    }
    return reason;
  }
  return QString();
}

int NextPollDelayMs(qint64 elapsed_ms) {
  if (elapsed_ms < 2000) return 25;  // a receipt is usually done by then
  return elapsed_ms < 10000 ? 100 : 1000;
}

QByteArray PrintResultScript(int job, const QString& state, const QString& reason) {
  QJsonObject detail;
  detail.insert(QStringLiteral("job"), job);
  detail.insert(QStringLiteral("state"), state);
  detail.insert(QStringLiteral("reason"), reason);
  return "document.dispatchEvent(new CustomEvent('printresult', {detail: " +
         QJsonDocument(detail).toJson(QJsonDocument::Compact) + "}));";
}

}  // namespace ombrix
