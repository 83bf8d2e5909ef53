#include "print/cups_job.h"

#include <glib.h>

#include <QDebug>
#include <QElapsedTimer>
#include <QFile>

#include "print/cups_library.h"
#include "print/print_rules.h"

namespace ombrix {
namespace {

// One CUPS connection per thread; closed when the follow ends.
struct Connection {
  http_t* http = nullptr;
  Connection() {
    const CupsLibrary* cups = Cups();
    if (!cups) return;
    http = cups->httpConnect2(cups->cupsServer(), cups->ippPort(), nullptr, AF_UNSPEC,
                              cups->cupsEncryption(), 1, 5000, nullptr);
    // A print server that stops answering fails the request rather than
    // holding the thread (and the shell's end) for long.
    if (http) cups->httpSetTimeout(http, 5.0, nullptr, nullptr);
  }
  ~Connection() {
    if (http) Cups()->httpClose(http);
  }
};

// Why a lookup or submission failed, as the page hears it.
QString FailureReason() {
  const ipp_status_t status = Cups()->cupsLastError();
  if (status == IPP_STATUS_ERROR_NOT_FOUND) return QStringLiteral("no-such-printer");
  if (status == IPP_STATUS_ERROR_SERVICE_UNAVAILABLE || status == IPP_STATUS_ERROR_INTERNAL)
    return QStringLiteral("cups-unavailable");
  return QStringLiteral("not-accepted");
}

QStringList Keywords(ipp_t* response, const char* name) {
  QStringList words;
  ipp_attribute_t* attribute = Cups()->ippFindAttribute(response, name, IPP_TAG_KEYWORD);
  for (int i = 0; attribute && i < Cups()->ippGetCount(attribute); ++i)
    words << QString::fromUtf8(Cups()->ippGetString(attribute, i, nullptr));
  return words;
}

// An enum attribute of an answer (a state); 0 when the answer has none.
int EnumOf(ipp_t* response, const char* name) {
  ipp_attribute_t* attribute = Cups()->ippFindAttribute(response, name, IPP_TAG_ENUM);
  return attribute ? Cups()->ippGetInteger(attribute, 0) : 0;
}

// The job's state (0 when unknown).
int AskJobState(http_t* http, int job) {
  ipp_t* request = Cups()->ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
  const QByteArray uri = "ipp://localhost/jobs/" + QByteArray::number(job);
  Cups()->ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr,
                       uri.constData());
  Cups()->ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                       Cups()->cupsUser());
  Cups()->ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
                       "job-state");
  ipp_t* response = Cups()->cupsDoRequest(http, request, "/");
  const int state = EnumOf(response, "job-state");
  Cups()->ippDelete(response);
  return state;
}

// The printer's state and its state reasons.
int AskPrinterState(http_t* http, const char* printer, QStringList* reasons) {
  ipp_t* request = Cups()->ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  char uri[HTTP_MAX_URI];
  Cups()->httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0,
                           "/printers/%s", printer);
  Cups()->ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
  static const char* const wanted[] = {"printer-state", "printer-state-reasons"};
  Cups()->ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2,
                        nullptr, wanted);
  ipp_t* response = Cups()->cupsDoRequest(http, request, "/");
  const int state = EnumOf(response, "printer-state");
  *reasons = Keywords(response, "printer-state-reasons");
  Cups()->ippDelete(response);
  return state;
}

}  // namespace

CupsJobs::~CupsJobs() {
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->stopping = true;
  }
  shared_->wake.notify_all();
  for (Worker& worker : workers_) worker.thread.join();
}

void CupsJobs::JoinEnded() {
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (!it->done->load()) {
      ++it;
      continue;
    }
    it->thread.join();
    it = workers_.erase(it);
  }
}

void CupsJobs::Submit(JobRequest request, Reporter report) {
  JoinEnded();
  auto done = std::make_shared<std::atomic<bool>>(false);
  try {
    std::thread thread([this, done, request, report] {
      Follow(request, report);
      done->store(true);
    });
    workers_.push_back(Worker{std::move(thread), done});
  } catch (const std::system_error& error) {
    qDebug() << "print: no thread for the job:" << error.what();
    QFile::remove(request.pdf_path);
    report(JobReport{0, QStringLiteral("failed"), QStringLiteral("busy")});
  }
}

bool CupsJobs::Pause(int ms) {
  std::unique_lock<std::mutex> lock(shared_->mutex);
  return !shared_->wake.wait_for(lock, std::chrono::milliseconds(ms),
                                 [this] { return shared_->stopping; });
}

void CupsJobs::Post(const Reporter& report, JobReport job_report) {
  struct Call {
    Reporter report;
    JobReport job_report;
    std::weak_ptr<Shared> shared;
  };
  auto* call = new Call{report, std::move(job_report), shared_};
  g_idle_add_full(
      G_PRIORITY_DEFAULT,
      [](gpointer data) -> gboolean {
        auto* call = static_cast<Call*>(data);
        const std::shared_ptr<Shared> shared = call->shared.lock();
        if (shared && !shared->stopping) call->report(call->job_report);
        return G_SOURCE_REMOVE;
      },
      call, [](gpointer data) { delete static_cast<Call*>(data); });
}

namespace {

// The queue a job goes to: the one asked for, or the default destination;
// "" with the reason the page hears when there is none.
QByteArray Destination(http_t* http, const QString& asked, QString* reason) {
  const QByteArray wanted = asked.toUtf8();
  cups_dest_t* dest =
      Cups()->cupsGetNamedDest(http, wanted.isEmpty() ? nullptr : wanted.constData(), nullptr);
  if (!dest) {
    *reason = Cups()->cupsLastError() == IPP_STATUS_ERROR_SERVICE_UNAVAILABLE
                  ? QStringLiteral("cups-unavailable")
                  : QStringLiteral("no-such-printer");
    qDebug() << "print: no printer" << (wanted.isEmpty() ? QStringLiteral("(default)") : asked)
             << Cups()->cupsLastErrorString();
    return QByteArray();
  }
  const QByteArray name = dest->name;
  Cups()->cupsFreeDests(1, dest);
  return name;
}

// Hands the request's PDF to printer; the job id, or 0 with the reason.
int SendPdf(http_t* http, const QByteArray& printer, const JobRequest& request, QString* reason) {
  cups_option_t* options = nullptr;
  int option_count = 0;
  for (const auto& option : request.options)
    option_count = Cups()->cupsAddOption(option.first.constData(), option.second.constData(),
                                         option_count, &options);
  const QByteArray pdf = QFile::encodeName(request.pdf_path);
  const QByteArray title = request.title.toUtf8();
  const int job = Cups()->cupsPrintFile2(http, printer.constData(), pdf.constData(),
                                         title.constData(), option_count, options);
  Cups()->cupsFreeOptions(option_count, options);
  if (job > 0) {
    qDebug() << "print: job" << job << "on" << printer;
    return job;
  }
  qDebug() << "print: the queue" << printer << "took no job:" << Cups()->cupsLastErrorString();
  *reason = FailureReason();
  return 0;
}

}  // namespace

void CupsJobs::Follow(const JobRequest& request, const Reporter& report) {
  Connection connection;
  QString reason = QStringLiteral("cups-unavailable");
  QByteArray printer;
  int job = 0;
  if (!connection.http) {
    if (Cups()) qDebug() << "print: CUPS does not answer at" << Cups()->cupsServer();
  } else if (!(printer = Destination(connection.http, request.printer, &reason)).isEmpty()) {
    job = SendPdf(connection.http, printer, request, &reason);
  }
  QFile::remove(request.pdf_path);  // CUPS has its own copy, or there is no job
  if (!job) {
    Post(report, JobReport{0, QStringLiteral("failed"), reason});
    return;
  }
  Watch(connection.http, printer, job, report);
}

void CupsJobs::Watch(http_t* http, const QByteArray& printer, int job, const Reporter& report) {
  QElapsedTimer elapsed;
  elapsed.start();
  QString last;
  while (elapsed.elapsed() < kFollowLimitMs) {
    if (!Pause(NextPollDelayMs(elapsed.elapsed()))) return;
    QStringList reasons;
    const int printer_state = AskPrinterState(http, printer.constData(), &reasons);
    const int job_state = AskJobState(http, job);
    const QString outcome = JobOutcome(job_state, printer_state);
    if (outcome == last) continue;
    qDebug() << "print: job" << job << "state" << job_state << "printer" << printer_state
             << reasons;
    last = outcome;
    if (outcome.isEmpty()) continue;  // waiting or printing again
    Post(report, JobReport{job, outcome, PrinterReason(reasons)});
    if (IsFinalOutcome(outcome)) return;
  }
  qDebug() << "print: job" << job << "not followed after 10 minutes; its last state:" << last;
}

}  // namespace ombrix
