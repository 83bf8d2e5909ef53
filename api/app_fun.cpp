#include "api/app_fun.h"

#include <QDebug>
#include <QProcess>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include "app/manifest_util.h"
#include "renderer/page_messages.h"
#include "util/log_text.h"
#include "util/util_win.h"

namespace ombrix {
namespace {

// Argument positions of createserver's callbacks.
constexpr size_t kOnSuccess = 1;
constexpr size_t kOnFailure = 2;
constexpr size_t kOnRead = 3;

bool AllStrings(const JsArgs& arguments, int count) {
  if (int(arguments.size()) != count) return false;
  for (const JsValue& value : arguments) {
    if (!value.IsString()) return false;
  }
  return true;
}

bool OneString(const JsArgs& arguments) { return AllStrings(arguments, 1); }

bool IsCreateServerCall(const JsArgs& arguments) {
  return arguments.size() == 4 && arguments[0].IsString() && arguments[kOnSuccess].IsFunction() &&
         arguments[kOnFailure].IsFunction() && arguments[kOnRead].IsFunction();
}

}  // namespace

namespace app_ipc {

size_t CompleteUtf8Length(const char* data, size_t length) {
  size_t continuation = 0;
  while (continuation < 3 && continuation < length &&
         (static_cast<unsigned char>(data[length - 1 - continuation]) & 0xC0) == 0x80) {
    ++continuation;
  }
  if (continuation == length) return length;
  const size_t lead_at = length - 1 - continuation;
  const unsigned char lead = static_cast<unsigned char>(data[lead_at]);
  size_t needed = 1;
  if (lead >= 0xF0 && lead < 0xF8) {
    needed = 4;
  } else if (lead >= 0xE0) {
    needed = 3;
  } else if (lead >= 0xC0) {
    needed = 2;
  }
  return needed > continuation + 1 ? lead_at : length;
}

QString BlockText::Take(const fastipc::MemBlock& block) {
  // A block is zero-terminated text: a zero byte ends it, whatever follows.
  const size_t length = block.data ? strnlen(block.data, block.length) : 0;
  const bool ended_by_zero = length < block.length;
  QByteArray bytes(block.data, int(length));
  if (block.type == fastipc::kTypeWhole) return QString::fromUtf8(bytes.constData(), bytes.size());
  const std::string id = block.idText();
  auto carried = carry_.find(id);
  if (carried != carry_.end()) {
    bytes.prepend(carried->second);
    carry_.erase(carried);
  }
  // A piece cut short by a zero byte ends its text there: nothing is carried.
  if (block.type == fastipc::kTypePiece && !ended_by_zero) {
    const int complete = int(CompleteUtf8Length(bytes.constData(), size_t(bytes.size())));
    if (complete < bytes.size()) {
      if (carry_.size() >= kMaxPending) carry_.erase(carry_.begin());
      carry_[id] = bytes.mid(complete);
      bytes.truncate(complete);
    }
  }
  return QString::fromUtf8(bytes.constData(), bytes.size());
}

AppFun::AppFun(std::shared_ptr<OmbrixCefExecuteCallbackHandler> handler, int uuid, QString channel,
               ContextToken context)
    : CallbackWorker(std::move(handler), uuid),
      channel_(std::move(channel)),
      key_(channel_.toUtf8().toStdString()),
      context_(context) {}

AppFun::~AppFun() { server_.close(); }

void AppFun::Close() {
  {
    std::lock_guard<std::mutex> lock(start_mutex_);
    closed_ = true;
  }
  server_.close();
}

namespace {
std::atomic<int> g_running_readers{0};

// Every reader whose thread has not ended, for closing a context's readers.
// Never destroyed, like the server table: it must outlive every reader thread.
struct LiveReaders {
  std::mutex mutex;
  std::vector<std::weak_ptr<AppFun>> readers;
};

LiveReaders& Live() {
  static auto* live = new LiveReaders;
  return *live;
}

// Adds reader, or with `add` false removes it; expired entries go either way.
void Track(const std::shared_ptr<AppFun>& reader, bool add = true) {
  LiveReaders& live = Live();
  std::lock_guard<std::mutex> lock(live.mutex);
  live.readers.erase(std::remove_if(live.readers.begin(), live.readers.end(),
                                    [&](const std::weak_ptr<AppFun>& r) {
                                      return r.expired() || (!add && r.lock() == reader);
                                    }),
                     live.readers.end());
  if (add) live.readers.push_back(reader);
}

std::vector<std::shared_ptr<AppFun>> LiveReadersOf(ContextToken context) {
  LiveReaders& live = Live();
  std::lock_guard<std::mutex> lock(live.mutex);
  std::vector<std::shared_ptr<AppFun>> found;
  for (const std::weak_ptr<AppFun>& weak : live.readers) {
    std::shared_ptr<AppFun> reader = weak.lock();
    if (reader && reader->context() == context) found.push_back(std::move(reader));
  }
  return found;
}
}  // namespace

void CloseServersOf(ContextToken context) {
  for (const std::shared_ptr<AppFun>& reader : LiveReadersOf(context)) {
    ServerTable::Get().RemoveIfOwn(reader->key(), reader.get());
    reader->Close();
  }
}

int RunningReaders() { return g_running_readers; }

bool AppFun::Start(const std::shared_ptr<AppFun>& worker) {
  Track(worker);
  ++g_running_readers;
  try {
    std::thread([reader = worker]() mutable {
      reader->Read();
      reader.reset();
      --g_running_readers;
    }).detach();
  } catch (const std::exception& e) {  // std::system_error when the system has no thread to give
    qDebug() << "createserver" << LogText(worker->channel_)
             << "could not start its reader:" << e.what();
    --g_running_readers;
    Track(worker, false);
    return false;
  }
  return true;
}

void AppFun::Read() {
  const std::shared_ptr<AppFun> self = shared_from_this();
  {
    std::lock_guard<std::mutex> lock(start_mutex_);
    const int status = server_.create(channel_.toStdWString(), kBlockSize);
    if (status != fastipc::kOk) {
      qDebug() << "createserver" << LogText(channel_) << "failed with status" << status;
      ServerTable::Get().RemoveIfOwn(key_, this);
      PostCompletion(self, QStringLiteral("createfailed"), nullptr, true);
      return;
    }
    // A close that came first (closeserver right after createserver) still
    // lets the page hear that the channel was ready; the reader reads nothing.
    if (closed_) {
      server_.close();
    } else {
      server_.setListener(this);
    }
  }
  PostCompletion(self, QStringLiteral("createsuccess"), nullptr, false);
  server_.startRead();  // returns at once when closed
  ServerTable::Get().RemoveIfOwn(key_, this);
  qDebug() << "start read end" << LogText(channel_);
  // The page's registration goes with the reader.
  PostCompletion(self, QStringLiteral("closed"), nullptr, false);
}

void AppFun::onRead(fastipc::MemBlock* block) {
  if (block == nullptr || block->length == 0) return;
  QString text = texts_.Take(*block);
  // Empty text is delivered only for a block that starts with a zero byte;
  // otherwise all of it waits for the next piece (a cut character).
  if (text.isEmpty() && block->data[0] != '\0') return;
  // The text travels inside its own task, so each delivery sees its own block.
  std::shared_ptr<AppFun> self = shared_from_this();
  PostToMainThread([self, text]() mutable {
    if (self->handler()) {
      self->handler()->ExecuteCallback(QStringLiteral("onread"), self->uuid(), &text, true);
    }
  });
}

ServerTable& ServerTable::Get() {
  static auto* table = new ServerTable;
  return *table;
}

bool ServerTable::Insert(const std::string& name, const std::shared_ptr<AppFun>& reader) {
  std::lock_guard<std::mutex> lock(mutex_);
  return servers_.emplace(name, reader).second;
}

void ServerTable::RemoveIfOwn(const std::string& name, const AppFun* reader) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = servers_.find(name);
  if (it != servers_.end() && it->second.get() == reader) servers_.erase(it);
}

std::shared_ptr<AppFun> ServerTable::Take(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = servers_.find(name);
  if (it == servers_.end()) return nullptr;
  std::shared_ptr<AppFun> reader = std::move(it->second);
  servers_.erase(it);
  return reader;
}

std::vector<std::shared_ptr<AppFun>> ServerTable::TakeAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::shared_ptr<AppFun>> readers;
  for (auto& entry : servers_) readers.push_back(std::move(entry.second));
  servers_.clear();
  return readers;
}

bool ServerTable::Contains(const std::string& name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return servers_.count(name) != 0;
}

void CloseServer(const std::string& name) {
  // Closed outside the table's lock: closing waits for the reader's loop to end.
  if (std::shared_ptr<AppFun> reader = ServerTable::Get().Take(name)) reader->Close();
}

void CloseAllServers() {
  for (const std::shared_ptr<AppFun>& reader : ServerTable::Get().TakeAll()) reader->Close();
}

}  // namespace app_ipc

AppFunHandler::AppFunHandler(std::uint64_t page_id) : page_id_(page_id) {
  // A write never blocks the page for long: each block gets its own limit.
  client_.setBlockTimeout(int(app_ipc::kBlockLimit.count()));
  // A page that goes away takes its channel readers with it (once per process).
  static const bool listening = [] {
    CallbackRegistry::Get().AddReleaseListener(app_ipc::CloseServersOf);
    return true;
  }();
  (void)listening;
}

AppFunHandler::~AppFunHandler() { client_.close(); }

bool AppFunHandler::Send(const QString& name, const JsArgs& arguments, int string_count,
                         JsReturn* retval) {
  if (string_count > 0 && !AllStrings(arguments, string_count)) {
    retval->Set(JsPlain::Bool(false));
    return true;
  }
  ProcessMessage message;
  message.name = name;
  for (int i = 0; i < string_count; ++i) {
    message.args.push_back(MessageArg::String(arguments[size_t(i)].GetStringValue()));
  }
  if (!SendToBrowser(page_id_, message)) retval->Set(JsPlain::Bool(true));
  return true;
}

bool AppFunHandler::ExitApp() {
  app_ipc::CloseAllServers();
  ProcessMessage message;
  message.name = QStringLiteral("exitapp");
  SendToBrowser(page_id_, message);
  return true;
}

bool AppFunHandler::RunApp(const JsArgs& arguments) {
  // A command line holding a NUL would run another program than the one named.
  if (!OneString(arguments) || !IsFilePath(arguments[0].GetStringValue())) return true;
  const QStringList parts = QProcess::splitCommand(arguments[0].GetStringValue());
  if (parts.isEmpty()) return true;
  const bool started = QProcess::startDetached(parts.first(), parts.mid(1));
  qDebug() << "runapp" << LogText(arguments[0].GetStringValue())
           << (started ? "started" : "did not start");
  return true;
}

bool AppFunHandler::KillApp(const JsArgs& arguments, JsReturn* retval) {
  retval->Set(JsPlain::Bool(OneString(arguments) && KillProcess(arguments[0].GetStringValue())));
  return true;
}

bool AppFunHandler::CreateClient(const JsArgs& arguments, JsReturn* retval) {
  if (!OneString(arguments)) return true;
  client_.close();  // a page has one connection: the earlier one goes first
  const int status =
      client_.create(arguments[0].GetStringValue().toStdWString(), app_ipc::kBlockSize);
  retval->Set(JsPlain::Int(status));
  return true;
}

bool AppFunHandler::CloseServer(const JsArgs& arguments, JsReturn* retval) {
  if (!OneString(arguments)) return true;
  app_ipc::CloseServer(arguments[0].GetStringValue().toUtf8().toStdString());
  retval->Set(JsPlain::Bool(true));
  return true;
}

bool AppFunHandler::CreateServer(const JsArgs& arguments, JsReturn* retval) {
  if (!IsCreateServerCall(arguments)) {
    retval->Set(JsPlain::Bool(false));
    return true;
  }
  const int uuid = NextCallbackId();
  const CallContext* call = CurrentCall();
  auto worker = std::make_shared<app_ipc::AppFun>(
      shared_from_this(), uuid, arguments[0].GetStringValue(), call ? call->token : 0);
  CallbackRegistry& registry = CallbackRegistry::Get();
  registry.RegisterCallback(arguments, uuid);
  registry.RegisterJSObject(uuid, worker);
  // In the table from now on, so that a closeserver in the same script finds it.
  app_ipc::ServerTable::Get().Insert(worker->key(), worker);
  if (!app_ipc::AppFun::Start(worker)) {
    app_ipc::ServerTable::Get().RemoveIfOwn(worker->key(), worker.get());
    registry.RemoveCallback(uuid);
    registry.RemoveJSObject(uuid);
    retval->Set(JsPlain::Bool(false));
    return true;
  }
  retval->Set(JsPlain::Bool(true));
  return true;
}

bool AppFunHandler::WriteMessage(const JsArgs& arguments, const JsPlain& otherwise,
                                 JsReturn* retval) {
  if (!OneString(arguments)) {
    retval->Set(otherwise);
    return true;
  }
  const QByteArray bytes = arguments[0].GetStringValue().toUtf8();
  const std::uint32_t status = client_.write(bytes.constData(), std::uint32_t(bytes.size()));
  retval->Set(JsPlain::Int(int(status)));
  return true;
}

bool AppFunHandler::Execute(const QString& name, const JsArgs& arguments, JsReturn* retval,
                            QString*) {
  if (name == QLatin1String("exitapp")) return ExitApp();
  if (name == QLatin1String("runapp")) return RunApp(arguments);
  if (name == QLatin1String("apppath")) {
    retval->Set(JsPlain::String(GetFullPathInExecutionDirectory(QString())));
    return true;
  }
  if (name == QLatin1String("runparam")) {
    retval->Set(
        JsPlain::String(ManifestUtil::Instance(QStringLiteral("manifest.json")).command_line_));
    return true;
  }
  if (name == QLatin1String("getappname")) {
    retval->Set(JsPlain::String(GetAppName()));
    return true;
  }
  if (name == QLatin1String("killapp")) return KillApp(arguments, retval);
  if (name == QLatin1String("createclient")) return CreateClient(arguments, retval);
  if (name == QLatin1String("closeserver")) return CloseServer(arguments, retval);
  if (name == QLatin1String("createserver")) return CreateServer(arguments, retval);
  if (name == QLatin1String("sendipcmsg")) return WriteMessage(arguments, JsPlain::Int(0), retval);
  if (name == QLatin1String("IsWindowVisible")) {
    return WriteMessage(arguments, JsPlain::Bool(false), retval);
  }
  if (name == QLatin1String("modifytrayicon")) return Send(name, arguments, 1, retval);
  if (name == QLatin1String("showtray")) return Send(name, arguments, 3, retval);
  if (name == QLatin1String("hidetray")) return Send(name, {}, 0, retval);
  return false;
}

void AppFunHandler::ExecuteCallback(const QString& name, int uuid, void* data, bool) {
  CallbackRegistry& registry = CallbackRegistry::Get();
  if (name == QLatin1String("onread")) {
    const QString text = data ? *static_cast<const QString*>(data) : QString();
    registry.Call(uuid, kOnRead, {JsPlain::String(text)});
  } else if (name == QLatin1String("createsuccess")) {
    registry.Call(uuid, kOnSuccess, {});
  } else if (name == QLatin1String("closed")) {
    registry.RemoveCallback(uuid);
    registry.RemoveJSObject(uuid);
  } else if (name == QLatin1String("createfailed")) {
    // A failure callback that answers true or false keeps its registration.
    if (registry.Call(uuid, kOnFailure, {}).returned_bool) return;
    registry.RemoveCallback(uuid);
    registry.RemoveJSObject(uuid);
  }
}

}  // namespace ombrix
