#include "renderer/callback_registry.h"

#include <glib.h>

#include <QDebug>
#include <atomic>
#include <cstdio>
#include <system_error>
#include <thread>

#include "renderer/jsc_bridge.h"

namespace ombrix {

void WriteStdoutLine(const char* line) {
  std::printf("%s\r\n", line);
  std::fflush(stdout);
}

OmbrixCefExecuteCallbackHandler::~OmbrixCefExecuteCallbackHandler() {
  WriteStdoutLine("~OmbrixCefExecuteCallbackHandler");
}
namespace {

std::atomic<int> g_callback_counter{0};
const CallContext* g_current_call = nullptr;

gboolean RunTask(gpointer data) {
  (*static_cast<std::function<void()>*>(data))();
  return G_SOURCE_REMOVE;
}

void DeleteTask(gpointer data) { delete static_cast<std::function<void()>*>(data); }

}  // namespace

const CallContext* CurrentCall() { return g_current_call; }

CallScope::CallScope(const CallContext& call) : previous_(g_current_call), call_(call) {
  g_current_call = &call_;
}

CallScope::~CallScope() { g_current_call = previous_; }

int NextCallbackId() { return ++g_callback_counter; }

void PostToMainThread(std::function<void()> task) {
  // An idle source on the default main context always runs on the thread that
  // runs that loop, whichever thread adds it.
  auto* heap = new std::function<void()>(std::move(task));
  g_idle_add_full(G_PRIORITY_DEFAULT, RunTask, heap, DeleteTask);
}

void PostCompletion(std::shared_ptr<CallbackWorker> worker, const QString& name, void* data,
                    bool result) {
  PostToMainThread([worker, name, data, result] {
    if (worker->handler()) worker->handler()->ExecuteCallback(name, worker->uuid(), data, result);
  });
}

CallbackRegistry& CallbackRegistry::Get() {
  // Never destroyed: worker threads may still look workers up while the web
  // process exits and runs its static destructors.
  static auto* registry = new CallbackRegistry;
  return *registry;
}

void CallbackRegistry::RegisterCallback(const JsArgs& arguments, int uuid) {
  const CallContext* call = CurrentCall();
  RegisterCallback(arguments, uuid, call ? call->token : 0, call ? call->js : nullptr);
}

void CallbackRegistry::RegisterCallback(const JsArgs& arguments, int uuid, ContextToken token,
                                        JSGlobalContextRef js) {
  if (callbacks_.count(uuid)) return;
  Record record;
  record.token = token;
  record.js = js ? JSGlobalContextRetain(js) : nullptr;
  record.arguments = arguments;
  callbacks_.emplace(uuid, std::move(record));
}

bool CallbackRegistry::FindCallback(int uuid) const { return callbacks_.count(uuid) != 0; }

void CallbackRegistry::DropRecord(std::map<int, Record>::iterator it) {
  JSGlobalContextRef js = it->second.js;
  callbacks_.erase(it);  // the argument values go before their context
  if (js) JSGlobalContextRelease(js);
}

void CallbackRegistry::RemoveCallback(int uuid) {
  auto it = callbacks_.find(uuid);
  if (it != callbacks_.end()) DropRecord(it);
}

void CallbackRegistry::RegisterJSObject(int uuid, const std::shared_ptr<void>& object) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto record = callbacks_.find(uuid);
  const ContextToken token = record != callbacks_.end() ? record->second.token : 0;
  objects_[uuid] = WorkerEntry{token, object};
}

std::shared_ptr<void> CallbackRegistry::GetJSObject(int uuid) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = objects_.find(uuid);
  return it == objects_.end() ? nullptr : it->second.object.lock();
}

void CallbackRegistry::RemoveJSObject(int uuid) {
  std::lock_guard<std::mutex> lock(mutex_);
  objects_.erase(uuid);
}

CallOutcome CallbackRegistry::Call(int uuid, size_t index, const std::vector<JsPlain>& args) {
  CallOutcome outcome;
  auto it = callbacks_.find(uuid);
  if (it == callbacks_.end()) {
    qDebug() << "no page waits for call" << uuid;  // its page or frame has gone
    return outcome;
  }
  if (index >= it->second.arguments.size()) return outcome;
  // Copies: the callback may remove its own record or release its context.
  const JsValue function = it->second.arguments[index];
  if (!it->second.js || !function.IsFunction()) return outcome;
  JSGlobalContextRef js = JSGlobalContextRetain(it->second.js);
  std::vector<JSValueRef> values;
  for (const JsPlain& arg : args) values.push_back(ToJsValue(js, arg));
  JSValueRef result = CallFunction(js, function.ref(), values);
  outcome.called = true;
  outcome.returned_bool = result && JSValueIsBoolean(js, result);
  JSGlobalContextRelease(js);
  return outcome;
}

void CallbackRegistry::ReleaseContext(ContextToken token) {
  for (auto it = callbacks_.begin(); it != callbacks_.end();) {
    auto next = std::next(it);
    if (it->second.token == token) DropRecord(it);
    it = next;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = objects_.begin(); it != objects_.end();) {
      it = it->second.token == token ? objects_.erase(it) : std::next(it);
    }
  }
  for (const auto& listener : listeners_) listener(token);
}

void CallbackRegistry::ClearCallbacks() {
  while (!callbacks_.empty()) DropRecord(callbacks_.begin());
  std::lock_guard<std::mutex> lock(mutex_);
  objects_.clear();
}

void CallbackRegistry::AddReleaseListener(std::function<void(ContextToken)> listener) {
  listeners_.push_back(std::move(listener));
}

size_t CallbackRegistry::callback_count() const { return callbacks_.size(); }

size_t CallbackRegistry::object_count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return objects_.size();
}

bool StartWorkerThread(int uuid, const char* what, std::function<void()> work) {
  try {
    std::thread(std::move(work)).detach();
    return true;
  } catch (const std::system_error& error) {
    qDebug() << what << "worker not started:" << error.what();
    CallbackRegistry& registry = CallbackRegistry::Get();
    registry.RemoveCallback(uuid);
    registry.RemoveJSObject(uuid);
    return false;
  }
}

void DispatchWindowState(JSContextRef context, const QString& state) {
  JSObjectRef global = JSContextGetGlobalObject(context);
  JSObjectRef constructor = GetObject(context, global, "CustomEvent");
  if (!constructor || !JSObjectIsConstructor(context, constructor)) return;
  JSObjectRef detail = JSObjectMake(context, nullptr, nullptr);
  SetProperty(context, detail, "state", ToJsValue(context, JsPlain::String(state)));
  JSObjectRef init = JSObjectMake(context, nullptr, nullptr);
  SetProperty(context, init, "detail", detail);
  const JSValueRef args[] = {ToJsValue(context, JsPlain::String(QStringLiteral("windowstate"))),
                             init};
  JSObjectRef event = JSObjectCallAsConstructor(context, constructor, 2, args, nullptr);
  if (event) CallMethod(context, global, "dispatchEvent", {event});
}

}  // namespace ombrix
