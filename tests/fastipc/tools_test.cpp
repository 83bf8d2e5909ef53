// The command-line tools ombrix-ipc-send and ombrix-ipc-listen on real channels.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "channel_support.h"

namespace {

using namespace channel_support;

TEST(FastipcTools, ListenPrintsWholeMessagesAndStopsAfterCount) {
  const std::string channel = uniqueChannel("listen");
  Child listener = startChild({IPC_LISTEN_PATH, channel, "--count", "2"});
  ASSERT_TRUE(eventually([&] { return namesExist(channel); }));
  const std::string long_text(3000, 'q');
  ASSERT_EQ(sendText(channel, "hello world"), 0);
  ASSERT_EQ(sendText(channel, long_text), 0);
  EXPECT_EQ(readAll(listener, 10000), "hello world\n" + long_text + "\n");
  EXPECT_EQ(waitChild(&listener, 10000), 0);
}

// The channel stays for the writers that keep it open; they see no reader.
TEST(FastipcTools, ListenStopsOnSigtermAndLeavesTheChannel) {
  const std::string channel = uniqueChannel("sigterm");
  Child listener = startChild({IPC_LISTEN_PATH, channel});
  ASSERT_TRUE(eventually([&] { return namesExist(channel); }));
  fastipc::Client client;
  ASSERT_TRUE(eventually([&] { return client.create(qx::s2w(channel), kBlock) == 0; }));
  killChild(&listener, SIGTERM);
  EXPECT_EQ(waitChild(&listener, 5000), 0);
  EXPECT_TRUE(namesExist(channel));
  EXPECT_FALSE(client.hasReader());
}

// A reader that is there but takes nothing: the tool gives up after its limit.
TEST(FastipcTools, SendGivesUpOnAMessageNobodyTakesWithinItsTimeout) {
  const std::string channel = uniqueChannel("sendlimit");
  fastipc::Server server;  // created, not reading
  ASSERT_EQ(server.create(qx::s2w(channel), kBlock), 0);
  ASSERT_EQ(sendText(channel, "first"), 0);  // the free block takes it
  const auto start = steady_clock::now();
  Child sender = startChild({IPC_SEND_PATH, "--timeout", "1", channel, "second"}, true);
  const std::string said = readAll(sender, 10000);
  EXPECT_EQ(waitChild(&sender, 10000), 1);
  const auto waited = steady_clock::now() - start;
  EXPECT_GE(waited, milliseconds(1000));
  EXPECT_LT(waited, milliseconds(3000));
  EXPECT_NE(said.find("did not take the message within 1 s"), std::string::npos) << said;
}

// Another process holding the channel's object locked would keep the listener
// waiting without end; it gives up after its limit.
TEST(FastipcTools, ListenGivesUpOnAChannelHeldByAnotherProcess) {
  const std::string channel = uniqueChannel("held");
  const std::string object = "/" + channel + "_m";
  const int fd = shm_open(object.c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  const auto start = steady_clock::now();
  Child listener = startChild({IPC_LISTEN_PATH, channel, "--timeout", "1"}, true);
  const std::string said = readAll(listener, 10000);
  EXPECT_EQ(waitChild(&listener, 10000), 1);
  EXPECT_LT(steady_clock::now() - start, milliseconds(3000));
  EXPECT_NE(said.find("could not create channel " + channel + " within 1 s"), std::string::npos)
      << said;
  close(fd);
  shm_unlink(object.c_str());
}

TEST(FastipcTools, SendPrintsTheFailingStatus) {
  Child sender = startChild({IPC_SEND_PATH, uniqueChannel("nobody"), "text"});
  EXPECT_NE(readAll(sender, 10000).find("status 201"), std::string::npos);
  EXPECT_EQ(waitChild(&sender, 10000), 1);
}

}  // namespace
