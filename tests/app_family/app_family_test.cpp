// The app family without the shell: a JavaScript context stands in for the
// page, and the other programs are real channel ends and real processes.
#include <glib.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>

#include "api/app_fun.h"
#include "tests/support/script_context.h"
#include "util/util_win.h"

namespace ombrix {
namespace {

using namespace std::chrono_literals;
using app_ipc::AppFun;
using app_ipc::ServerTable;

// A channel name of this test program. A channel's names outlive its readers;
// those of every name handed out are removed when the program ends.
QString UniqueName(const char* what) {
  static std::atomic<int> counter{0};
  static auto* handed_out = new QStringList;  // never destroyed: read at exit
  static const bool removed_at_exit = [] {
    std::atexit([] {
      for (const QString& name : *handed_out) {
        for (const char* suffix : {"_w", "_r"}) sem_unlink(("/" + name + suffix).toUtf8());
        shm_unlink(("/" + name + "_m").toUtf8());
      }
    });
    return true;
  }();
  (void)removed_at_exit;
  const QString name = QStringLiteral("omx-%1-%2-%3").arg(what).arg(getpid()).arg(++counter);
  *handed_out << name;
  return name;
}

using test_support::PumpUntil;

// Pumps for a while; for checks that something does not happen.
void PumpFor(std::chrono::milliseconds duration) {
  PumpUntil([] { return false; }, duration);
}

// A page: its own script context and its own app handler.
class Page {
 public:
  Page() : js_(JSGlobalContextCreate(nullptr)), handler_(std::make_shared<AppFunHandler>(0)) {
    static ContextToken next_token = 1000;
    token_ = ++next_token;
    Eval(
        "var log = [];"
        "function ok() { log.push('success'); }"
        "function failed() { log.push('failed'); }"
        "function failedKeep() { log.push('failed'); return false; }"
        "function read(t) { log.push('read:' + t); }");
  }
  ~Page() {
    Navigate();
    handler_.reset();
    JSGlobalContextRelease(js_);
  }

  JsValue Eval(const QString& script) {
    return test_support::Evaluate(js_, script.toUtf8().constData());
  }
  // The elements of the array that script gives.
  JsArgs Args(const QString& script) { return test_support::ArrayElements(Eval(script)); }
  JsReturn Call(const QString& name, const QString& args_script = "[]") {
    CallScope scope(CallContext{token_, 0, js_});
    JsReturn retval;
    QString exception;
    handler_->Execute(name, Args(args_script), &retval, &exception);
    EXPECT_TRUE(exception.isEmpty());
    return retval;
  }
  QString Log() { return Eval("log.join('|')").GetStringValue(); }
  int LogLength() { return Eval("log.length").GetIntValue(); }
  bool WaitForLog(int length) {
    return PumpUntil([&] { return LogLength() >= length; });
  }
  // What the engine does when the page's frame navigates.
  void Navigate() { CallbackRegistry::Get().ReleaseContext(token_); }

 private:
  JSGlobalContextRef js_;
  ContextToken token_ = 0;
  std::shared_ptr<AppFunHandler> handler_;
};

QString ServerArgs(const QString& channel, const char* on_failure = "failed") {
  return QStringLiteral("['%1', ok, %2, read]").arg(channel, on_failure);
}

// The other program's writer end.
uint32_t SendTo(const QString& channel, const QByteArray& text) {
  fastipc::Client client;
  const int created = client.create(channel.toStdWString(), app_ipc::kBlockSize);
  if (created != fastipc::kOk) return uint32_t(created);
  return client.write(text.constData(), uint32_t(text.size()));
}

bool IsBool(const JsReturn& r, bool value) {
  return r.is_set() && r.value().kind == JsPlain::kBool && r.value().bool_value == value;
}
bool IsInt(const JsReturn& r, int value) {
  return r.is_set() && r.value().kind == JsPlain::kInt && int(r.value().number) == value;
}

// Tests that start readers end them all before the next test.
class AppIpc : public ::testing::Test {
 protected:
  void TearDown() override {
    app_ipc::CloseAllServers();
    EXPECT_TRUE(PumpUntil([] { return app_ipc::RunningReaders() == 0; }));
  }
};

TEST(AppArguments, WrongCallsGetTheirFixedAnswersAndStartNothing) {
  Page page;
  const size_t callbacks = CallbackRegistry::Get().callback_count();
  EXPECT_TRUE(IsBool(page.Call("createserver", "['x', ok, failed]"), false));
  EXPECT_TRUE(IsBool(page.Call("createserver", "['x', ok, 5, read]"), false));
  EXPECT_TRUE(IsBool(page.Call("createserver", "[7, ok, failed, read]"), false));
  EXPECT_TRUE(IsBool(page.Call("createserver", "['x', ok, failed, read, 1]"), false));
  EXPECT_EQ(CallbackRegistry::Get().callback_count(), callbacks);
  EXPECT_TRUE(IsInt(page.Call("sendipcmsg", "[5]"), 0));
  EXPECT_TRUE(IsBool(page.Call("IsWindowVisible", "[5]"), false));
  EXPECT_TRUE(IsBool(page.Call("killapp", "[]"), false));
  EXPECT_TRUE(IsBool(page.Call("killapp", "['a', 'b']"), false));
  EXPECT_FALSE(page.Call("createclient", "[1]").is_set());
  EXPECT_FALSE(page.Call("closeserver", "[]").is_set());
  EXPECT_FALSE(page.Call("runapp", "[1]").is_set());
  EXPECT_FALSE(page.Call("nosuchfunction").is_set());
  PumpFor(100ms);
  EXPECT_EQ(page.Log(), "");
}

TEST(AppArguments, ClientStatusesComeBackAsNumbers) {
  Page page;
  EXPECT_TRUE(IsInt(page.Call("sendipcmsg", "['early']"), fastipc::kClientNotOpen));
  EXPECT_TRUE(IsInt(page.Call("IsWindowVisible", "['early']"), fastipc::kClientNotOpen));
  const QString missing = UniqueName("missing");
  EXPECT_TRUE(
      IsInt(page.Call("createclient", "['" + missing + "']"), fastipc::kOpenWriteEventFailed));
  EXPECT_TRUE(IsBool(page.Call("closeserver", "['" + missing + "']"), true));
  EXPECT_TRUE(IsBool(page.Call("killapp", "['']"), true));
}

TEST_F(AppIpc, SuccessThenEveryBlockWithItsOwnTextInOrder) {
  Page page;
  const QString channel = UniqueName("burst");
  ASSERT_TRUE(IsBool(page.Call("createserver", ServerArgs(channel)), true));
  ASSERT_TRUE(page.WaitForLog(1));
  EXPECT_EQ(page.Log(), "success");
  EXPECT_TRUE(ServerTable::Get().Contains(channel.toStdString()));

  // The writer outruns the page: all blocks are read before any delivery runs.
  QStringList expected{"success"};
  for (int i = 0; i < 40; ++i) {
    ASSERT_EQ(SendTo(channel, "m" + QByteArray::number(i)), 0u);
    expected << "read:m" + QString::number(i);
  }
  ASSERT_EQ(SendTo(channel, QByteArray(3000, 'x')), 0u);
  expected << "read:" + QString(1024, 'x') << "read:" + QString(1024, 'x')
           << "read:" + QString(952, 'x');
  ASSERT_TRUE(page.WaitForLog(expected.size()));
  EXPECT_EQ(page.Log(), expected.join('|'));

  EXPECT_TRUE(IsBool(page.Call("closeserver", "['" + channel + "']"), true));
  EXPECT_FALSE(ServerTable::Get().Contains(channel.toStdString()));
  EXPECT_TRUE(IsBool(page.Call("closeserver", "['" + channel + "']"), true));
  // Nobody reads the channel any more; it stays for the next reader.
  fastipc::Client late;
  EXPECT_EQ(late.create(channel.toStdWString(), app_ipc::kBlockSize), fastipc::kOk);
  EXPECT_FALSE(late.hasReader());
  PumpFor(200ms);
  EXPECT_EQ(page.LogLength(), expected.size());
}

TEST_F(AppIpc, CharactersCutBetweenPiecesArriveWhole) {
  Page page;
  const QString channel = UniqueName("utf8");
  ASSERT_TRUE(IsBool(page.Call("createserver", ServerArgs(channel)), true));
  ASSERT_TRUE(page.WaitForLog(1));
  // 1023 ASCII bytes, then three-byte characters: the first piece ends inside one.
  const QString text = QString(1023, 'a') + QString::fromUtf8("中文字符") + "z";
  ASSERT_EQ(SendTo(channel, text.toUtf8()), 0u);
  ASSERT_TRUE(page.WaitForLog(3));
  EXPECT_EQ(page.Eval("log.slice(1).join('')").GetStringValue(),
            "read:" + text.left(1023) + "read:" + text.mid(1023));
  page.Call("closeserver", "['" + channel + "']");
}

TEST_F(AppIpc, FailureRemovesTheCallUnlessTheCallbackAnswers) {
  Page page;
  CallbackRegistry& registry = CallbackRegistry::Get();
  const size_t callbacks = registry.callback_count();
  ASSERT_TRUE(IsBool(page.Call("createserver", ServerArgs("bad/name")), true));
  ASSERT_TRUE(page.WaitForLog(1));
  EXPECT_EQ(page.Log(), "failed");
  EXPECT_EQ(registry.callback_count(), callbacks);
  EXPECT_FALSE(ServerTable::Get().Contains("bad/name"));

  ASSERT_TRUE(IsBool(page.Call("createserver", ServerArgs("bad/again", "failedKeep")), true));
  ASSERT_TRUE(page.WaitForLog(2));
  EXPECT_EQ(page.Log(), "failed|failed");
  EXPECT_EQ(registry.callback_count(), callbacks + 1);
}

TEST_F(AppIpc, NavigationClosesThePagesReaders) {
  const QString channel = UniqueName("nav");
  Page page;
  ASSERT_TRUE(IsBool(page.Call("createserver", ServerArgs(channel)), true));
  ASSERT_TRUE(page.WaitForLog(1));
  // A reloaded page must not share its channel with an orphan of the old one.
  page.Navigate();
  EXPECT_FALSE(ServerTable::Get().Contains(channel.toStdString()));
  EXPECT_TRUE(PumpUntil([] { return app_ipc::RunningReaders() == 0; }));
  EXPECT_EQ(SendTo(channel, "after"), 205u);  // nobody serves the channel any more
  EXPECT_EQ(page.Log(), "success");
  Page other;
  EXPECT_TRUE(IsBool(other.Call("closeserver", "['" + channel + "']"), true));
}

// The page still hears once that the channel was ready; nothing is read.
TEST_F(AppIpc, CloseRightAfterCreateCallsOnSuccessOnceAndStopsTheReader) {
  const QString channel = UniqueName("quick");
  Page page;
  ASSERT_TRUE(IsBool(page.Call("createserver", ServerArgs(channel)), true));
  EXPECT_TRUE(IsBool(page.Call("closeserver", "['" + channel + "']"), true));
  EXPECT_TRUE(PumpUntil([] { return app_ipc::RunningReaders() == 0; }));
  EXPECT_FALSE(ServerTable::Get().Contains(channel.toStdString()));
  // Its registration went with it, after the one callback.
  EXPECT_TRUE(PumpUntil([] { return CallbackRegistry::Get().callback_count() == 0; }));
  EXPECT_EQ(page.Log(), "success");
  EXPECT_EQ(SendTo(channel, "unread"), 205u);
}

TEST_F(AppIpc, ExitClosesEveryServer) {
  Page page;
  const QString first = UniqueName("exit");
  const QString second = UniqueName("exit");
  page.Call("createserver", ServerArgs(first));
  page.Call("createserver", ServerArgs(second));
  ASSERT_TRUE(page.WaitForLog(2));
  EXPECT_FALSE(page.Call("exitapp").is_set());
  EXPECT_FALSE(ServerTable::Get().Contains(first.toStdString()));
  EXPECT_FALSE(ServerTable::Get().Contains(second.toStdString()));
  fastipc::Client client;
  ASSERT_EQ(client.create(first.toStdWString(), app_ipc::kBlockSize), fastipc::kOk);
  EXPECT_FALSE(client.hasReader());
}

TEST_F(AppIpc, SecondCreateClientReplacesTheFirst) {
  Page readers;
  const QString a = UniqueName("client-a");
  const QString b = UniqueName("client-b");
  readers.Call("createserver", QStringLiteral("['%1', ok, failed, function(t) { "
                                              "log.push('a:' + t); }]")
                                   .arg(a));
  readers.Call("createserver", QStringLiteral("['%1', ok, failed, function(t) { "
                                              "log.push('b:' + t); }]")
                                   .arg(b));
  ASSERT_TRUE(readers.WaitForLog(2));
  Page writer;
  EXPECT_TRUE(IsInt(writer.Call("createclient", "['" + a + "']"), 0));
  EXPECT_TRUE(IsInt(writer.Call("sendipcmsg", "['one']"), 0));
  EXPECT_TRUE(IsInt(writer.Call("createclient", "['" + b + "']"), 0));
  EXPECT_TRUE(IsInt(writer.Call("IsWindowVisible", "['two ü']"), 0));
  ASSERT_TRUE(readers.WaitForLog(4));
  // Two readers on two threads: their deliveries may come in either order.
  EXPECT_EQ(readers.Eval("log.slice(2).sort().join('|')").GetStringValue(), "a:one|b:two ü");
  readers.Call("exitapp");
}

// A recorder of the events a reader posts, and of the texts "onread" carries.
class Events : public OmbrixCefExecuteCallbackHandler {
 public:
  void ExecuteCallback(const QString& name, int, void* data, bool) override {
    names << name;
    if (name == QLatin1String("onread") && data) texts << *static_cast<const QString*>(data);
  }
  QStringList names;
  QStringList texts;
};

// While set, every new thread of this process fails to start: its default
// stack is larger than the address space.
class ThreadsCannotStart {
 public:
  ThreadsCannotStart() {
    pthread_getattr_default_np(&saved_);
    pthread_attr_t huge;
    pthread_attr_init(&huge);
    pthread_attr_setstacksize(&huge, size_t(1) << 50);
    pthread_setattr_default_np(&huge);
    pthread_attr_destroy(&huge);
  }
  ~ThreadsCannotStart() {
    pthread_setattr_default_np(&saved_);
    pthread_attr_destroy(&saved_);
  }

 private:
  pthread_attr_t saved_;
};

TEST_F(AppIpc, ReaderWhoseThreadCannotStartLeavesNothingBehind) {
  Page page;
  CallbackRegistry& registry = CallbackRegistry::Get();
  const size_t callbacks = registry.callback_count();
  const size_t objects = registry.object_count();
  const QString channel = UniqueName("nothread");
  JsReturn started;
  {
    ThreadsCannotStart no_threads;
    EXPECT_NO_THROW(started = page.Call("createserver", ServerArgs(channel)));
  }
  EXPECT_TRUE(IsBool(started, false));
  EXPECT_EQ(registry.callback_count(), callbacks);
  EXPECT_EQ(registry.object_count(), objects);
  EXPECT_FALSE(ServerTable::Get().Contains(channel.toStdString()));
  EXPECT_EQ(app_ipc::RunningReaders(), 0);
  // With threads back, the same channel starts as usual.
  ASSERT_TRUE(IsBool(page.Call("createserver", ServerArgs(channel)), true));
  ASSERT_TRUE(page.WaitForLog(1));
  EXPECT_EQ(page.Log(), "success");
}

// Exit runs static destructors while a reader's thread may still be ending
// (a page released during the web process's teardown closes its readers).
// The child registers an exit handler before the family's first use, so the
// handler runs after the family's statics would have been destroyed, and ends
// a reader there. glibc fills freed memory in the child, so that a use of a
// destroyed object shows as a crash.
std::shared_ptr<AppFun>* g_reader_ending_at_exit = nullptr;

[[noreturn]] void ExitWhileAReaderEnds() {
  std::atexit([] {
    (*g_reader_ending_at_exit)->Close();
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (app_ipc::RunningReaders() != 0) {
      if (std::chrono::steady_clock::now() > end) std::_Exit(3);
      std::this_thread::sleep_for(1ms);
    }
  });
  const QString channel = UniqueName("exit");
  auto events = std::make_shared<Events>();
  auto reader = std::make_shared<AppFun>(events, 1, channel);
  ServerTable::Get().Insert(channel.toStdString(), reader);
  AppFun::Start(reader);
  if (!PumpUntil([&] { return events->names.size() == 1; })) std::_Exit(4);
  g_reader_ending_at_exit = new std::shared_ptr<AppFun>(reader);
  std::exit(0);
}

TEST(AppExit, ReaderEndingWhileTheProcessExitsIsSafe) {
  if (std::getenv("OMBRIX_EXIT_WHILE_A_READER_ENDS")) ExitWhileAReaderEnds();
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("OMBRIX_EXIT_WHILE_A_READER_ENDS", "1", 1);
    setenv("GLIBC_TUNABLES", "glibc.malloc.tcache_count=0:glibc.malloc.perturb=85", 1);
    execl("/proc/self/exe", "app_family_exit",
          "--gtest_filter=AppExit.ReaderEndingWhileTheProcessExitsIsSafe", nullptr);
    _exit(127);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(AppIpc, EntryGoesWithItsReaderAndDuplicatesKeepTheFirst) {
  const QString channel = UniqueName("table");
  const std::string key = channel.toStdString();
  auto events = std::make_shared<Events>();
  auto first = std::make_shared<AppFun>(events, 1, channel);
  auto second = std::make_shared<AppFun>(events, 2, channel);
  ASSERT_TRUE(ServerTable::Get().Insert(key, first));
  EXPECT_FALSE(ServerTable::Get().Insert(key, second));  // the table keeps the first
  AppFun::Start(first);
  ASSERT_TRUE(PumpUntil([&] { return events->names.size() == 1; }));
  AppFun::Start(second);
  ASSERT_TRUE(PumpUntil([&] { return events->names.size() == 2; }));
  EXPECT_EQ(events->names.join(','), "createsuccess,createsuccess");

  // The second reader is not in the table; its end leaves the first's entry.
  second->Close();
  EXPECT_TRUE(ServerTable::Get().Contains(key));
  // A loop ended by anything but closeserver also takes its entry away.
  std::weak_ptr<AppFun> gone = first;
  first->Close();
  first.reset();
  second.reset();
  EXPECT_TRUE(PumpUntil([&] { return !ServerTable::Get().Contains(key) && gone.expired(); }));
}

TEST(AppText, CompleteUtf8LengthStopsBeforeACutCharacter) {
  const QByteArray han = QString::fromUtf8("中").toUtf8();   // 3 bytes
  const QByteArray emoji = QString::fromUtf8("😀").toUtf8();  // 4 bytes
  EXPECT_EQ(app_ipc::CompleteUtf8Length("abc", 3), 3u);
  EXPECT_EQ(app_ipc::CompleteUtf8Length("", 0), 0u);
  const QByteArray whole = "ab" + han;
  EXPECT_EQ(app_ipc::CompleteUtf8Length(whole.constData(), 5), 5u);
  EXPECT_EQ(app_ipc::CompleteUtf8Length(whole.constData(), 4), 2u);
  EXPECT_EQ(app_ipc::CompleteUtf8Length(whole.constData(), 3), 2u);
  EXPECT_EQ(app_ipc::CompleteUtf8Length(emoji.constData(), 3), 0u);
  EXPECT_EQ(app_ipc::CompleteUtf8Length(emoji.constData(), 4), 4u);
  // Broken text is passed on as it is.
  EXPECT_EQ(app_ipc::CompleteUtf8Length("\x80\x80\x80\x80", 4), 4u);
  EXPECT_EQ(app_ipc::CompleteUtf8Length("a\x80", 2), 2u);
}

fastipc::MemBlock Block(int32_t type, const char* id, const QByteArray& bytes) {
  fastipc::MemBlock block;
  block.type = type;
  std::memset(block.id, 0, sizeof(block.id));
  std::strncpy(block.id, id, sizeof(block.id) - 1);
  block.length = uint32_t(bytes.size());
  delete[] block.data;
  block.data = new char[bytes.size() + 1];
  std::memcpy(block.data, bytes.constData(), size_t(bytes.size()));
  block.data[bytes.size()] = '\0';
  return block;
}

TEST(AppText, PiecesOfInterleavedMessagesKeepTheirOwnCutCharacters) {
  const QByteArray han = QString::fromUtf8("中").toUtf8();
  app_ipc::BlockText texts;
  EXPECT_EQ(texts.Take(Block(fastipc::kTypePiece, "one", "a" + han.left(1))), "a");
  EXPECT_EQ(texts.Take(Block(fastipc::kTypePiece, "two", "b" + han.left(2))), "b");
  EXPECT_EQ(texts.pending(), 2u);
  EXPECT_EQ(texts.Take(Block(fastipc::kTypeLastPiece, "two", han.mid(2) + "c")),
            QString::fromUtf8("中c"));
  EXPECT_EQ(texts.Take(Block(fastipc::kTypeLastPiece, "one", han.mid(1))), QString::fromUtf8("中"));
  EXPECT_EQ(texts.pending(), 0u);
}

TEST(AppText, ABlockIsTextUpToItsFirstZeroByte) {
  const QByteArray han = QString::fromUtf8("中").toUtf8();
  app_ipc::BlockText texts;
  EXPECT_EQ(texts.Take(Block(fastipc::kTypeWhole, "", QByteArray("x\0y", 3))), "x");
  // A piece cut short by a zero byte carries nothing into the next piece.
  EXPECT_EQ(texts.Take(Block(fastipc::kTypePiece, "id", QByteArray("ab\0", 3) + han.left(1))),
            "ab");
  EXPECT_EQ(texts.pending(), 0u);
  EXPECT_EQ(texts.Take(Block(fastipc::kTypeLastPiece, "id", "cd")), "cd");
  // A block that starts with one reaches the page as an empty text.
  auto events = std::make_shared<Events>();
  auto reader = std::make_shared<AppFun>(events, 1, UniqueName("zero"));
  fastipc::MemBlock zero_first = Block(fastipc::kTypeWhole, "", QByteArray("\0z", 2));
  fastipc::MemBlock text = Block(fastipc::kTypeWhole, "", QByteArray("t\0z", 3));
  reader->onRead(&zero_first);
  reader->onRead(&text);
  ASSERT_TRUE(PumpUntil([&] { return events->texts.size() == 2; }));
  EXPECT_EQ(events->texts, (QStringList{"", "t"}));
}

// Processes started from copies of sleep under unique names.
class KillTest : public ::testing::Test {
 protected:
  pid_t StartCopy(const QString& name) {
    const QString path = dir_.path() + "/" + name;
    if (!QFile::exists(path) && !QFile::copy("/bin/sleep", path)) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
      execl(path.toLocal8Bit().constData(), name.toLocal8Bit().constData(), "60", nullptr);
      _exit(127);
    }
    const QString link = QStringLiteral("/proc/%1/exe").arg(pid);
    if (!PumpUntil([&] { return QFileInfo(link).symLinkTarget() == path; })) return -1;
    return pid;
  }
  // The signal that ended pid, once it has ended.
  static int EndSignal(pid_t pid, bool wait) {
    int status = 0;
    if (waitpid(pid, &status, wait ? 0 : WNOHANG) != pid) return 0;
    return WIFSIGNALED(status) ? WTERMSIG(status) : -1;
  }

  QTemporaryDir dir_;
};

TEST_F(KillTest, KillsExactNameOnly) {
  const QString name = UniqueName("sleep");
  const pid_t target = StartCopy(name);
  const pid_t other = StartCopy(name + ".exe");
  ASSERT_GT(target, 0);
  ASSERT_GT(other, 0);
  EXPECT_TRUE(KillProcess(name));
  EXPECT_EQ(EndSignal(target, true), SIGKILL);
  EXPECT_EQ(EndSignal(other, false), 0);  // still running
  EXPECT_TRUE(KillProcess(name + ".exe"));
  EXPECT_EQ(EndSignal(other, true), SIGKILL);
  EXPECT_TRUE(KillProcess(name));  // nothing left to kill
}

TEST_F(KillTest, SparesTheCaller) {
  if (const char* own = std::getenv("OMBRIX_KILL_OWN_NAME")) {
    KillProcess(QString::fromLocal8Bit(own));
    std::_Exit(0);  // still alive
  }
  // A copy of this program under a unique name kills by its own name.
  const QString name = UniqueName("caller");
  const QString path = dir_.path() + "/" + name;
  ASSERT_TRUE(QFile::copy(QFileInfo("/proc/self/exe").symLinkTarget(), path));
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("OMBRIX_KILL_OWN_NAME", name.toLocal8Bit().constData(), 1);
    execl(path.toLocal8Bit().constData(), name.toLocal8Bit().constData(),
          "--gtest_filter=KillTest.SparesTheCaller", nullptr);
    _exit(127);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(AppRun, RunAppStartsTheCommandDetached) {
  QTemporaryDir dir;
  Page page;
  const QString marker = dir.path() + "/ran 1";
  EXPECT_FALSE(page.Call("runapp", "['touch \"" + marker + "\"']").is_set());
  EXPECT_TRUE(PumpUntil([&] { return QFile::exists(marker); }));
  EXPECT_FALSE(page.Call("runapp", "['']").is_set());
  EXPECT_FALSE(page.Call("runapp", "['/no/such/program']").is_set());
}

}  // namespace
}  // namespace ombrix
