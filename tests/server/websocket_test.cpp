#include "server/websocket.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <thread>

#include "support/helper_process.h"
#include "support/replies.h"
#include "support/ws_client.h"

namespace {

std::string bytes(std::initializer_list<int> values) {
  std::string out;
  for (int value : values) out.push_back(static_cast<char>(value));
  return out;
}

// A hello command followed by blanks up to `length` bytes.
std::string padded_hello(size_t length) {
  std::string text = R"({"cmd":"hello"})";
  text.resize(length, ' ');
  return text;
}

std::string pattern(size_t length) {
  std::string out(length, '\0');
  for (size_t i = 0; i < length; ++i) out[i] = static_cast<char>(i * 7 + 3);
  return out;
}

// send_frame's output, read from the other end of a socket pair.
std::string sent_frame(int opcode, const std::string& payload) {
  int ends[2];
  EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
  ConnectionSlot& slot = slots[0];  // a slot of the table, which has a send queue
  slot.fd = ends[0];
  std::string received;
  std::thread reader([&] {
    char chunk[65536];
    ssize_t got;
    while ((got = read(ends[1], chunk, sizeof chunk)) > 0) received.append(chunk, got);
  });
  send_frame(slot, opcode, payload.data(), payload.size());
  close_slot(slot, "test");
  reader.join();
  close(ends[1]);
  return received;
}

TEST(SendFrame, HeaderSizeFollowsPayloadLength) {
  EXPECT_EQ(sent_frame(1, ""), bytes({0x81, 0x00}));
  EXPECT_EQ(sent_frame(1, pattern(125)), bytes({0x81, 0x7D}) + pattern(125));
  EXPECT_EQ(sent_frame(1, pattern(126)), bytes({0x81, 0x7E, 0x00, 0x7E}) + pattern(126));
  EXPECT_EQ(sent_frame(1, pattern(65535)), bytes({0x81, 0x7E, 0xFF, 0xFF}) + pattern(65535));
  EXPECT_EQ(sent_frame(1, pattern(65536)),
            bytes({0x81, 0x7F, 0, 0, 0, 0, 0, 1, 0, 0}) + pattern(65536));
  EXPECT_EQ(sent_frame(10, "abc"), bytes({0x8A, 0x03}) + "abc");
}

TEST(SendFrame, FailedWriteIsSilentAndLeavesTheSlotAlone) {
  signal(SIGPIPE, SIG_IGN);  // as the helper does
  int ends[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
  close(ends[1]);
  ConnectionSlot& slot = slots[0];
  slot.fd = ends[0];
  slot.upgraded = 1;
  send_frame(slot, 1, "x", 1);
  EXPECT_EQ(slot.fd, ends[0]);
  EXPECT_EQ(slot.upgraded, 1);
  clear_slot(slot);
  close(ends[0]);
}

// A page connected to the real helper.
class Framing : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(start_on_free_port(helper)) << helper.output;
    ASSERT_TRUE(ws_connect(page, helper.port)) << page.handshake;
    ASSERT_TRUE(wait_for_output(helper, "Connected to https://tamberline.com (slot 1).\n", 2000));
  }

  // Disconnects logged so far; beyond four a second they come as one summary when it is over.
  size_t disconnect_lines() {
    const std::string line = "Page disconnected (closed): https://tamberline.com, slot ";
    const std::string summary = " ... repeated ";
    size_t count = 0;
    for (const std::string& message : log_messages(helper)) {
      if (!message.starts_with(line)) continue;
      size_t repeats = message.rfind(summary);
      count +=
          repeats == std::string::npos ? 1 : std::stoul(message.substr(repeats + summary.size()));
    }
    return count;
  }

  // The helper ended the connection without a close frame (or any other byte) and logged it.
  void expect_dropped(WsClient& client, size_t drops_before = 0) {
    EXPECT_TRUE(ws_closed_within(client, 2000));
    for (int waited = 0; disconnect_lines() <= drops_before && waited < 2000; waited += 20)
      wait_for_output(helper, "\x01never\x01", 20);  // reads output for 20 ms
    EXPECT_EQ(disconnect_lines(), drops_before + 1);
  }

  // The helper answers a ping, so the connection is still served.
  void expect_alive(WsClient& client) {
    ASSERT_TRUE(ws_send(client, ping_frame("alive?")));
    EXPECT_EQ(ws_read_raw(client, 2000, 8),
              "\x8a\x06"
              "alive?");
  }

  HelperProcess helper;
  WsClient page;
};

TEST_F(Framing, PingIsAnsweredWithTheExactPong) {
  ASSERT_TRUE(ws_send(page, ping_frame("abc")));
  EXPECT_EQ(ws_read_raw(page, 2000, 5), bytes({0x8A, 0x03}) + "abc");

  ASSERT_TRUE(ws_send(page, ping_frame(pattern(125))));
  EXPECT_EQ(ws_read_raw(page, 2000, 127), bytes({0x8A, 0x7D}) + pattern(125));

  ASSERT_TRUE(ws_send(page, ping_frame("")));
  EXPECT_EQ(ws_read_raw(page, 2000, 2), bytes({0x8A, 0x00}));
  EXPECT_EQ(ws_read_raw(page, 150), "");
}

TEST_F(Framing, SixteenBitLengthIsAcceptedForShortPayloads) {
  FrameShape wide;
  wide.length_bits = 16;
  ASSERT_TRUE(ws_send(page, client_frame(0x89, "hello", wide)));
  EXPECT_EQ(ws_read_raw(page, 2000, 7), bytes({0x8A, 0x05}) + "hello");
}

// Payloads above 125 bytes come in text frames: a hello command padded with blanks.
TEST_F(Framing, LargestPayloadIs4080Bytes) {
  ASSERT_TRUE(ws_send(page, text_frame(padded_hello(4080))));
  ServerFrame reply;
  ASSERT_TRUE(ws_read_frame(page, reply));
  EXPECT_EQ(reply.payload, hello_reply(helper.port));

  // 4081 ends the connection as soon as the length is in, before any payload.
  ASSERT_TRUE(ws_send(page, client_frame(0x81, padded_hello(4081)).substr(0, 4)));
  expect_dropped(page);
}

TEST_F(Framing, TwoLargestFramesBackToBack) {
  ASSERT_TRUE(ws_send(page, text_frame(padded_hello(4080)) + text_frame(padded_hello(4079))));
  for (int i = 0; i < 2; ++i) {
    ServerFrame reply;
    ASSERT_TRUE(ws_read_frame(page, reply));
    EXPECT_EQ(reply.payload, hello_reply(helper.port));
  }
  expect_alive(page);
}

TEST_F(Framing, LengthCode127IsRefusedAtOnce) {
  FrameShape long_form;
  long_form.length_bits = 64;
  ASSERT_TRUE(ws_send(page, client_frame(0x89, "abc", long_form).substr(0, 2)));
  expect_dropped(page);
}

TEST_F(Framing, UnmaskedFrameIsRefused) {
  FrameShape bare;
  bare.masked = false;
  ASSERT_TRUE(ws_send(page, client_frame(0x89, "abc", bare)));
  expect_dropped(page);
}

TEST_F(Framing, FrameSplitAcrossReadsIsHandledWhenComplete) {
  std::string frame = text_frame(padded_hello(300));  // 4-byte header, key, payload
  ASSERT_TRUE(ws_send(page, frame.substr(0, 1)));     // one byte: nothing happens
  bool closed = false;
  EXPECT_EQ(ws_read_raw(page, 150, 0, &closed), "");
  ASSERT_FALSE(closed);
  ASSERT_TRUE(ws_send(page, frame.substr(1, 2)));  // length half there
  EXPECT_EQ(ws_read_raw(page, 150), "");
  ASSERT_TRUE(ws_send(page, frame.substr(3, 200)));
  EXPECT_EQ(ws_read_raw(page, 150), "");
  ASSERT_TRUE(ws_send(page, frame.substr(203)));
  ServerFrame reply;
  ASSERT_TRUE(ws_read_frame(page, reply));
  EXPECT_EQ(reply.payload, hello_reply(helper.port));
}

TEST_F(Framing, EveryFrameOfOneReadIsHandledInOrder) {
  std::string pong = client_frame(0x8A, "ignored");
  ASSERT_TRUE(ws_send(page, ping_frame("one") + pong + ping_frame("two") + ping_frame("3")));
  EXPECT_EQ(ws_read_raw(page, 2000, 13),
            "\x8a\x03one\x8a\x03two\x8a\x01"
            "3");
  EXPECT_EQ(ws_read_raw(page, 150), "");
}

TEST_F(Framing, PongChangesNothing) {
  ASSERT_TRUE(ws_send(page, client_frame(0x8A, "")));
  ASSERT_TRUE(ws_send(page, client_frame(0x8A, pattern(125))));
  EXPECT_EQ(ws_read_raw(page, 200), "");
  expect_alive(page);
}

TEST_F(Framing, RsvBitsAreIgnored) {
  ASSERT_TRUE(ws_send(page, client_frame(0xF9, "rsv")));  // FIN, RSV1-3, ping
  EXPECT_EQ(ws_read_raw(page, 2000, 5), "\x8a\x03rsv");
}

TEST_F(Framing, CloseIsAnsweredThenTheConnectionEnds) {
  // Frames behind the close frame in the same read are never answered.
  ASSERT_TRUE(ws_send(page, close_frame(1000, "bye") + ping_frame("after")));
  bool closed = false;
  EXPECT_EQ(ws_read_raw(page, 2000, 0, &closed), bytes({0x88, 0x00}));
  EXPECT_TRUE(closed);
  EXPECT_TRUE(wait_for_output(
      helper, "Page disconnected (closed): https://tamberline.com, slot 1.\n", 2000));
}

TEST_F(Framing, CloseWithoutStatusGetsTheSameAnswer) {
  ASSERT_TRUE(ws_send(page, close_frame()));
  bool closed = false;
  EXPECT_EQ(ws_read_raw(page, 2000, 0, &closed), bytes({0x88, 0x00}));
  EXPECT_TRUE(closed);
}

TEST_F(Framing, DataFramesOutsideSingleTextFramesAreRefused) {
  // Text without FIN, continuation, binary, reserved data and control opcodes.
  const int first_bytes[] = {0x01, 0x80, 0x00, 0x82, 0x83, 0x87, 0x8B, 0x8F};
  size_t drops = 0;
  for (int first_byte : first_bytes) {
    WsClient client;
    ASSERT_TRUE(ws_connect(client, helper.port)) << first_byte;
    ASSERT_TRUE(ws_send(client, client_frame(static_cast<uint8_t>(first_byte), "{}")));
    SCOPED_TRACE(first_byte);
    expect_dropped(client, drops++);
  }
  expect_alive(page);
}

// RFC 6455 section 5.5: a control frame carries at most 125 bytes and is never fragmented. One
// that breaks this ends the connection like any bad frame, with no pong nor close reply.
TEST_F(Framing, OversizedOrFragmentedControlFramesAreRefused) {
  const std::string frames[] = {ping_frame(pattern(126)),         client_frame(0x09, "p"),
                                client_frame(0x8A, pattern(126)), client_frame(0x0A, "p"),
                                client_frame(0x08, ""),           client_frame(0x88, pattern(126))};
  size_t drops = 0;
  for (const std::string& frame : frames) {
    SCOPED_TRACE(drops);
    WsClient client;
    ASSERT_TRUE(ws_connect(client, helper.port));
    ASSERT_TRUE(ws_send(client, frame));
    expect_dropped(client, drops++);
  }
  expect_alive(page);
}

TEST_F(Framing, TextFrameGoesToTheDispatcher) {
  std::string reply = ws_command(page, R"({"cmd":"hello"})");
  EXPECT_TRUE(reply.starts_with(R"({"type":"hello",)")) << reply;

  // The 16-bit form and the largest payload, padded after the command.
  std::string large = R"({"cmd":"stop","pad":")";
  large += std::string(4080 - large.size() - 2, 'p') + "\"}";
  ASSERT_EQ(large.size(), 4080u);
  EXPECT_EQ(ws_command(page, large), R"({"type":"stopped"})");

  // RSV bits play no part.
  ASSERT_TRUE(ws_send(page, client_frame(0xF1, R"({"cmd":"stop"})")));
  ServerFrame frame;
  ASSERT_TRUE(ws_read_frame(page, frame));
  EXPECT_EQ(frame.raw,
            "\x81\x12"
            R"({"type":"stopped"})");
}

TEST_F(Framing, DispatcherSeesThePayloadUpToItsFirstNul) {
  std::string reply = ws_command(page, std::string(R"({"cmd":"hel)") + '\0' + R"(lo"})");
  EXPECT_TRUE(reply.starts_with(R"({"type":"error","cmd":"hel",)")) << reply;
  reply = ws_command(page, "");
  EXPECT_TRUE(reply.starts_with(R"({"type":"error","cmd":"",)")) << reply;
}

TEST_F(Framing, RepliesLeaveInTheOrderOfTheFrames) {
  ASSERT_TRUE(ws_send(page, text_frame(R"({"cmd":"stop"})") + ping_frame("p") +
                                text_frame(R"({"cmd":"stop"})") + close_frame(1000)));
  std::string stopped =
      "\x81\x12"
      R"({"type":"stopped"})";
  bool closed = false;
  EXPECT_EQ(ws_read_raw(page, 2000, 0, &closed),
            stopped + "\x8a\x01p" + stopped + std::string("\x88\x00", 2));
  EXPECT_TRUE(closed);
}

TEST_F(Framing, PeerClosingIsLogged) {
  ws_disconnect(page);
  EXPECT_TRUE(wait_for_output(
      helper, "Page disconnected (closed): https://tamberline.com, slot 1.\n", 2000));
}

TEST_F(Framing, ShutdownDisconnectsPagesWithoutCloseFrame) {
  EXPECT_EQ(stop_helper(helper, SIGTERM), 0);
  std::vector<std::string> messages = log_messages(helper);
  ASSERT_GE(messages.size(), 2u);
  EXPECT_EQ(messages[messages.size() - 2], "Stopped.");
  EXPECT_EQ(messages.back(), "Page disconnected (exit): https://tamberline.com, slot 1.");
  EXPECT_TRUE(ws_closed_within(page, 2000));
}

}  // namespace
