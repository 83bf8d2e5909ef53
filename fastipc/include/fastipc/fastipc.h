// fastipc: byte messages from any number of writer processes to one reader
// process through one named shared-memory block and two named wake-up objects.
//
// A channel named N uses three POSIX objects: the semaphores "/N_w" (a block
// has been written) and "/N_r" (the block has been released), and the shared
// memory "/N_m" holding one block of S + 116 bytes:
//
//   offset 0    int32   state   0 free, 2 claimed, 1 full
//   offset 4    int32   type    0 whole message, 1 piece (more follow), 2 last piece
//   offset 8    char[100] id    message identifier, NUL-padded (types 1 and 2)
//   offset 108  uint32  length  payload bytes in this block, at most S
//   offset 112  S bytes payload
//   offset 112+S 4 bytes spare, never written
//
// All integers are little-endian. The three names stay when a channel's
// servers close: a client that stays open (a program that opened the channel
// once) reaches every later server of that name, after a page reload or a
// restart of the shell, and a server that comes to a block left full delivers
// the message in it. Every open server also holds a read lock
// (an open-file-description lock, fcntl F_OFD_SETLK) on the one byte at offset
// 1 << 30 of "/N_m", far beyond the block; the kernel drops it when the server's
// process dies. A writer asks for that lock once per message and fails at once
// (205) when no process holds it. A program that reads a channel with its own
// code takes the same lock. This header needs only the C++ standard library.
#ifndef FASTIPC_FASTIPC_H_
#define FASTIPC_FASTIPC_H_

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>

namespace fastipc {

// Status codes returned by create and write.
enum Status : int {
  kOk = 0,
  kClientNotOpen = 101,           // Client::write: no mapped block
  kOpenWriteEventFailed = 201,    // Client::create: "N_w" missing (never created) or unusable name
  kOpenReadEventFailed = 202,     // Client::create: "N_r" missing
  kCreateWriteEventFailed = 203,  // Server::create: "N_w" could not be created, or unusable name
  kCreateReadEventFailed = 204,   // Server::create: "N_r" could not be created
  kWaitFailed = 205,              // Client::write: no reader holds the channel any more (its
                                  // process died), waiting for the released block failed, or
                                  // no reader released it within the block time-out
  kCreateMappingFailed = 301,     // Server::create: "N_m" could not be created or sized
  kOpenMappingFailed = 302,       // Client::create: "N_m" missing
  kMapViewFailed = 303,           // create: the block could not be mapped (or is too small)
};

constexpr uint32_t kIdBytes = 100;
constexpr uint32_t kBlockOverhead = 116;  // header (112) + spare (4)
constexpr int32_t kTypeWhole = 0;
constexpr int32_t kTypePiece = 1;
constexpr int32_t kTypeLastPiece = 2;

// The reader's private copy of one block. `data` holds `length` payload bytes
// followed by a zero byte and is owned by the MemBlock; copies duplicate it.
struct MemBlock {
  int32_t type;
  char id[kIdBytes];
  uint32_t length;
  char* data;

  MemBlock();
  ~MemBlock();
  MemBlock(const MemBlock& other);
  MemBlock(MemBlock&& other) noexcept;
  MemBlock& operator=(const MemBlock& other);
  MemBlock& operator=(MemBlock&& other) noexcept;

  // The identifier as text: the id bytes up to the first zero (at most 100).
  std::string idText() const;
};

// Receives every block a Server reads, on the thread running startRead. The
// block and its data live only for the call.
class ReadListener {
 public:
  virtual ~ReadListener();
  virtual void onRead(MemBlock* block);
};

// The reader side of a channel.
class Server {
 public:
  Server();
  ~Server();  // same as close()
  Server(Server&& other) noexcept;
  Server& operator=(Server&& other) noexcept;
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Creates (or joins) channel `name` with block size `size`. Returns a Status.
  int create(std::wstring name, uint32_t size);
  // Must be called before startRead.
  void setListener(ReadListener* listener);
  // Reads blocks on the calling thread until close() (from any thread, or
  // from inside the listener) or a failing wait.
  void startRead();
  // Releases everything, waking a waiting startRead. Called on another thread
  // while startRead runs, it returns once startRead has returned, after the
  // listener's current onRead (a listener must not wait for the thread that
  // closes). Called on the reading thread itself (from the listener), it
  // waits for nothing: the block being read is released and startRead returns
  // when the listener does. Safe to call twice. The channel's names stay, so
  // its clients reach the next server of that name.
  void close();
  // True while the block is mapped.
  bool isStable() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// A writer side of a channel.
class Client {
 public:
  Client();
  ~Client();  // same as close()
  Client(Client&& other) noexcept;
  Client& operator=(Client&& other) noexcept;
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // Opens the channel a server created under `name`; `size` (1 or more) must
  // not exceed the server's block size. Returns a Status. A channel whose
  // server has closed (or not come back yet) opens too, and write fails with
  // kWaitFailed until a reader is there; kOpenWriteEventFailed means no server
  // has created that channel since the system started (or its names were
  // removed).
  int create(std::wstring name, uint32_t size);
  // Sends `len` bytes as one message, cut into pieces of the block size when
  // longer. Blocks while the shared block is busy and a reader holds the
  // channel. Returns kWaitFailed at once when none does (every reader's
  // process died), and within a tenth of a second when the last one dies
  // while the write waits. Returns a Status.
  uint32_t write(const char* data, uint32_t len);
  // Limits how long write waits for the shared block: each block (each piece
  // of a message) gets at most `ms` milliseconds from the moment the writer
  // starts waiting for it. When they pass, write returns kWaitFailed; pieces
  // already sent stay sent, the client stays open, and a later write waits
  // afresh. 0 (the default) waits without limit. The setting is kept across
  // create and close and applies from the next block a write waits for.
  void setBlockTimeout(int ms);
  // True while the client is open and some server holds its channel: a reader
  // process that is alive, however slow.
  bool hasReader() const;
  // Releases the handles and the view; a write waiting on another thread
  // returns kClientNotOpen.
  void close();
  bool isStable() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Object names of a channel (the POSIX names add a leading "/").
std::wstring genServerName();                        // a fresh channel name: a new GUID text
std::wstring genServerName(std::wstring name);       // name + "_c"
std::wstring genWritedEventName(std::wstring name);  // name + "_w"
std::wstring genReadedEventName(std::wstring name);  // name + "_r"
std::wstring genMappingFileName(std::wstring name);  // name + "_m"

// Joins the pieces of messages as blocks arrive. Pieces of messages written at
// the same time by different clients are told apart by their identifier. At
// most `max_pending` unfinished messages are kept; the oldest is dropped when
// another one starts (its writer may have died).
class MessageAssembler {
 public:
  explicit MessageAssembler(size_t max_pending = 64);
  // Feeds one block. Returns true and stores the message when one is complete.
  bool add(const MemBlock& block, std::string* message);
  size_t pending() const;

 private:
  void dropOldestIfFull();
  size_t max_pending_;
  std::map<std::string, std::string> partial_;
  std::deque<std::string> order_;
};

}  // namespace fastipc

#endif  // FASTIPC_FASTIPC_H_
