// Frames, checksums, reply checks and the frame reader, without a port.
#include "device/fpj_frame.h"

#include <gtest/gtest.h>

#include "device/fpj_reader.h"
#include "scripted_source.h"

using fpj::Command;

namespace {

QByteArray Hex(const char* text) { return QByteArray::fromHex(text); }

}  // namespace

TEST(FpjRequest, EveryCommandMatchesTheTable) {
  struct Case {
    Command command;
    quint16 value;
    const char* frame;
  };
  const Case cases[] = {
      {Command::Reset, 0, "020101010005"},
      {Command::Reset, 0x1234, "020101010005"},  // the parameter is always 0
      {Command::SellBill, 2, "02020102000209"},
      {Command::SellBill, 3, "0202010200030A"},
      {Command::ExitBill, 7, "020101030007"},
      {Command::QuerySensorStatus, 0, "0200011013"},
      {Command::QueryNum, 0, "0200011114"},
      {Command::QueryFirmwareVersion, 0, "0200011518"},
      {Command::SetHoleNum, 300, "020101202C50"},  // low 8 bits only
      {Command::SetFpNum, 500, "0202012101F41B"},
      {Command::SetRange, 400, "020201220190B8"},
      {Command::SetRange, 0xFFFF, "02020122FFFF25"},
      {Command::CutterTest, 0, "020001A1A4"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(fpj::BuildRequest(c.command, c.value), Hex(c.frame))
        << "command " << int(c.command) << " value " << c.value;
  }
}

TEST(FpjRequest, TimeLimitsAndReplyLengths) {
  EXPECT_EQ(fpj::TimeLimitMs(Command::QueryNum), 5000);
  EXPECT_EQ(fpj::TimeLimitMs(Command::SetRange), 5000);
  EXPECT_EQ(fpj::TimeLimitMs(Command::Reset), 10000);
  EXPECT_EQ(fpj::TimeLimitMs(Command::CutterTest), 10000);
  EXPECT_EQ(fpj::TimeLimitMs(Command::ExitBill), 600000);
  EXPECT_EQ(fpj::TimeLimitMs(Command::SellBill, 3), 16000);
  EXPECT_EQ(fpj::TimeLimitMs(Command::SellBill, 65535), qint64(131080) * 1000);
  EXPECT_EQ(fpj::Info(Command::Reset).replyLength, 7);
  EXPECT_EQ(fpj::Info(Command::SellBill).replyLength, 8);
  EXPECT_EQ(fpj::Info(Command::QueryFirmwareVersion).replyLength, 12);
  EXPECT_EQ(fpj::Info(Command::CutterTest).replyLength, 6);
}

TEST(FpjReply, ChecksumIsThePlainEightBitSum) {
  EXPECT_TRUE(fpj::CheckCRC(Hex("0202011100002A40")));
  EXPECT_FALSE(fpj::CheckCRC(Hex("0202011100002A41")));
  EXPECT_TRUE(fpj::CheckCRC(Hex("FFFF01FF")));  // wraps at 8 bits
  EXPECT_FALSE(fpj::CheckCRC(QByteArray()));
  EXPECT_FALSE(fpj::CheckCRC(Hex("00")));
}

TEST(FpjReply, ResultCodes) {
  const QByteArray good = Hex("0202011100002A40");
  EXPECT_EQ(fpj::EvaluateReply(good, 8), fpj::kOk);
  EXPECT_EQ(fpj::ReplyValue16(good), 42);
  EXPECT_EQ(fpj::EvaluateReply(Hex("0202011100002A41"), 8), fpj::kBadChecksum);
  EXPECT_EQ(fpj::EvaluateReply(Hex("02010111000015"), 8), fpj::kNoReply);  // 7 bytes, sum right
  EXPECT_EQ(fpj::EvaluateReply(QByteArray(), 8), fpj::kNoReply);
  EXPECT_EQ(fpj::EvaluateReply(Hex("0202011100002A40AA"), 8), fpj::kNoReply);
  // A nonzero status wins over the checksum.
  EXPECT_EQ(fpj::EvaluateReply(Hex("0202011103002AFF"), 8), fpj::kStatus3);
  const int byStatus[] = {0, -102, -103, -104, -106, -105, -107};
  for (int status = 0; status <= 6; ++status) {
    EXPECT_EQ(fpj::MapDeviceStatus(quint8(status)), byStatus[status]) << status;
  }
  EXPECT_EQ(fpj::MapDeviceStatus(0xFF), fpj::kStatusOther);
}

TEST(FpjReply, ValuesFromData) {
  EXPECT_EQ(fpj::TicketCount(32767), 32767);
  EXPECT_EQ(fpj::TicketCount(32768), 0);
  EXPECT_EQ(fpj::TicketCount(65535), 0);
  EXPECT_EQ(fpj::ReplyValue16(Hex("020201020100")), 0);  // too short for two data bytes
  EXPECT_EQ(fpj::ReplyValue16(Hex("020201020100020A")), 2);
  EXPECT_EQ(fpj::VersionText(Hex("020601150046504A312E308D")), QByteArray("FPJ1.0"));
  EXPECT_EQ(fpj::VersionText(Hex("0206011500563100000000FF")), QByteArray("V1"));
  EXPECT_EQ(fpj::VersionText(Hex("020601150041")), QByteArray("A"));  // only bytes present
  EXPECT_EQ(fpj::VersionText(QByteArray()), QByteArray());
}

TEST(FpjReply, SensorWords) {
  EXPECT_EQ(fpj::SensorFlagWords(0x05).join(","),
            "over,not reset,SENSOR_IN_PAGE,not SENSOR_OUT_PAGE,not SENSOR_LEFT_STATUS,"
            "not SENSOR_RIGTH_STATUS");
  EXPECT_EQ(fpj::SensorFlagWords(0x3A).join(","),
            "not over,reset,not SENSOR_IN_PAGE,SENSOR_OUT_PAGE,SENSOR_LEFT_STATUS,"
            "SENSOR_RIGTH_STATUS");
}

TEST(FpjReadFrame, AssemblesPiecesAndDropsSurplus) {
  ScriptedSource source({{10, Hex("0202")}, {30, Hex("011100")}, {50, Hex("002A40AAAA")}});
  EXPECT_EQ(fpj::ReadFrame(source, 5000), Hex("0202011100002A40"));
  EXPECT_EQ(source.elapsed(), 50);  // returned as soon as the frame was whole
}

TEST(FpjReadFrame, FirstByteIsTheStartByteWhateverItIs) {
  // A device that starts its replies with another byte is still understood, and
  // a 0x02 inside the frame does not move its start.
  ScriptedSource other({{0, Hex("AA02")}, {20, Hex("01110000")}, {40, Hex("2A40")}});
  EXPECT_EQ(fpj::ReadFrame(other, 5000), Hex("AA02011100002A40"));
  ScriptedSource inner({{0, Hex("0502020202")}, {20, Hex("020202")}});
  EXPECT_EQ(fpj::ReadFrame(inner, 5000), Hex("0502020202020202"));
}

TEST(FpjReadFrame, NothingArrivesWaitsTheWholeLimit) {
  ScriptedSource source({});
  EXPECT_TRUE(fpj::ReadFrame(source, 5000).isEmpty());
  EXPECT_EQ(source.elapsed(), 5000);
}

TEST(FpjReadFrame, LatePieceIsNotAwaitedPastTheLimit) {
  ScriptedSource source({{100, Hex("020201")}, {6000, Hex("1100002A40")}});
  EXPECT_EQ(fpj::ReadFrame(source, 5000), Hex("020201"));  // short: -109 later
  EXPECT_EQ(source.elapsed(), 5000);
  EXPECT_FALSE(source.negativeWait());
}

TEST(FpjReadFrame, OneByteIsNoReply) {
  ScriptedSource source({{0, Hex("02")}});
  EXPECT_TRUE(fpj::ReadFrame(source, 200).isEmpty());
}

TEST(FpjReadFrame, LengthByteIsUnsigned) {
  // Byte 1 = 0xFF announces a 261-byte frame; what came is returned whole.
  ScriptedSource source({{0, Hex("02FF0111")}});
  EXPECT_EQ(fpj::ReadFrame(source, 100), Hex("02FF0111"));
  QByteArray big = Hex("02FF");
  big.append(300, '\x01');
  ScriptedSource bigSource({{0, big}});
  EXPECT_EQ(fpj::ReadFrame(bigSource, 100).size(), 261);
}
