// Frames of the ticket dispenser protocol: request building, checksums, reply
// checks and result codes. Pure functions, no I/O, so they can be tested and
// fuzzed without a port.
#pragma once

#include <QByteArray>
#include <QStringList>
#include <QtGlobal>

namespace fpj {

// Result codes of the driver (values of lastCode).
enum Code : int {
  kOk = 0,
  kNoPort = -100,
  kStatus1 = -102,
  kStatus2 = -103,
  kStatus3 = -104,
  kStatus5 = -105,
  kStatus4 = -106,
  kStatusOther = -107,
  kBadChecksum = -108,
  kNoReply = -109,
};

enum class Command : quint8 {
  Reset = 0x01,
  SellBill = 0x02,
  ExitBill = 0x03,
  QuerySensorStatus = 0x10,
  QueryNum = 0x11,
  QueryFirmwareVersion = 0x15,
  SetHoleNum = 0x20,
  SetFpNum = 0x21,
  SetRange = 0x22,
  CutterTest = 0xA1,
};

// What the protocol fixes for one command.
struct CommandInfo {
  Command command;
  int paramBytes;   // 0, 1 or 2 parameter bytes in the request
  int replyLength;  // exact reply length accepted
  int timeLimitS;   // reply time limit in seconds (SellBill: plus 2 s per ticket)
};

constexpr quint8 kStart = 0x02;
constexpr quint8 kAddress = 0x01;
constexpr int kReplyStatusOffset = 4;
constexpr int kReplyDataOffset = 5;

const CommandInfo& Info(Command command);

// Reply time limit in milliseconds; `count` only matters for SellBill.
qint64 TimeLimitMs(Command command, quint16 count = 0);

// Low 8 bits of the sum of `n` bytes.
quint8 Sum8(const char* data, int n);

// Stores the low 8 bits of the sum of all bytes but the last into the last byte.
void FillChecksum(QByteArray& frame);

// The request frame of `command`. One-byte parameters take the low 8 bits of
// `value` (Reset and ExitBill always send 0x00); two-byte parameters are sent
// most significant byte first.
QByteArray BuildRequest(Command command, quint16 value = 0);

// True when the last byte equals the 8-bit sum of all bytes before it.
// Frames shorter than two bytes never pass.
bool CheckCRC(const QByteArray& reply);

// Device status byte (nonzero) to result code. Status 4 gives -106 and
// status 5 gives -105.
int MapDeviceStatus(quint8 status);

// Result code of a reply read for a command that expects `expectedLength`
// bytes: -109 for an empty or wrong-length reply, the device-status code for
// a nonzero status (checksum not examined), else 0 or -108.
int EvaluateReply(const QByteArray& reply, int expectedLength);

// True for a frame long enough to name its command when that command is not
// `command`: the reply to an earlier request.
bool AnswersAnotherCommand(const QByteArray& reply, Command command);

// Total length of the frame whose first bytes are `bytes` (byte 1 + 6), or
// -1 while fewer than two bytes are known.
int ReplyFrameLength(const QByteArray& bytes);

// The 16-bit value in reply bytes 5 and 6 (most significant first); 0 when
// the reply is too short to hold it.
quint16 ReplyValue16(const QByteArray& reply);

// QueryNum's ticket count: values above 32767 are reported as 0.
int TicketCount(quint16 raw);

// Version text of a QueryFirmwareVersion reply: bytes 5 .. 10, ending at the
// first zero byte. Only bytes that are present are taken.
QByteArray VersionText(const QByteArray& reply);

// One word per sensor flag bit 0 .. 5, "not " in front when the bit is clear.
QStringList SensorFlagWords(quint8 flags);

// Bytes as "02 00 01 11 14".
QString Hex(const QByteArray& bytes);

}  // namespace fpj
