// Driver of the ticket dispenser on a serial port (115200 8N1, no flow
// control). Every operation blocks its caller until the device answered or
// the command's time limit passed, and reports a result code (fpj::Code).
//
// Threading: the driver owns one QThread that owns the port; OpenPort,
// ClosePort, PortStatus and every command run on it, whichever thread calls
// them (any thread, with or without a Qt application object). Calls from
// several threads are served one after another. lastCode() reads an atomic
// and never waits.
#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <memory>

#include "device/fpj_frame.h"

class QSerialPort;

namespace fpj {
class PortThread;
}

class ComFpj {
 public:
  ComFpj();
  ~ComFpj();  // closes the port and stops the port thread

  ComFpj(const ComFpj&) = delete;
  ComFpj& operator=(const ComFpj&) = delete;

  // Creates the port object for `portName` (a device path such as
  // /dev/ttyUSB0 or /dev/pts/3; a bare name means /dev/<name>), opens it
  // read-write and applies the settings. Only the first call since
  // construction or ClosePort tries; later calls report the open state.
  bool OpenPort(const QString& portName);
  // Closes the port and discards the port object; commands then give -100
  // until the next OpenPort.
  void ClosePort();
  // 0 when the port object exists and is open, readable and writable; else
  // -100. A port whose device has gone (unplugged, hung up, its device file
  // removed) is closed here and gives -100.
  int PortStatus();

  // Commands; each returns the new last code. A command that fails (no reply,
  // a garbled one, a read error) leaves the port open for the next one; only a
  // device that has gone closes the port (see PortStatus), and the commands
  // then answer -109 at once until ClosePort and OpenPort.
  int Reset();
  int ExitBill();
  int CutterTest();
  int QuerySensorStatus();         // the sensor flags go to the debug log
  int SetRange(quint16 distance);  // compensation distance in 0.25 mm units
  int SetHoleNum(quint16 hole);    // only the low 8 bits are sent
  int SetFpNum(quint16 count);

  // Ticket count 0 .. 32767 (larger values read as 0) when the last code is
  // 0, otherwise the last code.
  int QueryNum();
  // Dispenses `count` tickets. For code 0 and the device-status codes
  // -102 .. -107, `count` becomes the number of tickets dispensed; otherwise
  // it keeps the requested value.
  int SellBill(quint16& count);
  // The firmware version text of the latest QueryFirmwareVersion that reached
  // the port (empty when the reply held none). Without a port object the last
  // code becomes -100 and the previous text is returned.
  QString QueryFirmwareVersion();

  int lastCode() const { return lastCode_.load(); }

  // Gives up whatever the running command waits for, at once and from any
  // thread: its page has gone. The command ends within a moment with no
  // reply (a reply that still comes is cleared before the next request), and
  // every later command of this object answers -100 without touching the port.
  void Abandon() { abandoned_.store(true); }
  bool abandoned() const { return abandoned_.load(); }

 private:
  // All of these run on the port thread.
  bool OpenOnThread(const QString& portName);
  void ApplySettings();
  void CloseOnThread();
  int PortStatusOnThread();
  int Run(fpj::Command command, quint16 value, const char* label);
  QByteArray Exchange(fpj::Command command, quint16 value, const char* label);
  void WriteRequest(const QByteArray& request, const char* label);
  QByteArray CallResult(fpj::Command command, qint64 limitMs, int expectedLength);
  void CloseIfGone();
  int QueryNumOnThread();
  int SellBillOnThread(quint16& count);
  QString QueryVersionOnThread();
  int SetCode(int code);

  std::atomic<int> lastCode_{0};
  std::atomic<bool> abandoned_{false};
  std::unique_ptr<QSerialPort> port_;  // used on the port thread only
  QByteArray deviceNode_;              // the device file port_ was opened from
  QString versionText_;
  std::unique_ptr<fpj::PortThread> thread_;
};
