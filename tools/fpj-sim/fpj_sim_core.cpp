#include "fpj_sim_core.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fpjsim {
namespace {

enum : uint8_t {
  kReset = 0x01,
  kSellBill = 0x02,
  kExitBill = 0x03,
  kSensor = 0x10,
  kQueryNum = 0x11,
  kVersion = 0x15,
  kSetHole = 0x20,
  kSetFpNum = 0x21,
  kSetRange = 0x22,
  kCutter = 0xA1,
};

constexpr uint8_t kStatusEmpty = 1;  // fewer tickets dispensed than asked

Bytes Be16(int value) { return {uint8_t((value >> 8) & 0xFF), uint8_t(value & 0xFF)}; }

int RequestValue(const Bytes& request) {
  if (request[1] == 1) return request[4];
  if (request[1] == 2) return request[4] << 8 | request[5];
  return 0;
}

bool ParseInt(const char* text, int low, int high, int& out) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 0);
  if (end == text || *end != '\0' || value < low || value > high) return false;
  out = int(value);
  return true;
}

// Takes the value of option `name` from argv[i + 1].
bool TakeInt(int argc, char** argv, int& i, int low, int high, int& out, std::string& error) {
  const std::string name = argv[i];
  if (i + 1 >= argc || !ParseInt(argv[i + 1], low, high, out)) {
    error = name + " needs a number from " + std::to_string(low) + " to " + std::to_string(high);
    return false;
  }
  ++i;
  return true;
}

bool TakeText(int argc, char** argv, int& i, std::string& out, std::string& error) {
  if (i + 1 >= argc) {
    error = std::string(argv[i]) + " needs a value";
    return false;
  }
  out = argv[++i];
  return true;
}

// Runs the command; the status and data a healthy device would send.
struct Outcome {
  uint8_t status = 0;
  Bytes data;
  int dispenseMs = 0;
};

Outcome Sell(DeviceState& state, const Options& options, int asked) {
  const int sold = std::min(asked, state.stock);
  state.stock -= sold;
  return {uint8_t(sold < asked ? kStatusEmpty : 0), Be16(sold), sold * options.ticketMs};
}

Bytes VersionBytes(const std::string& version) {
  Bytes data(6, 0);
  std::copy_n(version.begin(), std::min<size_t>(6, version.size()), data.begin());
  return data;
}

bool Execute(DeviceState& state, const Options& options, uint8_t command, int value, Outcome& out) {
  switch (command) {
    case kReset:
    case kExitBill:
      out.data = {0x00};
      return true;
    case kSellBill:
      out = Sell(state, options, value);
      return true;
    case kSensor:
      out.data = {uint8_t(options.sensor), 0x00};
      return true;
    case kQueryNum:
      out.data = Be16(state.stock);
      return true;
    case kVersion:
      out.data = VersionBytes(options.version);
      return true;
    case kSetHole:
      state.hole = value;
      return true;
    case kSetFpNum:
      state.stock = value;
      return true;
    case kSetRange:
      state.range = value;
      return true;
    case kCutter:
      return true;
    default:
      return false;
  }
}

void AddNoise(Bytes& bytes, int count) {
  for (int i = 0; i < count; ++i) bytes.push_back(uint8_t(0xA5 ^ (i * 37)));
}

}  // namespace

std::string Usage() {
  return "usage: fpj-sim [options]\n"
         "Simulates the ticket dispenser on a new pseudo-terminal. The first line\n"
         "printed is the device path a page opens with ombrix.fpj.open(path).\n"
         "\n"
         "  --stock N         tickets in stock (0-65535, default 100)\n"
         "  --ticket-ms MS    dispensing time per ticket (default 200)\n"
         "  --status S        report device status S (1-255) in every reply\n"
         "  --bad-checksum    send replies with a wrong checksum\n"
         "  --short N         leave N bytes off the end of every reply\n"
         "  --silent          never reply\n"
         "  --pieces K        send every reply in K pieces\n"
         "  --piece-gap MS    pause between pieces (default 5)\n"
         "  --noise N         send N bytes of noise after every reply\n"
         "  --delay MS        pause before every reply\n"
         "  --version TEXT    firmware version text, up to 6 bytes (default FPJ1.0)\n"
         "  --sensor FLAGS    sensor flag byte (default 0x03)\n"
         "  --log FILE        append every received frame to FILE as a hex line\n"
         "  --help            show this text\n";
}

bool ParseOptions(int argc, char** argv, Options& o, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    bool ok = true;
    if (arg == "--help")
      o.help = true;
    else if (arg == "--bad-checksum")
      o.badChecksum = true;
    else if (arg == "--silent")
      o.silent = true;
    else if (arg == "--stock")
      ok = TakeInt(argc, argv, i, 0, 65535, o.stock, error);
    else if (arg == "--ticket-ms")
      ok = TakeInt(argc, argv, i, 0, 600000, o.ticketMs, error);
    else if (arg == "--status")
      ok = TakeInt(argc, argv, i, 0, 255, o.status, error);
    else if (arg == "--short")
      ok = TakeInt(argc, argv, i, 0, 255, o.shortBy, error);
    else if (arg == "--pieces")
      ok = TakeInt(argc, argv, i, 1, 255, o.pieces, error);
    else if (arg == "--piece-gap")
      ok = TakeInt(argc, argv, i, 0, 600000, o.pieceGapMs, error);
    else if (arg == "--noise")
      ok = TakeInt(argc, argv, i, 0, 4096, o.noise, error);
    else if (arg == "--delay")
      ok = TakeInt(argc, argv, i, 0, 6000000, o.delayMs, error);
    else if (arg == "--sensor")
      ok = TakeInt(argc, argv, i, 0, 255, o.sensor, error);
    else if (arg == "--version")
      ok = TakeText(argc, argv, i, o.version, error);
    else if (arg == "--log")
      ok = TakeText(argc, argv, i, o.logPath, error);
    else {
      error = "unknown option " + arg;
      ok = false;
    }
    if (!ok) return false;
  }
  return true;
}

uint8_t Sum8(const Bytes& bytes, size_t n) {
  uint8_t sum = 0;
  for (size_t i = 0; i < n && i < bytes.size(); ++i) sum = uint8_t(sum + bytes[i]);
  return sum;
}

Bytes BuildFrame(uint8_t command, uint8_t status, const Bytes& data) {
  Bytes frame;
  frame.reserve(data.size() + 6);
  for (uint8_t byte : {uint8_t(0x02), uint8_t(data.size()), uint8_t(0x01), command, status}) {
    frame.push_back(byte);
  }
  for (uint8_t byte : data) frame.push_back(byte);
  frame.push_back(Sum8(frame, frame.size()));
  return frame;
}

bool RequestValid(const Bytes& request) {
  if (request.size() < 5 || request[0] != 0x02 || request.size() != size_t(request[1]) + 5) {
    return false;
  }
  return request.back() == Sum8(request, request.size() - 1);
}

Reply Respond(DeviceState& state, const Options& options, const Bytes& request) {
  Reply reply;
  Outcome outcome;
  if (!RequestValid(request) ||
      !Execute(state, options, request[3], RequestValue(request), outcome)) {
    return reply;
  }
  reply.dispenseMs = outcome.dispenseMs + options.delayMs;
  if (options.silent) return reply;
  const uint8_t status = options.status ? uint8_t(options.status) : outcome.status;
  reply.bytes = BuildFrame(request[3], status, outcome.data);
  if (options.badChecksum) reply.bytes.back() ^= 0x5A;
  const size_t cut = std::min<size_t>(reply.bytes.size(), size_t(options.shortBy));
  reply.bytes.resize(reply.bytes.size() - cut);
  AddNoise(reply.bytes, options.noise);
  return reply;
}

std::vector<Bytes> SplitPieces(const Bytes& bytes, int pieces) {
  std::vector<Bytes> parts;
  const size_t count = std::max<size_t>(1, std::min<size_t>(size_t(pieces), bytes.size()));
  size_t begin = 0;
  for (size_t i = 0; i < count; ++i) {
    const size_t end = bytes.size() * (i + 1) / count;
    parts.emplace_back(bytes.begin() + begin, bytes.begin() + end);
    begin = end;
  }
  return parts;
}

std::string HexLine(const Bytes& bytes) {
  std::string line;
  char cell[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(cell, sizeof cell, i ? " %02X" : "%02X", bytes[i]);
    line += cell;
  }
  return line;
}

void RequestSplitter::Feed(const uint8_t* data, size_t n) {
  pending_.insert(pending_.end(), data, data + n);
}

bool RequestSplitter::Next(Bytes& frame) {
  while (!pending_.empty()) {
    if (pending_[0] != 0x02 || (pending_.size() >= 2 && pending_[1] > 2)) {
      pending_.erase(pending_.begin());  // cannot start a request: resynchronise
      continue;
    }
    if (pending_.size() < 2 || pending_.size() < size_t(pending_[1]) + 5) return false;
    const size_t length = size_t(pending_[1]) + 5;
    frame.assign(pending_.begin(), pending_.begin() + length);
    pending_.erase(pending_.begin(), pending_.begin() + length);
    return true;
  }
  return false;
}

}  // namespace fpjsim
