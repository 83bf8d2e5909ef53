// Channel tests across real processes: the server runs in this process, the
// writers are the ombrix-ipc-send tool, a C program and a peer process.
#include <fcntl.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "channel_support.h"
#include "fastipc/fastipc.h"
#include "fastipc/qx.h"
#include "gtest/gtest.h"
#include "test_processes.h"

namespace {

using namespace channel_support;

// The raw block of a channel, mapped the way a foreign writer would.
struct RawBlock {
  RawBlock(const std::string& channel, uint32_t size) : bytes(size + fastipc::kBlockOverhead) {
    const int fd = shm_open(("/" + channel + "_m").c_str(), O_RDWR, 0);
    view = static_cast<unsigned char*>(
        mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
    close(fd);
  }
  ~RawBlock() { munmap(view, bytes); }
  int32_t state() const {
    return __atomic_load_n(reinterpret_cast<int32_t*>(view), __ATOMIC_SEQ_CST);
  }
  void put32(size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) view[offset + i] = static_cast<unsigned char>(value >> (8 * i));
  }
  size_t bytes;
  unsigned char* view;
};

// True while thread `tid` of this process is blocked (a wait, not running).
bool threadBlocked(pid_t tid) {
  if (tid == 0) return false;
  std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string line;
  std::getline(stat, line);
  const size_t end_of_name = line.rfind(')');
  return end_of_name != std::string::npos && line.compare(end_of_name, 4, ") S ") == 0;
}

// The count of the channel's write event: wakes no reader has taken yet.
int pendingWakes(const std::string& channel) {
  sem_t* sem = sem_open(("/" + channel + "_w").c_str(), 0);
  if (sem == SEM_FAILED) return -1;
  int count = -1;
  sem_getvalue(sem, &count);
  sem_close(sem);
  return count;
}

// Waits until the last block delivered carries `text`.
bool lastPayloadIs(Collector& collector, const std::string& text) {
  return eventually(
      [&] {
        const std::vector<MemBlock> blocks = collector.blocks();
        return !blocks.empty() && std::string(blocks.back().data, blocks.back().length) == text;
      },
      10000);
}

std::vector<std::string> payloads(const std::vector<MemBlock>& blocks) {
  std::vector<std::string> texts;
  for (const MemBlock& block : blocks) texts.emplace_back(block.data, block.length);
  return texts;
}

void postWriteEvent(const std::string& channel, int times) {
  sem_t* sem = sem_open(("/" + channel + "_w").c_str(), 0);
  ASSERT_NE(sem, SEM_FAILED);
  for (int i = 0; i < times; ++i) sem_post(sem);
  sem_close(sem);
}

std::string payload(const MemBlock& block) { return std::string(block.data, block.length); }

void expectPieces(const std::vector<MemBlock>& blocks, size_t first,
                  const std::vector<std::pair<int32_t, uint32_t>>& expected) {
  const std::string id = blocks[first].idText();
  for (size_t i = 0; i < expected.size(); ++i) {
    const MemBlock& block = blocks[first + i];
    EXPECT_EQ(block.type, expected[i].first) << "block " << first + i;
    EXPECT_EQ(block.length, expected[i].second) << "block " << first + i;
    EXPECT_EQ(block.data[block.length], '\0') << "block " << first + i;
    EXPECT_EQ(block.idText(), block.type == 0 ? std::string() : id);
  }
  if (blocks[first].type > 0) {
    EXPECT_EQ(id.size(), 36u);
  }
}

TEST(FastipcTransfer, MessagesAroundTheBlockSizeTravelIn1KPieces) {
  const std::string channel = uniqueChannel("sizes");
  RunningServer s(channel);
  ASSERT_EQ(s.status, 0);
  ASSERT_EQ(sendText(channel, std::string(kBlock, 'a')), 0);
  ASSERT_EQ(sendText(channel, std::string(kBlock + 1, 'b')), 0);
  ASSERT_EQ(sendText(channel, std::string(2 * kBlock, 'c')), 0);
  ASSERT_EQ(sendText(channel, ""), 0);
  ASSERT_TRUE(s.collector.waitFor(6));
  const std::vector<MemBlock> blocks = s.collector.blocks();
  ASSERT_EQ(blocks.size(), 6u);
  expectPieces(blocks, 0, {{0, kBlock}});
  expectPieces(blocks, 1, {{1, kBlock}, {2, 1}});
  expectPieces(blocks, 3, {{1, kBlock}, {2, kBlock}});
  expectPieces(blocks, 5, {{0, 0}});
  EXPECT_EQ(payload(blocks[0]), std::string(kBlock, 'a'));
  EXPECT_EQ(payload(blocks[1]) + payload(blocks[2]), std::string(kBlock + 1, 'b'));
  EXPECT_NE(blocks[1].idText(), blocks[3].idText());
}

TEST(FastipcTransfer, LongMessageArrivesInBlockSizedPieces) {
  const std::string channel = uniqueChannel("long");
  RunningServer s(channel);
  ASSERT_EQ(s.status, 0);
  std::string text;
  for (int i = 0; i < 3000; ++i) text += static_cast<char>('a' + i % 26);
  ASSERT_EQ(sendText(channel, text), 0);
  ASSERT_TRUE(s.collector.waitFor(3));
  const std::vector<MemBlock> blocks = s.collector.blocks();
  ASSERT_EQ(blocks.size(), 3u);
  expectPieces(blocks, 0, {{1, 1024}, {1, 1024}, {2, 952}});
  EXPECT_EQ(payload(blocks[0]) + payload(blocks[1]) + payload(blocks[2]), text);
}

TEST(FastipcTransfer, ConcurrentClientsAreToldApartByIdentifier) {
  const std::string channel = uniqueChannel("many");
  RunningServer s(channel);
  ASSERT_EQ(s.status, 0);
  const std::string fills = "abcd";
  std::vector<Child> peers;
  for (char fill : fills) {
    peers.push_back(
        startChild({TEST_PEER_PATH, "send", channel, "3000", "3", std::string(1, fill)}));
  }
  for (Child& peer : peers) EXPECT_EQ(waitChild(&peer, 20000), 0);
  ASSERT_TRUE(s.collector.waitFor(4 * 3 * 3));

  fastipc::MessageAssembler assembler;
  std::map<char, int> messages;
  std::map<std::string, int> pieces_seen;
  for (const MemBlock& block : s.collector.blocks()) {
    const int index = pieces_seen[block.idText()]++;
    EXPECT_EQ(block.type, index < 2 ? 1 : 2);  // each message's pieces arrive in order
    std::string message;
    if (!assembler.add(block, &message)) continue;
    ASSERT_EQ(message.size(), 3000u);
    EXPECT_EQ(message, std::string(3000, message[0]));
    ++messages[message[0]];
  }
  EXPECT_EQ(pieces_seen.size(), 12u);
  for (char fill : fills) EXPECT_EQ(messages[fill], 3) << fill;
  EXPECT_EQ(assembler.pending(), 0u);
}

TEST(FastipcTransfer, CProgramWritesThroughTheCInterface) {
  const std::string channel = uniqueChannel("c");
  RunningServer s(channel);
  ASSERT_EQ(s.status, 0);
  ASSERT_EQ(runChild({C_PEER_PATH, channel, "from C"}), 0);
  ASSERT_TRUE(s.collector.waitFor(1));
  EXPECT_EQ(payload(s.collector.blocks()[0]), "from C");
}

TEST(FastipcReader, StaleWakesDeliverNothing) {
  const std::string channel = uniqueChannel("stalewake");
  RunningServer s(channel);
  ASSERT_EQ(s.status, 0);
  postWriteEvent(channel, 5);  // a semaphore keeps every post, unlike an event
  // Once the reader has taken every stale wake, anything they delivered comes
  // before the two real messages.
  ASSERT_TRUE(eventually([&] { return pendingWakes(channel) == 0; }));
  ASSERT_EQ(sendText(channel, "real"), 0);
  ASSERT_EQ(sendText(channel, "marker"), 0);
  ASSERT_TRUE(lastPayloadIs(s.collector, "marker"));
  EXPECT_EQ(payloads(s.collector.blocks()), (std::vector<std::string>{"real", "marker"}));
}

TEST(FastipcReader, LengthBeyondTheBlockSizeIsCutToIt) {
  const std::string channel = uniqueChannel("oversize");
  constexpr uint32_t kSmall = 64;
  RunningServer s(channel, kSmall);
  ASSERT_EQ(s.status, 0);
  RawBlock raw(channel, kSmall);
  for (uint32_t length : {0xFFFFFFFFu, kSmall + 1}) {
    const size_t before = s.collector.blocks().size();
    std::memset(raw.view + 112, 'z', kSmall);
    raw.put32(4, 0);
    raw.put32(108, length);
    __atomic_store_n(reinterpret_cast<int32_t*>(raw.view), 1, __ATOMIC_SEQ_CST);
    postWriteEvent(channel, 1);
    ASSERT_TRUE(s.collector.waitFor(before + 1));
    const MemBlock block = s.collector.blocks().back();
    EXPECT_EQ(block.length, kSmall);
    EXPECT_EQ(payload(block), std::string(kSmall, 'z'));
    EXPECT_EQ(block.data[kSmall], '\0');
    EXPECT_TRUE(eventually([&] { return raw.state() == 0; }));  // released as usual
  }
}

TEST(FastipcReader, ListenerFailureCostsOnlyItsBlock) {
  const std::string channel = uniqueChannel("throw");
  RunningServer s(channel);
  ASSERT_EQ(s.status, 0);
  s.collector.on_block_ = [](size_t count) {
    if (count == 1) throw std::runtime_error("listener failure");
  };
  ASSERT_EQ(sendText(channel, "first"), 0);
  ASSERT_EQ(sendText(channel, "second"), 0);
  ASSERT_TRUE(s.collector.waitFor(2));
  EXPECT_EQ(payload(s.collector.blocks()[1]), "second");
}

// A listener that closes its own server (a peer's "quit") is not waited for:
// close and startRead return, and the block goes back for the next server.
TEST(FastipcReader, ListenerMayCloseItsServerWithoutWaitingForItself) {
  const std::string channel = uniqueChannel("selfclose");
  struct Reader {
    fastipc::Server server;
    Collector collector;
    std::promise<void> closed;
    std::promise<void> ended;
  };
  auto r = std::make_shared<Reader>();
  ASSERT_EQ(r->server.create(qx::s2w(channel), kBlock), 0);
  r->collector.on_block_ = [reader = r.get()](size_t) {
    reader->server.close();
    reader->closed.set_value();
  };
  r->server.setListener(&r->collector);
  std::future<void> closed = r->closed.get_future();
  std::future<void> ended = r->ended.get_future();
  std::thread reader([r] {
    r->server.startRead();
    r->ended.set_value();
  });
  const int sent = sendText(channel, "quit");
  const bool returned = closed.wait_for(std::chrono::seconds(10)) == std::future_status::ready &&
                        ended.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  if (returned) {
    reader.join();
  } else {
    reader.detach();  // deadlocked: left behind, it holds its own objects
  }
  ASSERT_EQ(sent, 0);
  ASSERT_TRUE(returned) << "close() from the listener waited for its own thread";
  EXPECT_FALSE(r->server.isStable());
  RunningServer next(channel);
  ASSERT_EQ(next.status, 0);
  ASSERT_EQ(sendText(channel, "again"), 0);
  ASSERT_TRUE(lastPayloadIs(next.collector, "again"));
}

TEST(FastipcLifecycle, CloseWakesAWaitingReaderAndMayBeRepeated) {
  const std::string channel = uniqueChannel("close");
  RunningServer s(channel);
  ASSERT_EQ(s.status, 0);
  EXPECT_TRUE(s.server.isStable());
  EXPECT_TRUE(namesExist(channel));
  ASSERT_TRUE(eventually([&] { return threadBlocked(s.reader_tid); }));  // waiting for a block
  const auto start = steady_clock::now();
  s.server.close();
  s.reader.join();
  EXPECT_LT(steady_clock::now() - start, milliseconds(1000));
  s.server.close();
  EXPECT_FALSE(s.server.isStable());
  EXPECT_TRUE(namesExist(channel));  // for the channel's next server
  s.server.startRead();              // returns at once on a closed server
}

TEST(FastipcLifecycle, ClientStatuses) {
  const std::string channel = uniqueChannel("client");
  fastipc::Client client;
  EXPECT_EQ(client.write("x", 1), 101u);
  EXPECT_EQ(client.create(qx::s2w(channel), kBlock), 201);
  EXPECT_EQ(client.write("x", 1), 101u);
  EXPECT_FALSE(client.isStable());

  RunningServer s(channel);
  ASSERT_EQ(s.status, 0);
  EXPECT_EQ(client.create(qx::s2w(channel), kBlock + 1), 303);  // longer than the server's block
  EXPECT_EQ(client.create(qx::s2w(channel), 0), 303);           // no room for payload
  ASSERT_EQ(client.create(qx::s2w(channel), kBlock), 0);
  EXPECT_TRUE(client.isStable());
  EXPECT_EQ(client.write("ok", 2), 0u);
  client.close();
  client.close();
  EXPECT_EQ(client.write("x", 1), 101u);
  ASSERT_TRUE(s.collector.waitFor(1));
  EXPECT_EQ(s.collector.blocks().size(), 1u);
}

TEST(FastipcLifecycle, UnusableChannelNamesGiveAStatus) {
  const std::wstring bad[] = {L"a/b", std::wstring(300, L'x'), std::wstring(L"nul\0name", 8),
                              std::wstring(1, static_cast<wchar_t>(0xD800)),
                              std::wstring(1, static_cast<wchar_t>(0x110000))};
  for (const std::wstring& name : bad) {
    fastipc::Server server;
    EXPECT_EQ(server.create(name, kBlock), 203);
    EXPECT_FALSE(server.isStable());
    fastipc::Client client;
    EXPECT_EQ(client.create(name, kBlock), 201);
  }
  // A semaphore's file is "sem." + the name + "_w": a name holds at most 249 bytes.
  std::string longest = "fastipc-test-" + std::to_string(getpid()) + "-";
  longest.resize(250, 'x');
  EXPECT_EQ(fastipc::Server().create(qx::s2w(longest), kBlock), 203);
  longest.pop_back();
  // Non-ASCII names are ordinary channels; the empty name is "_w", "_r", "_m".
  for (const std::string& channel : {uniqueChannel("通道-é"), longest, std::string()}) {
    RunningServer s(channel);
    ASSERT_EQ(s.status, 0) << channel;
    ASSERT_EQ(sendText(channel, "named"), 0) << channel;
    ASSERT_TRUE(s.collector.waitFor(1));
  }
  removeChannelNames(longest);
  removeChannelNames("");
}

TEST(FastipcLifecycle, WriterKilledMidBlockLeavesAClosableReader) {
  const std::string channel = uniqueChannel("deadwriter");
  {
    RunningServer s(channel);
    ASSERT_EQ(s.status, 0);
    Child claimer = startChild({TEST_PEER_PATH, "claim", channel});
    ASSERT_EQ(readLine(claimer, 10000), "ready");
    killChild(&claimer, SIGKILL);
    const auto start = steady_clock::now();
    s.stop();
    EXPECT_LT(steady_clock::now() - start, milliseconds(1000));
    EXPECT_TRUE(s.collector.blocks().empty());
  }
  RunningServer next(channel);  // a new server frees the claim once it has stood still
  ASSERT_EQ(next.status, 0);
  ASSERT_EQ(sendText(channel, "again"), 0);
  ASSERT_TRUE(next.collector.waitFor(1));
}

// A writer killed while it holds the block stalls the channel only for a
// while: the reader frees a block left claimed and unchanged for 5 s.
TEST(FastipcLifecycle, BlockOfAWriterKilledMidBlockIsFreedForTheNextWriter) {
  const std::string channel = uniqueChannel("stuck");
  RunningServer s(channel);
  ASSERT_EQ(s.status, 0);
  Child claimer = startChild({TEST_PEER_PATH, "claim", channel});
  ASSERT_EQ(readLine(claimer, 10000), "ready");
  killChild(&claimer, SIGKILL);
  const auto start = steady_clock::now();
  // Waits until the block is freed (longer than the tool's own 5 s limit).
  ASSERT_EQ(runChild({IPC_SEND_PATH, "--timeout", "20", channel, "after"}), 0);
  EXPECT_GE(steady_clock::now() - start, milliseconds(4000));
  ASSERT_TRUE(lastPayloadIs(s.collector, "after"));
}

TEST(FastipcLifecycle, StaleChannelOfAKilledServerDoesNotBreakTheNext) {
  const std::string channel = uniqueChannel("deadserver");
  Child dead = startChild({TEST_PEER_PATH, "serve", channel});
  ASSERT_EQ(readLine(dead, 10000), "ready");
  killChild(&dead, SIGKILL);
  ASSERT_TRUE(namesExist(channel));
  postWriteEvent(channel, 3);  // wakes nobody took
  {
    RunningServer s(channel);
    ASSERT_EQ(s.status, 0);
    // The new reader has taken the stale wakes before the two real messages.
    ASSERT_TRUE(eventually([&] { return pendingWakes(channel) == 0; }));
    ASSERT_EQ(sendText(channel, "fresh"), 0);
    ASSERT_EQ(sendText(channel, "marker"), 0);
    ASSERT_TRUE(lastPayloadIs(s.collector, "marker"));
    EXPECT_EQ(payloads(s.collector.blocks()), (std::vector<std::string>{"fresh", "marker"}));
  }
}

// A reader killed with SIGKILL leaves its channel's names behind; every send
// to it, the first included, fails at once with 205 instead of handing over a
// message nobody reads or waiting for a block nobody frees. The client stays
// open and reaches a reader that comes back.
TEST(FastipcLifecycle, SendToAKilledReaderFailsAtOnceAndTheClientReachesTheNext) {
  const std::string channel = uniqueChannel("deadreader");
  Child dead = startChild({TEST_PEER_PATH, "serve", channel});
  ASSERT_EQ(readLine(dead, 10000), "ready");
  fastipc::Client client;
  ASSERT_EQ(client.create(qx::s2w(channel), kBlock), 0);
  EXPECT_TRUE(client.hasReader());
  killChild(&dead, SIGKILL);  // returns once the process is gone
  EXPECT_FALSE(client.hasReader());
  for (int i = 0; i < 2; ++i) {
    const auto start = steady_clock::now();
    EXPECT_EQ(client.write("lost", 4), 205u) << "send " << i;
    EXPECT_LT(steady_clock::now() - start, milliseconds(500)) << "send " << i;
  }
  const auto start = steady_clock::now();
  Child sender = startChild({IPC_SEND_PATH, "--timeout", "1", channel, "lost"}, true);
  const std::string said = readAll(sender, 10000);
  EXPECT_EQ(waitChild(&sender, 10000), 1);
  EXPECT_LT(steady_clock::now() - start, milliseconds(2000));
  EXPECT_NE(said.find("no reader is listening on channel " + channel), std::string::npos) << said;

  RunningServer back(channel);
  ASSERT_EQ(back.status, 0);
  EXPECT_EQ(client.write("again", 5), 0u);
  ASSERT_TRUE(back.collector.waitFor(1));
  EXPECT_EQ(payload(back.collector.blocks()[0]), "again");
}

TEST(FastipcLifecycle, JoiningServerKeepsTheLiveBlockAndTheNamesStay) {
  const std::string channel = uniqueChannel("join");
  auto first = std::make_unique<RunningServer>(channel);
  ASSERT_EQ(first->status, 0);
  Child claimer = startChild({TEST_PEER_PATH, "claim", channel});
  ASSERT_EQ(readLine(claimer, 10000), "ready");
  fastipc::Server second;
  ASSERT_EQ(second.create(qx::s2w(channel), kBlock), 0);
  EXPECT_EQ(RawBlock(channel, kBlock).state(), 2);  // the writer's claim survives
  killChild(&claimer, SIGKILL);
  first.reset();
  EXPECT_TRUE(namesExist(channel));
  second.close();
  EXPECT_TRUE(namesExist(channel));
}

// A channel outlives its servers: a client opened once reaches every later
// server of the name (a page reloaded, the shell restarted), and a message
// that reached the block as its reader went waits there for the next one.
TEST(FastipcLifecycle, ClientOpenedOnceReachesEveryLaterServer) {
  const std::string channel = uniqueChannel("reopen");
  fastipc::Client client;
  {
    RunningServer first(channel);
    ASSERT_EQ(first.status, 0);
    ASSERT_EQ(client.create(qx::s2w(channel), kBlock), 0);
    EXPECT_EQ(client.write("one", 3), 0u);
    ASSERT_TRUE(first.collector.waitFor(1));
  }
  EXPECT_FALSE(client.hasReader());
  EXPECT_EQ(client.write("nobody", 6), 205u);  // refused at once, not left in the block
  {
    RunningServer second(channel);
    ASSERT_EQ(second.status, 0);
    EXPECT_TRUE(client.hasReader());
    EXPECT_EQ(client.write("two", 3), 0u);
    ASSERT_TRUE(lastPayloadIs(second.collector, "two"));
  }
  {
    // Written by a writer that saw the reader a moment before it closed.
    RawBlock raw(channel, kBlock);
    std::memcpy(raw.view + 112, "left", 4);
    raw.put32(4, 0);
    raw.put32(108, 4);
    __atomic_store_n(reinterpret_cast<int32_t*>(raw.view), 1, __ATOMIC_SEQ_CST);
  }
  RunningServer third(channel);
  ASSERT_EQ(third.status, 0);
  EXPECT_EQ(client.write("three", 5), 0u);
  ASSERT_TRUE(lastPayloadIs(third.collector, "three"));
  EXPECT_EQ(payloads(third.collector.blocks()), (std::vector<std::string>{"left", "three"}));
}

TEST(FastipcLifecycle, ClientCloseReleasesAWriterWaitingOnAnotherThread) {
  const std::string channel = uniqueChannel("busy");
  RunningServer s(channel);
  ASSERT_EQ(s.status, 0);
  Child claimer = startChild({TEST_PEER_PATH, "claim", channel});
  ASSERT_EQ(readLine(claimer, 10000), "ready");
  fastipc::Client client;
  ASSERT_EQ(client.create(qx::s2w(channel), kBlock), 0);
  uint32_t status = 0;
  std::atomic<pid_t> writer_tid{0};
  std::thread writer([&] {
    writer_tid = gettid();
    status = client.write("blocked", 7);
  });
  EXPECT_TRUE(eventually([&] { return threadBlocked(writer_tid); }));  // waiting for the block
  const auto start = steady_clock::now();
  client.close();
  writer.join();
  EXPECT_LT(steady_clock::now() - start, milliseconds(1000));
  EXPECT_EQ(status, 101u);
  killChild(&claimer, SIGKILL);
}

// With a block time-out, a block nobody takes fails the write (205) instead of
// blocking it; the limit is per block, so a slow reader that takes every block
// in time gets a long message whole, and the client keeps working throughout.
TEST(FastipcLifecycle, BlockTimeoutGivesUpOnABlockNobodyTakesAndKeepsTheClient) {
  const std::string channel = uniqueChannel("timeout");
  fastipc::Server server;  // created, not reading yet
  ASSERT_EQ(server.create(qx::s2w(channel), kBlock), 0);
  Collector collector;
  server.setListener(&collector);
  fastipc::Client client;
  ASSERT_EQ(client.create(qx::s2w(channel), kBlock), 0);
  client.setBlockTimeout(1500);
  ASSERT_EQ(client.write("first", 5), 0u);  // the free block takes it
  const auto start = steady_clock::now();
  EXPECT_EQ(client.write("second", 6), 205u);
  const auto waited = steady_clock::now() - start;
  EXPECT_GE(waited, milliseconds(1500));
  EXPECT_LT(waited, milliseconds(5000));
  EXPECT_TRUE(client.isStable());

  // A reader that needs a fifth of the limit for each block: the message takes
  // longer than the limit, each block far less.
  collector.on_block_ = [](size_t) { std::this_thread::sleep_for(milliseconds(300)); };
  std::thread reader([&] { server.startRead(); });
  std::string text;
  for (int i = 0; i < 8 * static_cast<int>(kBlock); ++i) text += static_cast<char>('a' + i % 26);
  EXPECT_EQ(client.write(text.data(), static_cast<uint32_t>(text.size())), 0u);
  EXPECT_TRUE(collector.waitFor(9));
  server.close();
  reader.join();
  const std::vector<MemBlock> blocks = collector.blocks();
  ASSERT_EQ(blocks.size(), 9u);
  EXPECT_EQ(payload(blocks[0]), "first");
  std::string joined;
  for (size_t i = 1; i < blocks.size(); ++i) joined += payload(blocks[i]);
  EXPECT_EQ(joined, text);
}

}  // namespace
