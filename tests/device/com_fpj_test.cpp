// ComFpj against the fpj-sim simulator on a real pseudo-terminal.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QStringList>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <thread>

#include "device/ComFpj.h"
#include "sim_process.h"

namespace {

using Clock = std::chrono::steady_clock;

qint64 MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

QString Path(const SimProcess& sim) { return QString::fromStdString(sim.path()); }

// A driver opened on a fresh simulator started with `options`.
struct Rig {
  explicit Rig(const std::vector<std::string>& options = {}) : sim(options) {
    EXPECT_TRUE(sim.started());
    EXPECT_TRUE(fpj.OpenPort(Path(sim)));
  }
  SimProcess sim;
  ComFpj fpj;
};

}  // namespace

TEST(ComFpjSim, EveryCommandSendsItsFrameAndSucceeds) {
  Rig rig({"--stock", "40", "--ticket-ms", "0", "--version", "V2.31"});
  ComFpj& fpj = rig.fpj;
  EXPECT_EQ(fpj.PortStatus(), 0);
  EXPECT_EQ(fpj.Reset(), 0);
  EXPECT_EQ(fpj.QueryNum(), 40);
  EXPECT_EQ(fpj.SetFpNum(500), 0);
  EXPECT_EQ(fpj.QueryNum(), 500);
  quint16 count = 2;
  EXPECT_EQ(fpj.SellBill(count), 0);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(fpj.QueryNum(), 498);
  EXPECT_EQ(fpj.ExitBill(), 0);
  EXPECT_EQ(fpj.QuerySensorStatus(), 0);
  EXPECT_EQ(fpj.QueryFirmwareVersion(), QString("V2.31"));
  EXPECT_EQ(fpj.SetHoleNum(300), 0);
  EXPECT_EQ(fpj.SetRange(400), 0);
  EXPECT_EQ(fpj.SetRange(0xFFFF), 0);
  EXPECT_EQ(fpj.CutterTest(), 0);
  EXPECT_EQ(fpj.lastCode(), 0);
  const std::vector<std::string> expected = {
      "02 01 01 01 00 05",    "02 00 01 11 14",    "02 02 01 21 01 F4 1B", "02 00 01 11 14",
      "02 02 01 02 00 02 09", "02 00 01 11 14",    "02 01 01 03 00 07",    "02 00 01 10 13",
      "02 00 01 15 18",       "02 01 01 20 2C 50", "02 02 01 22 01 90 B8", "02 02 01 22 FF FF 25",
      "02 00 01 A1 A4"};
  EXPECT_EQ(rig.sim.Frames(), expected);
}

TEST(ComFpjSim, CompleteReplyEndsTheWaitAtOnce) {
  Rig rig;
  const auto start = Clock::now();
  for (int i = 0; i < 20; ++i) ASSERT_EQ(rig.fpj.QueryNum(), 100);
  EXPECT_LT(MsSince(start), 1000);  // 20 round trips, far below one time limit
}

struct CodeCase {
  const char* name;
  std::vector<std::string> options;
  int code;
};

void PrintTo(const CodeCase& c, std::ostream* os) { *os << c.name; }

class ComFpjCodes : public ::testing::TestWithParam<CodeCase> {};

TEST_P(ComFpjCodes, CommandsReportTheCode) {
  Rig rig(GetParam().options);
  EXPECT_EQ(rig.fpj.QueryNum(), GetParam().code);
  EXPECT_EQ(rig.fpj.lastCode(), GetParam().code);
  if (GetParam().code != -109) {  // (a short reply costs the whole limit)
    EXPECT_EQ(rig.fpj.CutterTest(), GetParam().code);
    EXPECT_EQ(rig.fpj.QueryFirmwareVersion(), QString("FPJ1.0"));  // text taken anyway
    EXPECT_EQ(rig.fpj.lastCode(), GetParam().code);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ComFpjCodes,
    ::testing::Values(
        CodeCase{"Status1", {"--status", "1"}, -102}, CodeCase{"Status2", {"--status", "2"}, -103},
        CodeCase{"Status3", {"--status", "3"}, -104}, CodeCase{"Status4", {"--status", "4"}, -106},
        CodeCase{"Status5", {"--status", "5"}, -105}, CodeCase{"Status6", {"--status", "6"}, -107},
        CodeCase{"Status255", {"--status", "255"}, -107},
        CodeCase{"StatusBeatsChecksum", {"--status", "3", "--bad-checksum"}, -104},
        CodeCase{"BadChecksum", {"--bad-checksum"}, -108},
        CodeCase{"ShortByOne", {"--short", "1"}, -109},
        CodeCase{"ShortInPieces", {"--short", "3", "--pieces", "2"}, -109}),
    [](const ::testing::TestParamInfo<CodeCase>& info) { return std::string(info.param.name); });

TEST(ComFpjSim, TicketCountAbove32767ReadsAsZero) {
  Rig rig({"--stock", "40000"});
  EXPECT_EQ(rig.fpj.QueryNum(), 0);
  EXPECT_EQ(rig.fpj.lastCode(), 0);
}

TEST(ComFpjSim, ReplyInPiecesIsAssembled) {
  Rig rig({"--pieces", "8", "--piece-gap", "20"});
  const auto start = Clock::now();
  EXPECT_EQ(rig.fpj.QueryNum(), 100);
  EXPECT_GE(MsSince(start), 135);  // the eight pieces really came apart
  EXPECT_EQ(rig.fpj.QueryFirmwareVersion(), QString("FPJ1.0"));
}

TEST(ComFpjSim, NoiseAfterTheFrameSpoilsNoReply) {
  // The noise that follows each reply is left over when the next request goes
  // out; it must not be taken for the start of that request's reply.
  Rig rig({"--noise", "9"});
  EXPECT_EQ(rig.fpj.QueryNum(), 100);
  EXPECT_EQ(rig.fpj.QueryFirmwareVersion(), QString("FPJ1.0"));
  EXPECT_EQ(rig.fpj.SetRange(8), 0);
  EXPECT_EQ(rig.fpj.QueryNum(), 100);
}

TEST(ComFpjSim, SilentDeviceGivesNoReplyAfterTheLimit) {
  Rig rig({"--silent"});
  const auto start = Clock::now();
  EXPECT_EQ(rig.fpj.QueryNum(), -109);
  const qint64 took = MsSince(start);
  EXPECT_GE(took, 5000);
  EXPECT_LT(took, 6500);
}

TEST(ComFpjSim, LateReplyIsNotTakenForTheNextOne) {
  Rig rig({"--delay", "5300"});
  EXPECT_EQ(rig.fpj.QueryNum(), -109);
  std::this_thread::sleep_for(std::chrono::milliseconds(600));  // the late reply is in
  // Without dropping it, this command would read it and report 100 tickets.
  EXPECT_EQ(rig.fpj.QueryNum(), -109);
}

TEST(ComFpjSim, SellBillReportsTicketsDispensed) {
  {
    Rig rig({"--stock", "2", "--ticket-ms", "30"});  // status 01: ran out after 2
    quint16 count = 3;
    const auto start = Clock::now();
    EXPECT_EQ(rig.fpj.SellBill(count), -102);
    EXPECT_GE(MsSince(start), 60);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(rig.sim.Frames(), std::vector<std::string>{"02 02 01 02 00 03 0A"});
  }
  {
    Rig rig({"--bad-checksum"});
    quint16 count = 3;
    EXPECT_EQ(rig.fpj.SellBill(count), -108);
    EXPECT_EQ(count, 3);  // a failed reply keeps the requested count
  }
  ComFpj unopened;
  quint16 count = 4;
  EXPECT_EQ(unopened.SellBill(count), -100);
  EXPECT_EQ(count, 4);
}

TEST(ComFpjSim, NoPortObjectGivesMinus100) {
  ComFpj fpj;
  EXPECT_EQ(fpj.lastCode(), 0);
  EXPECT_EQ(fpj.PortStatus(), -100);
  EXPECT_EQ(fpj.Reset(), -100);
  EXPECT_EQ(fpj.QueryNum(), -100);
  EXPECT_EQ(fpj.QueryFirmwareVersion(), QString());
  EXPECT_EQ(fpj.lastCode(), -100);
}

TEST(ComFpjSim, PortThatIsNotADeviceGivesCodes) {
  char file[] = "/tmp/fpj-not-a-tty-XXXXXX";
  const int fd = mkstemp(file);
  ASSERT_GE(fd, 0);
  close(fd);
  for (const QString& name : {QString("/nonexistent/ttyFPJ"), QString(file), QString("/tmp")}) {
    ComFpj fpj;
    const auto start = Clock::now();
    EXPECT_FALSE(fpj.OpenPort(name)) << name.toStdString();
    EXPECT_EQ(fpj.PortStatus(), -100);
    EXPECT_EQ(fpj.Reset(), -109);  // the port object exists but is closed
    EXPECT_LT(MsSince(start), 1000);
  }
  unlink(file);

  // A failed open stays failed until the port is closed; then it tries again.
  SimProcess sim;
  ComFpj fpj;
  EXPECT_FALSE(fpj.OpenPort("/nonexistent/ttyFPJ"));
  EXPECT_FALSE(fpj.OpenPort(Path(sim)));
  fpj.ClosePort();
  EXPECT_EQ(fpj.Reset(), -100);
  EXPECT_TRUE(fpj.OpenPort(Path(sim)));
  EXPECT_EQ(fpj.Reset(), 0);
}

TEST(ComFpjSim, DeviceVanishingMidCommandGivesACode) {
  Rig rig({"--delay", "3000"});
  int code = 1;
  const auto start = Clock::now();
  std::thread caller([&] { code = rig.fpj.QueryNum(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  rig.sim.Kill();
  caller.join();
  EXPECT_EQ(code, -109);
  EXPECT_LT(MsSince(start), 2500);  // ended by the hang-up, not by the limit
  EXPECT_EQ(rig.fpj.PortStatus(), -100);
  const auto again = Clock::now();
  EXPECT_EQ(rig.fpj.Reset(), -109);
  EXPECT_LT(MsSince(again), 500);
}

namespace {

std::mutex messagesMutex;
QStringList messages;

void Collect(QtMsgType type, const QMessageLogContext&, const QString& text) {
  if (type == QtDebugMsg) return;
  std::lock_guard<std::mutex> lock(messagesMutex);
  messages << text;
}

}  // namespace

TEST(ComFpjSim, AnyThreadWithoutApplicationObjectAndWithoutQtWarnings) {
  ASSERT_EQ(QCoreApplication::instance(), nullptr);
  const QtMessageHandler previous = qInstallMessageHandler(Collect);
  {
    SimProcess sim;
    ComFpj fpj;
    std::thread opener([&] { EXPECT_TRUE(fpj.OpenPort(Path(sim))); });
    opener.join();
    EXPECT_EQ(fpj.QueryNum(), 100);  // main thread
    std::vector<std::thread> callers;
    for (int i = 0; i < 4; ++i) {
      callers.emplace_back([&] {
        for (int j = 0; j < 5; ++j) EXPECT_EQ(fpj.QueryNum(), 100);
      });
    }
    for (std::thread& t : callers) t.join();
    std::thread closer([&] { fpj.ClosePort(); });
    closer.join();
    EXPECT_EQ(sim.Frames().size(), 21u);  // calls from many threads never interleave
  }
  qInstallMessageHandler(previous);
  EXPECT_TRUE(messages.isEmpty()) << messages.join("\n").toStdString();
}
