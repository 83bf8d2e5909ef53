// Silent printing's decisions, free of the engine and of CUPS: the manifest's
// paper, margins, copies and queue name checked, the options a job is sent
// with, a job's state as the page hears it, and when a job is asked about.
#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

namespace ombrix {

struct PaperSize {
  double width_mm = 0;
  double height_mm = 0;
  QString media;  // what CUPS is told: "A4", "Letter", "Custom.80x200mm"
};

// "A4", "A5", "A6", "Letter", "Legal" (any case), or "WIDTHxHEIGHTmm" with
// sizes above 0 and at most 2000 mm ("80x200mm", "57.5x100mm"). False with a
// reason for anything else.
bool ParsePaper(const QString& text, PaperSize* paper, QString* error);

// A CUPS queue name: 1 to 127 printable characters, none of them a space, a
// tab, "/", "\\", "#", "?", "'" or "\"".
bool IsQueueName(const QString& name);

// How every silent print is made ("print" in the manifest).
struct PrintOptions {
  QString printer;         // "" for the CUPS default destination
  bool has_paper = false;  // false: the queue's own paper
  PaperSize paper;
  double margins_mm = 0;
  int copies = 1;
};

constexpr int kMaxCopies = 99;

// Checks the manifest's values (missing ones are null and take their
// defaults). On a mistake, false with the reason a print fails with and a
// line for the log.
bool MakePrintOptions(const QJsonValue& printer, const QJsonValue& paper,
                      const QJsonValue& margins_mm, const QJsonValue& copies, PrintOptions* options,
                      QString* reason, QString* error);

// The job options for CUPS: media and copies.
std::vector<std::pair<QByteArray, QByteArray>> JobOptions(const PrintOptions& options);

// IPP's job states and the printer's "stopped" state.
enum IppJobState {
  kJobPending = 3,
  kJobHeld = 4,
  kJobProcessing = 5,
  kJobStopped = 6,
  kJobCanceled = 7,
  kJobAborted = 8,
  kJobCompleted = 9,
};
constexpr int kPrinterStopped = 5;

// What the page is told of a job now: "completed", "canceled", "aborted",
// "stopped" (the job or its printer stopped), or "" while it waits or prints.
QString JobOutcome(int job_state, int printer_state);
bool IsFinalOutcome(const QString& outcome);

// The printer's first state reason other than "none", without its
// "-error", "-warning" or "-report" ending ("media-empty"); "" for none.
QString PrinterReason(const QStringList& reasons);

// How long after the submission the job is asked about again: every 25 ms
// for the first 2 s, every 100 ms up to 10 s, then every second. Followed for
// 10 minutes at most.
int NextPollDelayMs(qint64 elapsed_ms);
constexpr qint64 kFollowLimitMs = 10 * 60 * 1000;

// The event the printing frame's document gets: `printresult` with
// `detail` = {job, state, reason}; a script for that document.
QByteArray PrintResultScript(int job, const QString& state, const QString& reason);

}  // namespace ombrix
