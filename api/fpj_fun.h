// The `ombrix.fpj` family: the ticket dispenser on a serial port. The fast
// functions answer at once; each device command runs on a worker thread, one
// at a time, and its result reaches the page's callback on the page's thread.
#pragma once

#include <QString>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "renderer/callback_registry.h"
#include "renderer/js_value.h"

class ComFpj;

namespace ombrix {
namespace fpj_family {

// Returned instead of starting anything while a device job runs or the same
// function of the same dispenser object still waits for its callback.
constexpr int kBusy = -200;
extern const char kUnknownFunction[];

// Device jobs, numbered as the dispenser's command table of this family.
enum class Job {
  kNone = 0,
  kReset = 2,
  kQueryNum = 3,
  kSetHoleNum = 5,
  kSetFpNum = 6,
  kSetRange = 7,
  kSellBill = 8,
  kExitBill = 9,
  kQueryVersion = 10,
  kQuerySensorStatus = 11,
  kCutterTest = 12,
};

// One page argument, reduced to what the checks look at.
struct ArgInfo {
  enum Kind { kOther, kString, kNumber, kFunction };
  Kind kind = kOther;
  double number = 0;  // kNumber
  QString text;       // kString
};

// What a call does, decided from its name and arguments alone.
struct Decision {
  enum Action {
    kUnknown,
    kWrongArguments,
    kOpen,
    kClose,
    kPortStatus,
    kAppVersion,
    kLastCode,
    kStartJob,
  };
  Action action = kUnknown;
  Job job = Job::kNone;
  quint16 value = 0;          // the job's integer argument, cut to 16 bits
  size_t callback_index = 0;  // where the page's callback is in the arguments
  QString text;               // the port name, or the wrong-argument message
};

Decision Decide(const QString& name, const std::vector<ArgInfo>& arguments);

// A JavaScript integer as the family accepts it: integral and within the
// range of a signed or unsigned 32-bit number.
bool IsIntegerArgument(double number);
// The integer read as unsigned 32 bits, cut to its low 16 bits (-1 -> 65535).
quint16 CutTo16Bits(double integer);

// What a job produced (plain data, made on the worker thread).
struct JobResult {
  int code = 0;   // the result code, or for kQueryNum the count or code
  int count = 0;  // kSellBill: tickets dispensed
  QString text;   // kQueryVersion: the version text
};

// Runs one job on the driver (blocks until the device answered or timed out).
JobResult RunJob(ComFpj& device, Job job, quint16 value);
// The values the page's callback receives for a job's result.
std::vector<JsPlain> CallbackArguments(Job job, const JobResult& result);

// Calls that wait for their callback, keyed by (dispenser object id, function
// name). Used on the page's thread only.
class PendingCalls {
 public:
  struct Entry {
    ContextToken token = 0;     // the context of the call
    int key = 0;                // its record in the callback registry
    size_t callback_index = 0;  // where its callback is
  };

  static PendingCalls& Get();  // the web process's table

  bool Add(int fpj_id, const QString& name, const Entry& entry);  // never replaces
  bool Contains(int fpj_id, const QString& name) const;
  std::optional<Entry> Take(int fpj_id, const QString& name);
  std::vector<Entry> TakeContext(ContextToken token);
  size_t size() const { return entries_.size(); }

 private:
  std::map<std::pair<int, QString>, Entry> entries_;
};

class FpjFun;
struct JobState;

}  // namespace fpj_family

class FpjFunHandler : public FunHandler, public std::enable_shared_from_this<FpjFunHandler> {
 public:
  explicit FpjFunHandler(std::uint64_t page_id);
  ~FpjFunHandler() override;
  bool Execute(const QString& name, const JsArgs& arguments, JsReturn* retval,
               QString* exception) override;

  // The handler's context went away: the dispenser object (and with it the
  // port) goes as soon as no job uses it.
  void ReleaseObject();

 private:
  void TrackContext();
  fpj_family::FpjFun& Object();
  bool Busy(const QString& name) const;
  bool RunFast(const fpj_family::Decision& decision, JsReturn* retval);
  int Open(const QString& port_name);
  void Close();
  int StartJob(const QString& name, const fpj_family::Decision& decision, const JsArgs& arguments);
  bool LaunchWorker(const QString& name, const fpj_family::Decision& decision);

  std::uint64_t page_id_;  // the page the handler was made for
  bool tracked_ = false;
  std::shared_ptr<fpj_family::FpjFun> fun_;
  std::shared_ptr<fpj_family::JobState> job_;
};

}  // namespace ombrix
