// How asynchronous results reach pages: one identifier counter per web process,
// the registry of each pending call's context and arguments, the registry of
// worker objects, and the hand-over from worker threads to the page's thread.
#pragma once

#include <JavaScriptCore/JavaScript.h>

#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "renderer/js_value.h"

namespace ombrix {

// Identifies one script context of one frame; a frame's next document gets a new token.
using ContextToken = std::uint64_t;

// Writes line and a line end to standard output at once (a diagnostic).
void WriteStdoutLine(const char* line);

// The completion interface of the asynchronous families. Its end writes
// "~OmbrixCefExecuteCallbackHandler", after the family handler's own line.
class OmbrixCefExecuteCallbackHandler {
 public:
  virtual ~OmbrixCefExecuteCallbackHandler();
  virtual void ExecuteCallback(const QString& name, int uuid, void* data, bool result) = 0;
};

// What a worker thread owns: the handler to call back and the call's identifier.
class CallbackWorker {
 public:
  CallbackWorker(std::shared_ptr<OmbrixCefExecuteCallbackHandler> handler, int uuid)
      : handler_(std::move(handler)), uuid_(uuid) {}
  virtual ~CallbackWorker() = default;
  OmbrixCefExecuteCallbackHandler* handler() const { return handler_.get(); }
  int uuid() const { return uuid_; }

 private:
  std::shared_ptr<OmbrixCefExecuteCallbackHandler> handler_;
  int uuid_;
};

// The context of the page call that is running on the page's thread.
struct CallContext {
  ContextToken token = 0;
  std::uint64_t page_id = 0;
  JSGlobalContextRef js = nullptr;
};
const CallContext* CurrentCall();

// Sets the current call for its lifetime (the binding layer uses it).
class CallScope {
 public:
  explicit CallScope(const CallContext& call);
  ~CallScope();

 private:
  const CallContext* previous_;
  CallContext call_;
};

// Draws the next identifier: 1, 2, 3, ... shared by every family.
int NextCallbackId();

// Runs task on the page's thread (the web process's main loop), from any thread.
void PostToMainThread(std::function<void()> task);

// Posts a worker's completion: handler->ExecuteCallback(name, uuid, data, result)
// runs on the page's thread; the task keeps the worker alive until then.
void PostCompletion(std::shared_ptr<CallbackWorker> worker, const QString& name, void* data,
                    bool result);

// Runs work on a thread of its own for the call registered under uuid. When
// the system has no thread to give, the call's registrations are dropped, the
// failure is logged under what, and false is returned (the page gets undefined).
bool StartWorkerThread(int uuid, const char* what, std::function<void()> work);

// The outcome of calling a page callback.
struct CallOutcome {
  bool called = false;         // a registered function was called
  bool returned_bool = false;  // it returned true or false
};

class CallbackRegistry {
 public:
  static CallbackRegistry& Get();

  // Registers the running call's context and arguments under uuid.
  void RegisterCallback(const JsArgs& arguments, int uuid);
  void RegisterCallback(const JsArgs& arguments, int uuid, ContextToken token,
                        JSGlobalContextRef js);
  bool FindCallback(int uuid) const;
  void RemoveCallback(int uuid);

  // Workers are held weakly: a lookup never yields a destroyed worker.
  void RegisterJSObject(int uuid, const std::shared_ptr<void>& object);
  std::shared_ptr<void> GetJSObject(int uuid) const;
  template <typename T>
  std::shared_ptr<T> GetJSObjectAs(int uuid) const {
    return std::static_pointer_cast<T>(GetJSObject(uuid));
  }
  void RemoveJSObject(int uuid);

  // Calls argument `index` of the registered call, with args, in its context.
  // Nothing happens when uuid is not registered or that argument is no function.
  CallOutcome Call(int uuid, size_t index, const std::vector<JsPlain>& args);

  // Drops the records and worker entries of one context and tells the listeners.
  void ReleaseContext(ContextToken token);
  // Drops everything (the web process's pages are gone).
  void ClearCallbacks();
  // Called with the token of every released context (the fpj family's table).
  void AddReleaseListener(std::function<void(ContextToken)> listener);

  size_t callback_count() const;
  size_t object_count() const;

 private:
  struct Record {
    ContextToken token = 0;
    JSGlobalContextRef js = nullptr;  // retained, released with the record
    JsArgs arguments;
  };
  struct WorkerEntry {
    ContextToken token = 0;
    std::weak_ptr<void> object;
  };

  void DropRecord(std::map<int, Record>::iterator it);

  mutable std::mutex mutex_;  // guards objects_: worker threads look workers up
  std::map<int, Record> callbacks_;
  std::map<int, WorkerEntry> objects_;
  std::vector<std::function<void(ContextToken)>> listeners_;
};

// Raises the page's "windowstate" event for a state message, as the page's
// own dispatchEvent(new CustomEvent('windowstate', {detail: {state: state}}))
// would: with the page's CustomEvent and dispatchEvent, and no script parsed.
void DispatchWindowState(JSContextRef context, const QString& state);

}  // namespace ombrix
