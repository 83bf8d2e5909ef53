#include "device/fpj_frame.h"

#include <array>

namespace fpj {
namespace {

constexpr std::array<CommandInfo, 10> kCommands = {{
    {Command::Reset, 1, 7, 10},
    {Command::SellBill, 2, 8, 10},
    {Command::ExitBill, 1, 7, 600},
    {Command::QuerySensorStatus, 0, 8, 5},
    {Command::QueryNum, 0, 8, 5},
    {Command::QueryFirmwareVersion, 0, 12, 5},
    {Command::SetHoleNum, 1, 6, 5},
    {Command::SetFpNum, 2, 6, 5},
    {Command::SetRange, 2, 6, 5},
    {Command::CutterTest, 0, 6, 10},
}};

constexpr int kVersionLength = 6;

const char* const kSensorWords[] = {"over",
                                    "reset",
                                    "SENSOR_IN_PAGE",
                                    "SENSOR_OUT_PAGE",
                                    "SENSOR_LEFT_STATUS",
                                    "SENSOR_RIGTH_STATUS"};

quint8 ByteAt(const QByteArray& bytes, int i) { return static_cast<quint8>(bytes.at(i)); }

}  // namespace

const CommandInfo& Info(Command command) {
  for (const CommandInfo& info : kCommands) {
    if (info.command == command) return info;
  }
  return kCommands[0];  // unreachable: every enumerator is in the table
}

qint64 TimeLimitMs(Command command, quint16 count) {
  qint64 seconds = Info(command).timeLimitS;
  if (command == Command::SellBill) seconds += 2 * qint64(count);
  return seconds * 1000;
}

quint8 Sum8(const char* data, int n) {
  quint8 sum = 0;
  for (int i = 0; i < n; ++i) sum = quint8(sum + static_cast<quint8>(data[i]));
  return sum;
}

void FillChecksum(QByteArray& frame) {
  if (frame.isEmpty()) return;
  frame[frame.size() - 1] = char(Sum8(frame.constData(), frame.size() - 1));
}

QByteArray BuildRequest(Command command, quint16 value) {
  const CommandInfo& info = Info(command);
  QByteArray frame(info.paramBytes + 5, '\0');
  frame[0] = char(kStart);
  frame[1] = char(info.paramBytes);
  frame[2] = char(kAddress);
  frame[3] = char(command);
  if (command == Command::Reset || command == Command::ExitBill) value = 0;
  if (info.paramBytes == 1) frame[4] = char(value & 0xFF);
  if (info.paramBytes == 2) {
    frame[4] = char(value >> 8);
    frame[5] = char(value & 0xFF);
  }
  FillChecksum(frame);
  return frame;
}

bool CheckCRC(const QByteArray& reply) {
  if (reply.size() < 2) return false;
  return ByteAt(reply, reply.size() - 1) == Sum8(reply.constData(), reply.size() - 1);
}

int MapDeviceStatus(quint8 status) {
  switch (status) {
    case 0:
      return kOk;
    case 1:
      return kStatus1;
    case 2:
      return kStatus2;
    case 3:
      return kStatus3;
    case 4:
      return kStatus4;
    case 5:
      return kStatus5;
    default:
      return kStatusOther;
  }
}

int EvaluateReply(const QByteArray& reply, int expectedLength) {
  if (reply.isEmpty() || reply.size() != expectedLength || reply.size() <= kReplyStatusOffset) {
    return kNoReply;
  }
  const quint8 status = ByteAt(reply, kReplyStatusOffset);
  if (status != 0) return MapDeviceStatus(status);
  return CheckCRC(reply) ? kOk : kBadChecksum;
}

bool AnswersAnotherCommand(const QByteArray& reply, Command command) {
  return reply.size() > 3 && ByteAt(reply, 3) != quint8(command);
}

int ReplyFrameLength(const QByteArray& bytes) {
  if (bytes.size() < 2) return -1;
  return ByteAt(bytes, 1) + 6;
}

quint16 ReplyValue16(const QByteArray& reply) {
  if (reply.size() < kReplyDataOffset + 2) return 0;
  return quint16(ByteAt(reply, kReplyDataOffset) << 8 | ByteAt(reply, kReplyDataOffset + 1));
}

int TicketCount(quint16 raw) { return raw > 32767 ? 0 : int(raw); }

QByteArray VersionText(const QByteArray& reply) {
  QByteArray text = reply.mid(kReplyDataOffset, kVersionLength);
  const int zero = text.indexOf('\0');
  if (zero >= 0) text.truncate(zero);
  return text;
}

QStringList SensorFlagWords(quint8 flags) {
  QStringList words;
  for (int bit = 0; bit < 6; ++bit) {
    const QString word = QString::fromLatin1(kSensorWords[bit]);
    words << ((flags >> bit) & 1 ? word : QStringLiteral("not ") + word);
  }
  return words;
}

QString Hex(const QByteArray& bytes) { return QString::fromLatin1(bytes.toHex(' ').toUpper()); }

}  // namespace fpj
