// Hands a made PDF to a CUPS queue and follows the job until it ends, on
// threads of the shell's own: the window's thread never waits for CUPS.
#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

typedef struct _http_s http_t;

namespace ombrix {

struct JobRequest {
  QString printer;   // "" for the default destination
  QString pdf_path;  // removed once CUPS has it (or the job failed)
  QString title;
  std::vector<std::pair<QByteArray, QByteArray>> options;
};

struct JobReport {
  int job = 0;    // the CUPS job id; 0 when it never reached the queue
  QString state;  // "completed", "stopped", "canceled", "aborted" or "failed"
  QString reason;
};

class CupsJobs {
 public:
  // Called on the window's thread (through the default main context).
  using Reporter = std::function<void(const JobReport&)>;

  CupsJobs() = default;
  // Stops following every job (their pages hear no more) and waits for the
  // threads, which never block for long.
  ~CupsJobs();
  CupsJobs(const CupsJobs&) = delete;
  CupsJobs& operator=(const CupsJobs&) = delete;

  // report is called once the job reached the queue or failed ("failed"),
  // each time it stops, and when it ends.
  void Submit(JobRequest request, Reporter report);

 private:
  struct Shared {
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
  };
  // On the job's thread: submits the PDF, then Watch follows the job.
  void Follow(const JobRequest& request, const Reporter& report);
  // Asks about the job until it ends, 10 minutes pass or the shell ends.
  void Watch(http_t* http, const QByteArray& printer, int job, const Reporter& report);
  // Waits ms or until stopping; false when stopping.
  bool Pause(int ms);
  void Post(const Reporter& report, JobReport job_report);

  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  // Joins the threads whose jobs have ended.
  void JoinEnded();

  std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
  std::vector<Worker> workers_;
};

}  // namespace ombrix
