// The fpj family without a shell: the argument rules and the pending-call
// table as plain logic, then the handler called the way the page binding calls
// it, from a standalone script context, against fpj-sim on a real pty.
#include <glib.h>
#include <gtest/gtest.h>

#include <QtGlobal>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "api/fpj_fun.h"
#include "sim_process.h"
#include "tests/support/script_context.h"

namespace ombrix {
namespace {

using fpj_family::ArgInfo;
using fpj_family::Decide;
using fpj_family::Decision;
using fpj_family::Job;
using fpj_family::PendingCalls;

ArgInfo Text(const char* text) { return {ArgInfo::kString, 0, QString::fromUtf8(text)}; }
ArgInfo Number(double number) { return {ArgInfo::kNumber, number, QString()}; }
ArgInfo Function() { return {ArgInfo::kFunction, 0, QString()}; }

QString Utf8(const char* text) { return QString::fromUtf8(text); }

// ---- Argument rules ----

struct DeviceCase {
  const char* name;
  Job job;
  bool takes_integer;
  const char* message;
};

const DeviceCase kDeviceCases[] = {
    {"reset", Job::kReset, false, "错误的参数，参数列表：callback"},
    {"sellbill", Job::kSellBill, true, "错误的参数，参数列表：发票张数, 回调函数"},
    {"exitbill", Job::kExitBill, false, "错误的参数，参数列表：回调函数"},
    {"setholenum", Job::kSetHoleNum, true, "错误的参数，参数列表：孔数， 回调函数"},
    {"queryversion", Job::kQueryVersion, false, "错误的参数，参数列表：回调函数"},
    {"querysensorstatus", Job::kQuerySensorStatus, false, "错误的参数，参数列表：回调函数"},
    {"setrange", Job::kSetRange, true, "错误的参数，参数列表：补偿距离，以0.25mm为单位, 回调函数"},
    {"setbillnum", Job::kSetFpNum, true, "错误的参数，参数列表：发票张数, 回调函数"},
    {"querybillnum", Job::kQueryNum, false, "错误的参数，参数列表：回调函数"},
    {"cuttertest", Job::kCutterTest, false, "错误的参数，参数列表：回调函数"},
};

TEST(FpjDecide, DeviceFunctionsStartTheirJobOnlyWithRightArguments) {
  for (const DeviceCase& c : kDeviceCases) {
    SCOPED_TRACE(c.name);
    const std::vector<ArgInfo> right = c.takes_integer ? std::vector<ArgInfo>{Number(7), Function()}
                                                       : std::vector<ArgInfo>{Function()};
    const Decision start = Decide(c.name, right);
    EXPECT_EQ(start.action, Decision::kStartJob);
    EXPECT_EQ(start.job, c.job);
    EXPECT_EQ(start.callback_index, c.takes_integer ? 1u : 0u);
    EXPECT_EQ(start.value, c.takes_integer ? 7 : 0);

    const std::vector<std::vector<ArgInfo>> wrong = {
        {},
        c.takes_integer ? std::vector<ArgInfo>{Text("2"), Function()}
                        : std::vector<ArgInfo>{Text("f")},
        c.takes_integer ? std::vector<ArgInfo>{Number(2)} : std::vector<ArgInfo>{Number(1)},
        c.takes_integer ? std::vector<ArgInfo>{Function(), Number(2)}
                        : std::vector<ArgInfo>{ArgInfo()},
    };
    for (const auto& arguments : wrong) {
      const Decision rejected = Decide(c.name, arguments);
      EXPECT_EQ(rejected.action, Decision::kWrongArguments);
      EXPECT_EQ(rejected.text, Utf8(c.message));
    }
  }
}

TEST(FpjDecide, FastFunctionsAndUnknownNames) {
  const Decision open = Decide("open", {Text("/dev/pts/9")});
  EXPECT_EQ(open.action, Decision::kOpen);
  EXPECT_EQ(open.text, QString("/dev/pts/9"));
  for (const auto& arguments : std::vector<std::vector<ArgInfo>>{{}, {Number(3)}, {Function()}}) {
    const Decision rejected = Decide("open", arguments);
    EXPECT_EQ(rejected.action, Decision::kWrongArguments);
    EXPECT_EQ(rejected.text, Utf8("错误的参数，参数列表：串口端口"));
  }
  // The others take no arguments and ignore any given.
  EXPECT_EQ(Decide("close", {Number(1)}).action, Decision::kClose);
  EXPECT_EQ(Decide("getportstatus", {}).action, Decision::kPortStatus);
  EXPECT_EQ(Decide("getappversion", {}).action, Decision::kAppVersion);
  EXPECT_EQ(Decide("getlastcode", {Text("x")}).action, Decision::kLastCode);
  EXPECT_EQ(Decide("Open", {Text("/dev/pts/9")}).action, Decision::kUnknown);
  EXPECT_EQ(Decide("sell", {Number(1), Function()}).action, Decision::kUnknown);
}

TEST(FpjDecide, IntegersAreReadAsUnsigned32BitsAndCutTo16) {
  EXPECT_EQ(Decide("sellbill", {Number(65535), Function()}).value, 65535);
  const std::pair<double, int> cuts[] = {{-1, 65535},        {300, 300},    {65535, 65535},
                                         {65536, 0},         {70000, 4464}, {4294967295.0, 65535},
                                         {-2147483648.0, 0}, {-65536, 0},   {-0.0, 0}};
  for (const auto& [number, cut] : cuts) {
    SCOPED_TRACE(number);
    const Decision decision = Decide("setrange", {Number(number), Function()});
    ASSERT_EQ(decision.action, Decision::kStartJob);
    EXPECT_EQ(decision.value, cut);
  }
  // A ticket count is never cut: -1 must not sell 65535 tickets.
  for (double not_a_count :
       {-1.0, 65536.0, 2.5, -0.5, 4294967296.0, -2147483649.0, qInf(), qQNaN()}) {
    SCOPED_TRACE(not_a_count);
    EXPECT_EQ(Decide("sellbill", {Number(not_a_count), Function()}).action,
              Decision::kWrongArguments);
  }
}

// ---- Pending-call table ----

TEST(FpjPendingCalls, KeyedByObjectAndNameNeverReplaced) {
  PendingCalls table;
  EXPECT_TRUE(table.Add(5, "sellbill", {1, -1, 1}));
  EXPECT_FALSE(table.Add(5, "sellbill", {2, -2, 0}));  // the first one stays
  EXPECT_TRUE(table.Add(5, "reset", {1, -3, 0}));
  EXPECT_TRUE(table.Add(6, "sellbill", {2, -4, 1}));
  EXPECT_TRUE(table.Contains(5, "sellbill"));
  EXPECT_FALSE(table.Contains(5, "exitbill"));

  const auto taken = table.Take(5, "sellbill");
  ASSERT_TRUE(taken.has_value());
  EXPECT_EQ(taken->key, -1);
  EXPECT_EQ(taken->callback_index, 1u);
  EXPECT_FALSE(table.Take(5, "sellbill").has_value());
  EXPECT_TRUE(table.Contains(6, "sellbill"));
}

TEST(FpjPendingCalls, ContextReleaseDropsOnlyThatContextsCalls) {
  auto handler = std::make_shared<FpjFunHandler>(0);  // listens for releases
  PendingCalls& table = PendingCalls::Get();
  const size_t before = table.size();
  table.Add(9001, "reset", {71, -9001, 0});
  table.Add(9001, "sellbill", {71, -9002, 1});
  table.Add(9002, "reset", {72, -9003, 0});
  CallbackRegistry::Get().ReleaseContext(71);
  EXPECT_FALSE(table.Contains(9001, "reset"));
  EXPECT_FALSE(table.Contains(9001, "sellbill"));
  EXPECT_TRUE(table.Contains(9002, "reset"));
  table.Take(9002, "reset");
  EXPECT_EQ(table.size(), before);
}

// ---- The handler, called as the page binding calls it ----

using Clock = std::chrono::steady_clock;

using test_support::PumpUntil;

struct Outcome {
  bool handled = false;
  JsReturn retval;
  QString exception;
  double Number() const { return retval.value().number; }
};

// A standalone script context standing in for one frame's document.
class Page {
 public:
  explicit Page(ContextToken token)
      : token_(token),
        js_(JSGlobalContextCreate(nullptr)),
        handler_(std::make_shared<FpjFunHandler>(1)) {
    Eval("var calls = [];");
  }
  ~Page() {
    handler_.reset();
    JSGlobalContextRelease(js_);
  }

  JsValue Eval(const char* script) { return test_support::Evaluate(js_, script); }
  // A callback that records [tag, its arguments...] in `calls`.
  JsValue Callback(const char* tag) {
    const QByteArray script = QByteArray("(function(){calls.push(['") + tag +
                              "'].concat(Array.prototype.slice.call(arguments)));})";
    return Eval(script.constData());
  }
  JsValue Text(const std::string& text) { return Eval(("'" + text + "'").c_str()); }

  Outcome Call(const char* name, const JsArgs& arguments = {}) {
    CallScope scope(CallContext{token_, 0, js_});
    Outcome outcome;
    outcome.handled = handler_->Execute(name, arguments, &outcome.retval, &outcome.exception);
    return outcome;
  }
  QString Calls() { return Eval("JSON.stringify(calls)").GetStringValue(); }
  int CallCount() { return Eval("calls.length").GetIntValue(); }
  FpjFunHandler& handler() { return *handler_; }

 private:
  ContextToken token_;
  JSGlobalContextRef js_;
  std::shared_ptr<FpjFunHandler> handler_;
};

// Calls `name` with a callback tagged `tag` and waits for that callback.
void RunToCallback(Page& page, const char* name, const char* tag) {
  const int before = page.CallCount();
  EXPECT_EQ(page.Call(name, {page.Callback(tag)}).Number(), 0) << name;
  EXPECT_TRUE(PumpUntil([&] { return page.CallCount() > before; })) << name;
}

TEST(FpjHandler, PortStatesAcrossOpenAndClose) {
  SimProcess sim({"--ticket-ms", "0", "--version", "V2.31"});
  ASSERT_TRUE(sim.started());
  Page page(503);
  RunToCallback(page, "queryversion", "early");
  RunToCallback(page, "reset", "noport");
  EXPECT_EQ(page.Call("getlastcode").Number(), -100);
  EXPECT_EQ(page.Call("getportstatus").Number(), -100);

  EXPECT_EQ(page.Call("open", {page.Text("/dev/ombrix-no-such-port")}).Number(), -100);
  RunToCallback(page, "reset", "failed");
  EXPECT_EQ(page.Call("open", {page.Text(sim.path())}).Number(), -100);  // no second try
  page.Call("close");
  EXPECT_EQ(page.Call("getlastcode").Number(), 0);  // a new object
  EXPECT_EQ(page.Call("open", {page.Text(sim.path())}).Number(), 0);
  RunToCallback(page, "queryversion", "version");
  EXPECT_EQ(
      page.Calls(),
      QString(R"([["early",-100,""],["noport",-100],["failed",-109],["version",0,"V2.31"]])"));
}

// Messages of the family, to see when a dispenser object is released.
int g_objects_released = 0;
void CountReleases(QtMsgType, const QMessageLogContext&, const QString& message) {
  if (message.contains(QLatin1String("FpjFun is release"))) ++g_objects_released;
}

TEST(FpjHandler, ReleasedContextGetsNoResultAndOthersKeepTheirs) {
  SimProcess gone_sim({"--ticket-ms", "300"});
  SimProcess kept_sim({"--ticket-ms", "300"});
  ASSERT_TRUE(gone_sim.started() && kept_sim.started());
  Page gone(504);
  Page kept(505);
  ASSERT_EQ(gone.Call("open", {gone.Text(gone_sim.path())}).Number(), 0);
  ASSERT_EQ(kept.Call("open", {kept.Text(kept_sim.path())}).Number(), 0);
  const JsValue three = gone.Eval("3");
  ASSERT_EQ(gone.Call("sellbill", {three, gone.Callback("gone")}).Number(), 0);
  ASSERT_EQ(kept.Call("sellbill", {kept.Eval("3"), kept.Callback("kept")}).Number(), 0);

  g_objects_released = 0;
  const QtMessageHandler previous = qInstallMessageHandler(CountReleases);
  CallbackRegistry::Get().ReleaseContext(504);  // the frame navigated mid-sale
  // The gone page's object lives on until its job has stopped, then goes.
  EXPECT_EQ(g_objects_released, 0);
  EXPECT_TRUE(PumpUntil([&] { return kept.CallCount() == 1 && g_objects_released == 1; }));
  qInstallMessageHandler(previous);
  EXPECT_EQ(kept.Calls(), QString(R"([["kept",0,3]])"));
  EXPECT_EQ(gone.Calls(), QString("[]"));
  EXPECT_LE(gone_sim.Frames().size(), 1u);  // the sale, unless it went before it was sent
}

}  // namespace
}  // namespace ombrix
