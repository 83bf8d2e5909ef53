#include "device/ComFpj.h"

#include <poll.h>
#include <sys/stat.h>

#include <QDebug>
#include <QElapsedTimer>
#include <QSerialPort>
#include <QThread>
#include <cerrno>

#include "device/fpj_port_thread.h"
#include "device/fpj_reader.h"

using fpj::Command;

namespace {

// A wait for the device is checked this often for its page having gone.
constexpr int kAbandonCheckMs = 50;

// The device file a port name opens, as Qt finds it: a bare name lives in /dev.
QByteArray DeviceNode(const QString& name) {
  const bool path = name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1String("./")) ||
                    name.startsWith(QLatin1String("../"));
  return (path ? name : QStringLiteral("/dev/") + name).toLocal8Bit();
}

// True when the device behind the open port has gone for good, so the port
// can never be used again: the line was hung up (an adapter unplugged, the far
// end of a pseudo-terminal closed), or its device file was removed or now
// names another device. Qt's error codes do not tell this apart from a read
// that merely failed (a hung-up pseudo-terminal reads as a ReadError, as any
// failed read does), so the port itself is asked.
bool DeviceGone(const QSerialPort& port, const QByteArray& node_path) {
  const int fd = port.handle();
  if (!port.isOpen() || fd < 0) return true;
  pollfd p{fd, 0, 0};  // hang-ups and a dead descriptor are reported unasked
  if (poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLNVAL))) return true;
  struct stat open_file {};
  struct stat node {};
  if (fstat(fd, &open_file) != 0) return true;
  if (stat(node_path.constData(), &node) != 0) return errno == ENOENT || errno == ENOTDIR;
  return S_ISCHR(open_file.st_mode) && node.st_rdev != open_file.st_rdev;
}

// A wait whose read failed this many times in a row on a device that is still
// there gives up (the exchange then reports no reply; the port stays open).
constexpr int kMaxReadFailures = 100;

// The open port as a byte source for fpj::ReadFrame, timed on a monotonic
// clock; a wait ends early once the command is abandoned or the device has
// gone. A read that fails while the device is still there (noise, a glitch
// of the adapter) is no reason to stop waiting for the reply.
class PortSource : public fpj::ByteSource {
 public:
  PortSource(QSerialPort& port, const QByteArray& node, const std::atomic<bool>& abandoned)
      : port_(port), node_(node), abandoned_(abandoned) {
    clock_.start();
  }

  qint64 NowMs() override { return clock_.elapsed(); }

  bool WaitForBytes(int ms) override {
    if (!port_.isOpen()) return false;
    if (port_.bytesAvailable() > 0) return true;
    const qint64 end = clock_.elapsed() + ms;
    int failures = 0;
    for (qint64 left = ms; left > 0 && !abandoned_.load(); left = end - clock_.elapsed()) {
      const int slice = int(qMin<qint64>(left, kAbandonCheckMs));
      const qint64 slice_start = clock_.elapsed();
      if (port_.waitForReadyRead(slice)) return true;
      if (port_.bytesAvailable() > 0) return true;
      if (DeviceGone(port_, node_)) return false;
      const QSerialPort::SerialPortError error = port_.error();
      if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError) {
        failures = 0;
        continue;
      }
      qDebug() << "read failed, the device is still there:" << port_.errorString();
      port_.clearError();
      if (++failures >= kMaxReadFailures) return false;
      // A read that fails at once is not retried in a busy loop.
      const qint64 rest = slice - (clock_.elapsed() - slice_start);
      if (rest > 0) QThread::msleep(static_cast<unsigned long>(rest));
    }
    return false;
  }

  QByteArray ReadAvailable() override { return port_.readAll(); }

 private:
  QSerialPort& port_;
  const QByteArray& node_;
  const std::atomic<bool>& abandoned_;
  QElapsedTimer clock_;
};

bool IsDeviceStatusCode(int code) { return code <= fpj::kStatus1 && code >= fpj::kStatusOther; }

}  // namespace

ComFpj::ComFpj() : thread_(new fpj::PortThread) {}

ComFpj::~ComFpj() {
  thread_->Call([this] { CloseOnThread(); });
  thread_.reset();
}

bool ComFpj::OpenPort(const QString& portName) {
  return thread_->Call([&] { return OpenOnThread(portName); });
}

void ComFpj::ClosePort() {
  thread_->Call([this] { CloseOnThread(); });
}

int ComFpj::PortStatus() {
  return thread_->Call([this] { return PortStatusOnThread(); });
}

int ComFpj::Reset() {
  return thread_->Call([this] { return Run(Command::Reset, 0, "Reset"); });
}

int ComFpj::ExitBill() {
  return thread_->Call([this] { return Run(Command::ExitBill, 0, "ExitBill"); });
}

int ComFpj::CutterTest() {
  return thread_->Call([this] { return Run(Command::CutterTest, 0, "CutterTest"); });
}

int ComFpj::QuerySensorStatus() {
  return thread_->Call([this] {
    const QByteArray reply = Exchange(Command::QuerySensorStatus, 0, "QuerySensorStatus");
    if (reply.size() > fpj::kReplyDataOffset) {
      const quint8 flags = quint8(reply.at(fpj::kReplyDataOffset));
      qDebug().noquote() << "sensor status:"
                         << fpj::SensorFlagWords(flags).join(QStringLiteral(", "));
    }
    return lastCode();
  });
}

int ComFpj::SetRange(quint16 distance) {
  return thread_->Call([=] { return Run(Command::SetRange, distance, "SetRange"); });
}

int ComFpj::SetHoleNum(quint16 hole) {
  return thread_->Call([=] {
    qDebug() << "hole number" << hole;
    return Run(Command::SetHoleNum, hole, "SetHoleNum CMD");
  });
}

int ComFpj::SetFpNum(quint16 count) {
  return thread_->Call([=] {
    qDebug() << "number" << count;
    return Run(Command::SetFpNum, count, "SetFpNum");
  });
}

int ComFpj::QueryNum() {
  return thread_->Call([this] { return QueryNumOnThread(); });
}

int ComFpj::SellBill(quint16& count) {
  return thread_->Call([&] { return SellBillOnThread(count); });
}

QString ComFpj::QueryFirmwareVersion() {
  return thread_->Call([this] { return QueryVersionOnThread(); });
}

bool ComFpj::OpenOnThread(const QString& portName) {
  if (!port_) {
    port_.reset(new QSerialPort);
    port_->setPortName(portName);
    deviceNode_ = DeviceNode(portName);
    if (port_->open(QIODevice::ReadWrite)) {
      ApplySettings();
    } else {
      qDebug() << "open" << portName.left(64) << "failed:" << port_->errorString().left(160);
    }
  }
  return port_->isOpen();
}

void ComFpj::ApplySettings() {
  port_->setBaudRate(QSerialPort::Baud115200, QSerialPort::AllDirections);
  port_->setDataBits(QSerialPort::Data8);
  port_->setParity(QSerialPort::NoParity);
  port_->setStopBits(QSerialPort::OneStop);
  port_->setFlowControl(QSerialPort::NoFlowControl);
}

void ComFpj::CloseOnThread() {
  if (!port_) return;
  if (port_->isOpen()) port_->close();
  port_.reset();
}

int ComFpj::PortStatusOnThread() {
  CloseIfGone();
  const bool ready = port_ && port_->isOpen() && port_->isReadable() && port_->isWritable();
  return ready ? fpj::kOk : fpj::kNoPort;
}

int ComFpj::SetCode(int code) {
  lastCode_.store(code);
  return code;
}

int ComFpj::Run(Command command, quint16 value, const char* label) {
  Exchange(command, value, label);
  return lastCode();
}

// Sends the request of `command` and reads its reply; sets the last code.
QByteArray ComFpj::Exchange(Command command, quint16 value, const char* label) {
  if (!port_ || abandoned()) {
    SetCode(fpj::kNoPort);
    return QByteArray();
  }
  WriteRequest(fpj::BuildRequest(command, value), label);
  const QByteArray reply =
      CallResult(command, fpj::TimeLimitMs(command, value), fpj::Info(command).replyLength);
  // A failed exchange leaves the port open for the next command, unless the
  // device has gone.
  CloseIfGone();
  if (port_->isOpen()) port_->clearError();
  return reply;
}

// Input left from an earlier command (a reply that came after its time
// limit, noise) is dropped first, so it cannot pass as this request's reply.
void ComFpj::WriteRequest(const QByteArray& request, const char* label) {
  qDebug().noquote() << label + QStringLiteral(":") << fpj::Hex(request);
  if (!port_->isOpen()) return;
  port_->clearError();
  port_->clear(QSerialPort::Input);
  const qint64 written = port_->write(request);
  port_->waitForBytesWritten(1000);
  qDebug().noquote() << label + QStringLiteral(" ret:") << written;
}

QByteArray ComFpj::CallResult(Command command, qint64 limitMs, int expectedLength) {
  QElapsedTimer timer;
  timer.start();
  PortSource source(*port_, deviceNode_, abandoned_);
  QByteArray reply;
  // A reply to another command (one that came after its own time limit) is
  // never taken for this one's: it is dropped and the wait goes on.
  for (qint64 left = limitMs; left > 0; left = limitMs - timer.elapsed()) {
    reply = fpj::ReadFrame(source, left);
    if (!fpj::AnswersAnotherCommand(reply, command)) break;
    qDebug().noquote() << "dropped a reply to another command:" << fpj::Hex(reply);
    reply.clear();
  }
  qDebug() << "read data cost time :" << timer.elapsed();
  qDebug().noquote() << "CallResult " << fpj::Hex(reply) << reply.size();
  const int code = fpj::EvaluateReply(reply, expectedLength);
  if (code == fpj::kOk || code == fpj::kBadChecksum) {
    qDebug() << "checkresult " << (code == fpj::kOk ? 1 : 0);
  }
  SetCode(code);
  return reply;
}

// A device that went away (unplugged, its pseudo-terminal closed) can never
// be used through this port again: close it, so PortStatus tells, and later
// commands answer -109 at once instead of waiting on a dead descriptor. The
// page gets the device back with close() and open().
void ComFpj::CloseIfGone() {
  if (!port_ || !port_->isOpen() || !DeviceGone(*port_, deviceNode_)) return;
  qDebug() << "port lost:" << port_->portName().left(64) << port_->errorString();
  port_->close();
}

int ComFpj::QueryNumOnThread() {
  const QByteArray reply = Exchange(Command::QueryNum, 0, "QueryNum");
  if (lastCode() != fpj::kOk) return lastCode();
  return fpj::TicketCount(fpj::ReplyValue16(reply));
}

int ComFpj::SellBillOnThread(quint16& count) {
  qDebug() << "sell number" << count;
  if (port_) qDebug() << "timeout" << 2 * int(count);
  const QByteArray reply = Exchange(Command::SellBill, count, "SellFp");
  const int code = lastCode();
  qDebug() << "SellFp ret" << code;
  if (code == fpj::kOk || IsDeviceStatusCode(code)) {
    count = fpj::ReplyValue16(reply);
    qDebug() << "Has Sell Number :" << count;
  }
  return code;
}

QString ComFpj::QueryVersionOnThread() {
  if (!port_) {
    SetCode(fpj::kNoPort);
    return versionText_;
  }
  const QByteArray reply = Exchange(Command::QueryFirmwareVersion, 0, "QueryFirmwareVersion");
  versionText_ = QString::fromUtf8(fpj::VersionText(reply));
  return versionText_;
}
