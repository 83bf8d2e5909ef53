// The page side without a browser: a standalone JavaScriptCore context stands
// in for a page's script context.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <thread>

#include "api/file_fun.h"
#include "api/ombrix_fun.h"
#include "renderer/callback_registry.h"
#include "renderer/object_tree.h"
#include "tests/support/script_context.h"

namespace ombrix {
namespace {

class PageContext : public ::testing::Test {
 protected:
  void SetUp() override { context_ = JSGlobalContextCreate(nullptr); }
  void TearDown() override {
    CallbackRegistry::Get().ClearCallbacks();
    JSGlobalContextRelease(context_);
  }

  JsValue Eval(const char* script) { return test_support::Evaluate(context_, script); }
  JsArgs EvalArgs(const char* array_script) {
    return test_support::ArrayElements(Eval(array_script));
  }

  JSGlobalContextRef context_ = nullptr;
};

TEST(ObjectTree, BindsFiftyOneFunctionsInFamilyOrder) {
  size_t count = 0;
  std::string order;
  for (const FamilyBinding& family : BindingTable()) {
    count += family.functions.size();
    order += std::string(family.object) + ",";
  }
  EXPECT_EQ(count, 51u);
  EXPECT_EQ(order, "gui,app,process,tool,file,requestfile,fpj,");
  EXPECT_EQ(BindingTable()[0].functions[0], std::string("setInTitleBar"));
  EXPECT_EQ(TreeObjects().front(), std::string("app"));
  for (const FamilyBinding& family : BindingTable()) {
    EXPECT_NE(CreateFamilyHandler(family.object, 1), nullptr) << family.object;
  }
}

TEST_F(PageContext, WindowStateEventUsesThePagesOwnCustomEventAndDispatch) {
  // A plain context has no DOM: the page's builtins are played by functions
  // that keep what they were given.
  Eval(
      "var seen = []; function CustomEvent(type, init) { this.type = type; this.init = init; }"
      "function dispatchEvent(e) { seen.push(e); return true; }");
  DispatchWindowState(context_, "windowstate.max");
  DispatchWindowState(context_, "windowstate.min");
  EXPECT_EQ(Eval("seen.map(e => e.type + ':' + e.init.detail.state).join()").GetStringValue(),
            "windowstate:windowstate.max,windowstate:windowstate.min");
  EXPECT_EQ(
      Eval("Object.keys(seen[0].init) + '|' + Object.keys(seen[0].init.detail)").GetStringValue(),
      "detail|state");
  // A page without them (or with a throwing one) gets nothing, and nothing breaks.
  Eval("CustomEvent = 1");
  DispatchWindowState(context_, "windowstate.normal");
  Eval("CustomEvent = function() { throw new Error('no'); }");
  DispatchWindowState(context_, "windowstate.normal");
  EXPECT_EQ(Eval("seen.length").GetDoubleValue(), 2);
}

TEST_F(PageContext, GuiCallsBecomeWindowMessages) {
  ProcessMessage bar = OmbrixFunHandler::BuildMessage(
      "setInTitleBar",
      EvalArgs("[[{left: 0, top: 0, width: 1024, height: 40}, {left: 10, top: 50, width: 20, "
               "height: 20}, {left: -5, top: 0, width: 100}, 7]]"));
  EXPECT_EQ(bar.name, "setInTitleBar");
  ASSERT_EQ(bar.args.size(), 4u);
  EXPECT_EQ(bar.StringArg(0), "0,0,1024,40");
  EXPECT_EQ(bar.StringArg(1), "10,50,20,20");
  EXPECT_EQ(bar.StringArg(2), "-5,0,100,0");
  EXPECT_EQ(bar.StringArg(3), "0,0,0,0");  // not an object: all zero

  EXPECT_TRUE(OmbrixFunHandler::BuildMessage("setInTitleBar", EvalArgs("[[]]")).args.empty());
  EXPECT_TRUE(OmbrixFunHandler::BuildMessage("setInTitleBar", {}).args.empty());
  EXPECT_EQ(OmbrixFunHandler::BuildMessage("setInTitleBar", {}).name, "setInTitleBar");

  ProcessMessage resize = OmbrixFunHandler::BuildMessage("resizeTo", EvalArgs("[800, 600.9]"));
  EXPECT_EQ(resize.IntArg(0), 800);
  EXPECT_EQ(resize.IntArg(1), 600);
  ProcessMessage odd = OmbrixFunHandler::BuildMessage("resizeTo", EvalArgs("['800', NaN]"));
  EXPECT_EQ(odd.IntArg(0), 0);
  EXPECT_EQ(odd.IntArg(1), 0);

  EXPECT_TRUE(OmbrixFunHandler::BuildMessage("disableResize", EvalArgs("[true]")).BoolArg(0));
  EXPECT_FALSE(OmbrixFunHandler::BuildMessage("disableResize", EvalArgs("['true']")).BoolArg(0));
  EXPECT_EQ(OmbrixFunHandler::BuildMessage("ResizeTo", {}).name, "");
}

TEST_F(PageContext, HostileGettersAndOddStringsAreSafe) {
  const JsArgs args =
      EvalArgs("[new Proxy({}, {get() { throw new Error('trap'); }}), 'a\\u0000b\\uD83D\\uDE00']");
  EXPECT_EQ(args[0].GetValue("left").GetIntValue(), 0);
  EXPECT_EQ(Eval("1 + 1").GetIntValue(), 2);  // the getter's error is gone
  EXPECT_EQ(args[1].GetStringValue(), QString::fromUtf8("a\0b😀", 7));
}

TEST_F(PageContext, IdentifiersFollowOneAnotherAcrossFamilies) {
  QTemporaryDir dir;
  auto files = std::make_shared<FileFunHandler>();
  const JsArgs args = EvalArgs(("['" + dir.path() + "/a.txt', 'x', function() {}]").toUtf8());
  CallScope scope(CallContext{1, 0, context_});
  JsReturn first;
  QString exception;
  ASSERT_TRUE(files->Execute("write", args, &first, &exception));
  const int next = NextCallbackId();
  JsReturn second;
  ASSERT_TRUE(files->Execute("write", args, &second, &exception));
  EXPECT_EQ(int(first.value().number) + 1, next);
  EXPECT_EQ(next + 1, int(second.value().number));
  test_support::PumpUntil([] { return CallbackRegistry::Get().callback_count() == 0; });
}

TEST_F(PageContext, ReleasingOneContextKeepsTheOthers) {
  CallbackRegistry& registry = CallbackRegistry::Get();
  Eval("var calls = [];");
  const JsArgs args = EvalArgs("[function(v) { calls.push(v); }]");
  auto worker_a = std::make_shared<int>(1);
  auto worker_b = std::make_shared<int>(2);
  registry.RegisterCallback(args, 101, 1, context_);
  registry.RegisterJSObject(101, worker_a);
  registry.RegisterCallback(args, 102, 2, context_);
  registry.RegisterJSObject(102, worker_b);

  std::vector<ContextToken> released;
  registry.AddReleaseListener([&](ContextToken token) { released.push_back(token); });
  registry.ReleaseContext(1);
  EXPECT_FALSE(registry.FindCallback(101));
  EXPECT_EQ(registry.GetJSObject(101), nullptr);
  EXPECT_TRUE(registry.FindCallback(102));
  EXPECT_EQ(registry.GetJSObjectAs<int>(102), worker_b);
  EXPECT_EQ(released, std::vector<ContextToken>{1});

  EXPECT_FALSE(registry.Call(101, 0, {JsPlain::Int(1)}).called);  // late: nothing happens
  EXPECT_TRUE(registry.Call(102, 0, {JsPlain::String("two")}).called);
  EXPECT_EQ(Eval("calls.join(',')").GetStringValue(), "two");

  worker_b.reset();  // a destroyed worker is never handed out
  EXPECT_EQ(registry.GetJSObject(102), nullptr);
}

TEST_F(PageContext, ThrowingCallbackIsContainedAndReturnValueSeen) {
  CallbackRegistry& registry = CallbackRegistry::Get();
  registry.RegisterCallback(EvalArgs("[function() { throw new Error('x'); }, "
                                     "function() { return false; }, 5]"),
                            7, 1, context_);
  CallOutcome thrown = registry.Call(7, 0, {});
  EXPECT_TRUE(thrown.called);
  EXPECT_EQ(Eval("2 + 2").GetIntValue(), 4);
  EXPECT_TRUE(registry.Call(7, 1, {}).returned_bool);
  EXPECT_FALSE(registry.Call(7, 2, {}).called);  // not a function
  EXPECT_FALSE(registry.Call(7, 9, {}).called);  // no such argument
}

TEST_F(PageContext, CompletionsRunOnTheLoopThread) {
  class Recorder : public OmbrixCefExecuteCallbackHandler {
   public:
    void ExecuteCallback(const QString& name, int uuid, void*, bool result) override {
      seen = name + QString::number(uuid) + (result ? "t" : "f");
      thread = std::this_thread::get_id();
    }
    QString seen;
    std::thread::id thread;
  };
  auto recorder = std::make_shared<Recorder>();
  auto worker = std::make_shared<CallbackWorker>(recorder, 42);
  std::thread([worker] { PostCompletion(worker, "write", nullptr, true); }).join();
  ASSERT_TRUE(test_support::PumpUntil([&] { return !recorder->seen.isEmpty(); }));
  EXPECT_EQ(recorder->seen, "write42t");
  EXPECT_EQ(recorder->thread, std::this_thread::get_id());
}

TEST(FileOperations, FailedCopyLeavesTheTargetAndWritesUseCrLf) {
  QTemporaryDir dir;
  const QString target = dir.path() + "/keep.txt";
  ASSERT_TRUE(file_ops::Write(target, "keep"));
  EXPECT_FALSE(file_ops::Copy(dir.path() + "/missing", target));
  QFile kept(target);
  ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
  EXPECT_EQ(kept.readAll(), "keep\r\n");
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);  // no leftovers

  ASSERT_TRUE(file_ops::Write(dir.path() + "/src", "new"));
  EXPECT_TRUE(file_ops::Copy(dir.path() + "/src", dir.path() + "/a/b/c.txt"));
  EXPECT_TRUE(file_ops::Copy(dir.path() + "/src", target));
  EXPECT_TRUE(file_ops::Copy(target, target));  // onto itself: unchanged
  EXPECT_EQ(file_ops::WriteBytes("a\nb"), "a\r\nb\r\n");
  EXPECT_EQ(file_ops::WriteBytes(""), "\r\n");
  EXPECT_FALSE(file_ops::Write(dir.path() + "/no/folder/x", "x"));
  EXPECT_FALSE(file_ops::Delete(dir.path() + "/missing"));
  EXPECT_FALSE(file_ops::Copy("", target));
}

}  // namespace
}  // namespace ombrix
