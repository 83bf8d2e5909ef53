// The dispenser simulator's protocol side: option parsing, request framing
// and reply building. Pure functions over byte vectors, no I/O, so tests can
// build device replies with them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fpjsim {

using Bytes = std::vector<uint8_t>;

struct Options {
  int stock = 100;                 // tickets in the dispenser
  int ticketMs = 200;              // dispensing time per ticket
  int status = 0;                  // status byte forced into every reply (0: the device's own)
  bool badChecksum = false;        // send a wrong checksum
  int shortBy = 0;                 // leave this many bytes off the end of each reply
  bool silent = false;             // never reply
  int pieces = 1;                  // send each reply in this many pieces
  int pieceGapMs = 5;              // pause between pieces
  int noise = 0;                   // bytes of noise after each reply
  int delayMs = 0;                 // pause before each reply
  std::string version = "FPJ1.0";  // firmware version text (up to 6 bytes)
  int sensor = 0x03;               // sensor flag byte
  std::string logPath;             // file that records received frames as hex lines
  bool help = false;
};

// Parses the command line; false with `error` set for a bad option.
bool ParseOptions(int argc, char** argv, Options& options, std::string& error);
std::string Usage();

// What the simulated device remembers between commands.
struct DeviceState {
  int stock = 0;
  int hole = 0;
  int range = 0;
};

struct Reply {
  Bytes bytes;         // what goes on the wire (may be empty, short, noisy)
  int dispenseMs = 0;  // time the mechanics take before the reply
};

uint8_t Sum8(const Bytes& bytes, size_t n);

// A reply frame: 02, data count, 01, command, status, data, checksum.
Bytes BuildFrame(uint8_t command, uint8_t status, const Bytes& data);

// True when `request` is a whole, correctly summed request frame.
bool RequestValid(const Bytes& request);

// Runs one request against the device and shapes the reply as the options ask.
// Unknown commands and bad request frames get no reply.
Reply Respond(DeviceState& state, const Options& options, const Bytes& request);

// `bytes` cut into `pieces` parts of nearly equal size (none empty).
std::vector<Bytes> SplitPieces(const Bytes& bytes, int pieces);

std::string HexLine(const Bytes& bytes);  // "02 00 01 11 14"

// Cuts a byte stream into request frames: 02, count N (0 .. 2), then N + 3
// more bytes. Bytes that cannot start a frame are skipped.
class RequestSplitter {
 public:
  void Feed(const uint8_t* data, size_t n);
  bool Next(Bytes& frame);

 private:
  Bytes pending_;
};

}  // namespace fpjsim
