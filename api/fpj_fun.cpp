#include "api/fpj_fun.h"

#include <QDebug>
#include <cmath>
#include <cstdint>
#include <system_error>
#include <thread>

#include "device/ComFpj.h"
#include "renderer/page_messages.h"

namespace ombrix {
namespace fpj_family {

const char kUnknownFunction[] = "未定义的函数";

namespace {

const char kWrongPort[] = "错误的参数，参数列表：串口端口";
const char kWrongCallback[] = "错误的参数，参数列表：回调函数";
const char kWrongCount[] = "错误的参数，参数列表：发票张数, 回调函数";

// A device function: its job, whether an integer comes before the callback,
// and the message for wrong arguments.
struct DeviceFunction {
  const char* name;
  Job job;
  bool takes_integer;
  const char* wrong_arguments;
};

const DeviceFunction kDeviceFunctions[] = {
    {"reset", Job::kReset, false, "错误的参数，参数列表：callback"},
    {"sellbill", Job::kSellBill, true, kWrongCount},
    {"exitbill", Job::kExitBill, false, kWrongCallback},
    {"setholenum", Job::kSetHoleNum, true, "错误的参数，参数列表：孔数， 回调函数"},
    {"queryversion", Job::kQueryVersion, false, kWrongCallback},
    {"querysensorstatus", Job::kQuerySensorStatus, false, kWrongCallback},
    {"setrange", Job::kSetRange, true, "错误的参数，参数列表：补偿距离，以0.25mm为单位, 回调函数"},
    {"setbillnum", Job::kSetFpNum, true, kWrongCount},
    {"querybillnum", Job::kQueryNum, false, kWrongCallback},
    {"cuttertest", Job::kCutterTest, false, kWrongCallback},
};

const DeviceFunction* FindDeviceFunction(const QString& name) {
  for (const DeviceFunction& function : kDeviceFunctions) {
    if (name == QLatin1String(function.name)) return &function;
  }
  return nullptr;
}

bool IsKind(const std::vector<ArgInfo>& arguments, size_t index, ArgInfo::Kind kind) {
  return index < arguments.size() && arguments[index].kind == kind;
}

bool IsInteger(const std::vector<ArgInfo>& arguments, size_t index) {
  return IsKind(arguments, index, ArgInfo::kNumber) && IsIntegerArgument(arguments[index].number);
}

Decision WrongArguments(const char* message) {
  Decision decision;
  decision.action = Decision::kWrongArguments;
  decision.text = QString::fromUtf8(message);
  return decision;
}

Decision DecideDevice(const DeviceFunction& function, const std::vector<ArgInfo>& arguments) {
  const size_t callback_index = function.takes_integer ? 1 : 0;
  bool integer_ok = !function.takes_integer || IsInteger(arguments, 0);
  // A ticket count outside 0..65535 would reach the device cut to 16 bits (-1
  // as 65535 tickets): it is refused before anything is sent.
  if (integer_ok && function.job == Job::kSellBill) {
    integer_ok = arguments[0].number >= 0 && arguments[0].number <= 65535;
  }
  if (!integer_ok || !IsKind(arguments, callback_index, ArgInfo::kFunction)) {
    return WrongArguments(function.wrong_arguments);
  }
  Decision decision;
  decision.action = Decision::kStartJob;
  decision.job = function.job;
  decision.callback_index = callback_index;
  if (function.takes_integer) decision.value = CutTo16Bits(arguments[0].number);
  return decision;
}

Decision Fast(Decision::Action action) {
  Decision decision;
  decision.action = action;
  return decision;
}

}  // namespace

bool IsIntegerArgument(double number) {
  return std::isfinite(number) && std::trunc(number) == number && number >= double(INT32_MIN) &&
         number <= double(UINT32_MAX);
}

quint16 CutTo16Bits(double integer) {
  const auto as_unsigned = std::uint32_t(std::int64_t(integer));
  return quint16(as_unsigned & 0xFFFFu);
}

Decision Decide(const QString& name, const std::vector<ArgInfo>& arguments) {
  if (const DeviceFunction* function = FindDeviceFunction(name)) {
    return DecideDevice(*function, arguments);
  }
  if (name == QLatin1String("open")) {
    if (!IsKind(arguments, 0, ArgInfo::kString)) return WrongArguments(kWrongPort);
    Decision decision = Fast(Decision::kOpen);
    decision.text = arguments[0].text;
    return decision;
  }
  if (name == QLatin1String("close")) return Fast(Decision::kClose);
  if (name == QLatin1String("getportstatus")) return Fast(Decision::kPortStatus);
  if (name == QLatin1String("getappversion")) return Fast(Decision::kAppVersion);
  if (name == QLatin1String("getlastcode")) return Fast(Decision::kLastCode);
  return Fast(Decision::kUnknown);
}

JobResult RunJob(ComFpj& device, Job job, quint16 value) {
  JobResult result;
  switch (job) {
    case Job::kReset:
      result.code = device.Reset();
      break;
    case Job::kQueryNum:
      result.code = device.QueryNum();
      break;
    case Job::kSetHoleNum:
      result.code = device.SetHoleNum(value);
      break;
    case Job::kSetFpNum:
      result.code = device.SetFpNum(value);
      break;
    case Job::kSetRange:
      result.code = device.SetRange(value);
      break;
    case Job::kSellBill: {
      quint16 count = value;
      result.code = device.SellBill(count);
      result.count = count;
      break;
    }
    case Job::kExitBill:
      result.code = device.ExitBill();
      break;
    case Job::kQueryVersion:
      result.text = device.QueryFirmwareVersion();
      result.code = device.lastCode();
      break;
    case Job::kQuerySensorStatus:
      result.code = device.QuerySensorStatus();
      break;
    case Job::kCutterTest:
      result.code = device.CutterTest();
      break;
    case Job::kNone:
      break;
  }
  return result;
}

std::vector<JsPlain> CallbackArguments(Job job, const JobResult& result) {
  if (job == Job::kSellBill) return {JsPlain::Int(result.code), JsPlain::Int(result.count)};
  if (job == Job::kQueryVersion) return {JsPlain::Int(result.code), JsPlain::String(result.text)};
  return {JsPlain::Int(result.code)};
}

PendingCalls& PendingCalls::Get() {
  static PendingCalls table;
  return table;
}

bool PendingCalls::Add(int fpj_id, const QString& name, const Entry& entry) {
  return entries_.emplace(std::make_pair(fpj_id, name), entry).second;
}

bool PendingCalls::Contains(int fpj_id, const QString& name) const {
  return entries_.count(std::make_pair(fpj_id, name)) != 0;
}

std::optional<PendingCalls::Entry> PendingCalls::Take(int fpj_id, const QString& name) {
  auto it = entries_.find(std::make_pair(fpj_id, name));
  if (it == entries_.end()) return std::nullopt;
  const Entry entry = it->second;
  entries_.erase(it);
  return entry;
}

std::vector<PendingCalls::Entry> PendingCalls::TakeContext(ContextToken token) {
  std::vector<Entry> taken;
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (it->second.token == token) {
      taken.push_back(it->second);
      it = entries_.erase(it);
    } else {
      ++it;
    }
  }
  return taken;
}

// One dispenser object: the driver and the id its pending calls are kept under.
// Jobs and their result tasks hold references to it until they are done.
class FpjFun {
 public:
  explicit FpjFun(int id) : id_(id) {}
  ~FpjFun() { qDebug() << "FpjFun is release"; }  // the driver closes the port
  FpjFun(const FpjFun&) = delete;
  FpjFun& operator=(const FpjFun&) = delete;

  int id() const { return id_; }
  ComFpj& device() { return device_; }

 private:
  int id_;
  ComFpj device_;
};

// Whether a device job of one handler is under way: from its start until its
// result has reached the page's thread. Page thread only.
struct JobState {
  bool running = false;
};

namespace {

// Keys of the pending calls' records in the callback registry. Negative, so
// they never meet the identifiers that families hand to pages.
int NextPendingKey() {
  static int key = 0;
  return --key;
}

ContextToken CurrentToken() {
  const CallContext* call = CurrentCall();
  return call ? call->token : 0;
}

// The handlers of each live context, so that a context's end releases their
// dispenser objects (and ports) without waiting for the handlers to go.
std::multimap<ContextToken, std::weak_ptr<FpjFunHandler>>& LiveHandlers() {
  static std::multimap<ContextToken, std::weak_ptr<FpjFunHandler>> handlers;
  return handlers;
}

void OnContextReleased(ContextToken token) {
  CallbackRegistry& registry = CallbackRegistry::Get();
  for (const PendingCalls::Entry& entry : PendingCalls::Get().TakeContext(token)) {
    registry.RemoveCallback(entry.key);
  }
  auto range = LiveHandlers().equal_range(token);
  std::vector<std::shared_ptr<FpjFunHandler>> handlers;
  for (auto it = range.first; it != range.second; ++it) {
    if (auto handler = it->second.lock()) handlers.push_back(handler);
  }
  LiveHandlers().erase(range.first, range.second);
  for (const auto& handler : handlers) handler->ReleaseObject();
}

void ListenForReleases() {
  static bool listening = false;
  if (listening) return;
  listening = true;
  CallbackRegistry::Get().AddReleaseListener(OnContextReleased);
}

ArgInfo Describe(const JsValue& value) {
  ArgInfo info;
  if (value.IsString()) {
    info.kind = ArgInfo::kString;
    info.text = value.GetStringValue();
  } else if (value.IsFunction()) {
    info.kind = ArgInfo::kFunction;
  } else if (value.IsNumber()) {
    info.kind = ArgInfo::kNumber;
    info.number = value.GetDoubleValue();
  }
  return info;
}

std::vector<ArgInfo> Describe(const JsArgs& arguments) {
  std::vector<ArgInfo> infos;
  infos.reserve(arguments.size());
  for (const JsValue& value : arguments) infos.push_back(Describe(value));
  return infos;
}

// The tickets a job dispensed: a sale's count when its code says it holds
// the number dispensed (0, or the device states -102 .. -107), else none.
int TicketsDispensed(Job job, const JobResult& result) {
  if (job != Job::kSellBill) return 0;
  return result.code == 0 || (result.code <= -102 && result.code >= -107) ? result.count : 0;
}

// On the page's thread: hands a finished job's result to the call's callback.
void Deliver(int fpj_id, const QString& name, Job job, const JobResult& result) {
  const std::optional<PendingCalls::Entry> entry = PendingCalls::Get().Take(fpj_id, name);
  if (!entry) return;  // the call's context went away meanwhile
  // The entry is gone before the callback runs, so that the callback can call
  // the same function again.
  CallbackRegistry& registry = CallbackRegistry::Get();
  registry.Call(entry->key, entry->callback_index, CallbackArguments(job, result));
  registry.RemoveCallback(entry->key);
}

}  // namespace
}  // namespace fpj_family

using fpj_family::Decision;
using fpj_family::FpjFun;
using fpj_family::PendingCalls;

FpjFunHandler::FpjFunHandler(std::uint64_t page_id)
    : page_id_(page_id), job_(std::make_shared<fpj_family::JobState>()) {
  fpj_family::ListenForReleases();
}

FpjFunHandler::~FpjFunHandler() { qDebug() << "~FpjFunHandler" << page_id_; }

bool FpjFunHandler::Execute(const QString& name, const JsArgs& arguments, JsReturn* retval,
                            QString* exception) {
  const Decision decision = fpj_family::Decide(name, fpj_family::Describe(arguments));
  if (decision.action == Decision::kUnknown) {
    *exception = QString::fromUtf8(fpj_family::kUnknownFunction);
    return false;
  }
  TrackContext();
  Object();
  if (Busy(name)) {
    retval->Set(JsPlain::Int(fpj_family::kBusy));
    return true;
  }
  if (decision.action == Decision::kWrongArguments) {
    *exception = decision.text;
    return true;
  }
  if (decision.action == Decision::kStartJob) {
    retval->Set(JsPlain::Int(StartJob(name, decision, arguments)));
    return true;
  }
  return RunFast(decision, retval);
}

void FpjFunHandler::ReleaseObject() {
  if (!fun_) return;
  if (job_->running) {
    // The page has gone: its job stops waiting for the device at once and
    // closes the port, so the next page can open it.
    fun_->device().Abandon();
  } else {
    fun_->device().ClosePort();
  }
  fun_.reset();
}

void FpjFunHandler::TrackContext() {
  if (tracked_) return;
  tracked_ = true;
  fpj_family::LiveHandlers().emplace(fpj_family::CurrentToken(), weak_from_this());
}

FpjFun& FpjFunHandler::Object() {
  if (!fun_) fun_ = std::make_shared<FpjFun>(NextCallbackId());
  return *fun_;
}

bool FpjFunHandler::Busy(const QString& name) const {
  return job_->running || PendingCalls::Get().Contains(fun_->id(), name);
}

bool FpjFunHandler::RunFast(const Decision& decision, JsReturn* retval) {
  switch (decision.action) {
    case Decision::kOpen:
      retval->Set(JsPlain::Int(Open(decision.text)));
      return true;
    case Decision::kClose:
      Close();
      retval->Set(JsPlain::Bool(true));
      return true;
    case Decision::kPortStatus:
      retval->Set(JsPlain::Int(fun_->device().PortStatus()));
      return true;
    case Decision::kAppVersion:
      retval->Set(JsPlain::String(QStringLiteral("1.0")));
      return true;
    case Decision::kLastCode:
      retval->Set(JsPlain::Int(fun_->device().lastCode()));
      return true;
    default:
      return false;
  }
}

int FpjFunHandler::Open(const QString& port_name) {
  return fun_->device().OpenPort(port_name) ? 0 : -100;
}

void FpjFunHandler::Close() {
  // Closed here and now: a result task that still holds the object must not
  // keep the port from the next open.
  fun_->device().ClosePort();
  fun_.reset();
}

int FpjFunHandler::StartJob(const QString& name, const Decision& decision,
                            const JsArgs& arguments) {
  const PendingCalls::Entry entry{fpj_family::CurrentToken(), fpj_family::NextPendingKey(),
                                  decision.callback_index};
  CallbackRegistry::Get().RegisterCallback(arguments, entry.key);
  PendingCalls::Get().Add(fun_->id(), name, entry);
  if (LaunchWorker(name, decision)) return 0;
  PendingCalls::Get().Take(fun_->id(), name);
  CallbackRegistry::Get().RemoveCallback(entry.key);
  return fpj_family::kBusy;
}

bool FpjFunHandler::LaunchWorker(const QString& name, const Decision& decision) {
  if (job_->running) return false;
  const std::shared_ptr<FpjFun> fun = fun_;
  const std::shared_ptr<fpj_family::JobState> state = job_;
  const fpj_family::Job job = decision.job;
  const quint16 value = decision.value;
  const std::uint64_t page_id = page_id_;
  state->running = true;
  try {
    std::thread([fun, state, job, value, name, page_id] {
      const fpj_family::JobResult result = fpj_family::RunJob(fun->device(), job, value);
      if (fun->device().abandoned()) fun->device().ClosePort();  // its page went meanwhile
      PostToMainThread([fun, state, job, name, result, page_id] {
        state->running = false;
        fpj_family::Deliver(fun->id(), name, job, result);
        // Told to the shell for its metrics; nothing waits for an answer.
        SendToBrowser(page_id,
                      ProcessMessage{QString::fromLatin1(kFpjResultMessage),
                                     {MessageArg::Int(fpj_family::TicketsDispensed(job, result)),
                                      MessageArg::Int(result.code)}});
      });
    }).detach();
  } catch (const std::system_error& error) {
    qDebug() << "fpj worker not started:" << error.what();
    state->running = false;
    return false;
  }
  return true;
}

}  // namespace ombrix
