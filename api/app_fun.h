// The `ombrix.app` family: leave the application, learn its name, folder and
// command line, control the tray icon, start and kill programs, and exchange
// messages with other programs over shared-memory channels.
#pragma once

#include <QByteArray>
#include <QString>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fastipc/fastipc.h"
#include "renderer/callback_registry.h"
#include "renderer/js_value.h"

namespace ombrix {

class AppFunHandler : public FunHandler,
                      public OmbrixCefExecuteCallbackHandler,
                      public std::enable_shared_from_this<AppFunHandler> {
 public:
  explicit AppFunHandler(std::uint64_t page_id);
  ~AppFunHandler() override;
  bool Execute(const QString& name, const JsArgs& arguments, JsReturn* retval,
               QString* exception) override;
  // For "onread", data points to the block's text (a QString).
  void ExecuteCallback(const QString& name, int uuid, void* data, bool result) override;

 private:
  bool Send(const QString& name, const JsArgs& arguments, int string_count, JsReturn* retval);
  bool ExitApp();
  bool RunApp(const JsArgs& arguments);
  bool KillApp(const JsArgs& arguments, JsReturn* retval);
  bool CreateClient(const JsArgs& arguments, JsReturn* retval);
  bool CloseServer(const JsArgs& arguments, JsReturn* retval);
  bool CreateServer(const JsArgs& arguments, JsReturn* retval);
  bool WriteMessage(const JsArgs& arguments, const JsPlain& otherwise, JsReturn* retval);

  std::uint64_t page_id_;
  fastipc::Client client_;  // all sendipcmsg writes of this page go through it
};

namespace app_ipc {

// Every server and client of the family uses blocks of this many bytes.
constexpr std::uint32_t kBlockSize = 1024;

// A page's write gives up on a block that no reader takes within this long of
// offering it (the client's block time-out): the write returns
// fastipc::kWaitFailed and the client stays open.
constexpr std::chrono::milliseconds kBlockLimit{3000};

// The length of the longest prefix of data that does not end inside a UTF-8
// character (a character cut at a block boundary).
size_t CompleteUtf8Length(const char* data, size_t length);

// Turns blocks into texts. A block is zero-terminated text: its text ends at
// its first zero byte. A character cut between two pieces of one message is
// kept back and put in front of that message's next piece.
class BlockText {
 public:
  QString Take(const fastipc::MemBlock& block);
  size_t pending() const { return carry_.size(); }

 private:
  static constexpr size_t kMaxPending = 64;  // unfinished messages whose writer may be gone
  std::map<std::string, QByteArray> carry_;
};

// The reader of one createserver call. Its thread holds it while reading;
// posted events hold it until they have run.
class AppFun : public CallbackWorker,
               public fastipc::ReadListener,
               public std::enable_shared_from_this<AppFun> {
 public:
  AppFun(std::shared_ptr<OmbrixCefExecuteCallbackHandler> handler, int uuid, QString channel,
         ContextToken context = 0);
  ~AppFun() override;

  // Starts the reading thread, which is handed the worker itself. False when
  // no thread could be started; then nothing of the reader is left running.
  static bool Start(const std::shared_ptr<AppFun>& worker);
  const std::string& key() const { return key_; }
  // Ends the read loop, or keeps it from starting; any thread. On the
  // reader's own thread it returns without waiting for the loop.
  void Close();
  ContextToken context() const { return context_; }

  void onRead(fastipc::MemBlock* block) override;

 private:
  void Read();

  QString channel_;
  std::string key_;  // the channel name as UTF-8
  ContextToken context_;
  std::mutex start_mutex_;  // orders a Close against the server's creation
  bool closed_ = false;
  BlockText texts_;  // reader thread only
  fastipc::Server server_;
};

// The running readers of the web process by channel name, shared by all pages.
// Each entry goes when its reader's loop ends.
class ServerTable {
 public:
  // Never destroyed: a reader's thread may end while the process exits.
  static ServerTable& Get();
  // False (and nothing changes) when the name is taken.
  bool Insert(const std::string& name, const std::shared_ptr<AppFun>& reader);
  // Removes the entry of name only when it is this reader's.
  void RemoveIfOwn(const std::string& name, const AppFun* reader);
  std::shared_ptr<AppFun> Take(const std::string& name);
  std::vector<std::shared_ptr<AppFun>> TakeAll();
  bool Contains(const std::string& name) const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::shared_ptr<AppFun>> servers_;
};

// Reader threads that have not ended yet.
int RunningReaders();

// Closes the reader of name, if any; waits until its loop has ended (on that
// reader's own thread, it does not wait).
void CloseServer(const std::string& name);
void CloseAllServers();
// Closes every reader that the page context `context` started, in the table or
// not, so that a reloaded page does not share its channel with an orphan.
void CloseServersOf(ContextToken context);

}  // namespace app_ipc
}  // namespace ombrix
