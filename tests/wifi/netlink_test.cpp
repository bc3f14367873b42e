// The generic-netlink exchange against the stand-in kernel: the request bytes, how exchanges end,
// and the attribute walk over well-formed and broken replies.
#include <linux/netlink.h>

#include <chrono>
#include <vector>

#include "recordings.h"
#include "wifi/requests.h"
#include "wifi_test_support.h"

namespace {

constexpr uint16_t kFamily = 32;

// What the callback saw of each message: the attribute types present (by table slot).
struct Seen {
  std::vector<std::vector<int>> messages;
  std::vector<uint32_t> ifindex;  // u32 of attribute 3 per message (0 when absent)
};

void record(const NlAttr* const* table, int max_type, void* user_data) {
  Seen* seen = static_cast<Seen*>(user_data);
  EXPECT_EQ(max_type, kAttrTableMaxType);
  std::vector<int> types;
  for (int t = 0; t <= max_type; ++t) {
    if (table[t] != nullptr) types.push_back(t);
  }
  seen->messages.push_back(types);
  uint32_t ifindex = 0;
  attr_u32(table[3], &ifindex);
  seen->ifindex.push_back(ifindex);
}

// One nl80211 message carrying NL80211_ATTR_IFINDEX = `ifindex`.
void add_message(NlWriter& writer, uint16_t flags, uint32_t ifindex) {
  writer.begin_message(kFamily, flags, 1, 7);
  writer.put_u32(3, ifindex);
  writer.end_message();
}

Bytes datagram_of(std::initializer_list<std::pair<uint16_t, uint32_t>> messages) {
  NlWriter writer;
  for (auto [flags, ifindex] : messages) add_message(writer, flags, ifindex);
  return writer.bytes;
}

Bytes error_message(int32_t code) {
  NetlinkRequest request;
  build_interface_dump_request(&request);
  Bytes echoed(reinterpret_cast<uint8_t*>(&request),
               reinterpret_cast<uint8_t*>(&request) + request.nlmsg_len);
  return error_datagram(code, echoed);
}

int32_t run_dump(Seen* seen) {
  wifi_state.family_id = kFamily;
  NetlinkRequest request;
  build_interface_dump_request(&request);
  return netlink_exchange(request, record, seen);
}

// ---- Request bytes ----

using WifiRequests = WifiTest;

// Every request the recorder sent, rebuilt by the helper with the same sequence number, family id,
// interface and BSSID, is the same bytes.
TEST_F(WifiRequests, AllFiveFormsMatchTheRecordedRequestsByteForByte) {
  const uint8_t bssid[6] = {0x02, 0, 0, 0, 0, 0};
  const char* const kNames[12] = {"",          "family",       "interfaces", "interfaces",
                                  "scan-dump", "station",      "interfaces", "scan-dump",
                                  "station",   "scan-trigger", "scan-dump",  "station"};
  for (const char* folder : {"default/root", "default/nobody", "devs-b/root", "devs-b/nobody"}) {
    for (int nn = 1; nn <= 11; ++nn) {
      SCOPED_TRACE(std::string(folder) + " request " + std::to_string(nn));
      Bytes recorded = recorded_request(kFixtures + "/" + folder, nn);
      ASSERT_FALSE(recorded.empty());
      wifi_state.seq = static_cast<uint32_t>(nn);
      wifi_state.family_id = kFamily;
      NetlinkRequest request;
      std::string name = kNames[nn];
      if (name == "family") build_family_request(&request);
      if (name == "interfaces") build_interface_dump_request(&request);
      if (name == "scan-dump") build_scan_dump_request(&request, 5);
      if (name == "scan-trigger") build_scan_trigger_request(&request, 5);
      if (name == "station") build_station_request(&request, 5, bssid);
      EXPECT_EQ(wifi_state.seq, static_cast<uint32_t>(nn + 1));
      EXPECT_EQ(hex_of(reinterpret_cast<uint8_t*>(&request), request.nlmsg_len),
                hex_of(as_helper_sends(recorded)));
    }
  }
}

// The survey dump is laid out like the scan dump (dump flags, the interface index), with
// NL80211_CMD_GET_SURVEY (50) as its command.
TEST_F(WifiRequests, SurveyDumpIsLaidOutLikeTheOtherDumpsByteForByte) {
  wifi_state.seq = 6;
  wifi_state.family_id = kFamily;
  NetlinkRequest request;
  build_survey_dump_request(&request, 5);
  EXPECT_EQ(wifi_state.seq, 7u);
  EXPECT_EQ(hex_of(reinterpret_cast<uint8_t*>(&request), request.nlmsg_len),
            "1c000000"
            "2000"
            "0103"
            "06000000"
            "00000000"
            "32010000"
            "0800030005000000");
}

TEST_F(WifiRequests, ExchangeSendsExactlyTheRequestOnAFreshSocketWithAThreeSecondTimeout) {
  serve_script({reply_of({error_message(0)})});
  wifi_state.family_id = kFamily;
  NetlinkRequest request;
  build_scan_trigger_request(&request, 5);
  EXPECT_EQ(netlink_exchange(request, nullptr, nullptr), 0);
  const FakeKernelLog& log = fake_kernel_log();
  ASSERT_EQ(log.requests.size(), 1u);
  EXPECT_EQ(log.requests[0].size(), 36u);
  EXPECT_EQ(log.receive_timeout_ms, 3000);
  EXPECT_EQ(log.opens, 1);
  EXPECT_EQ(log.closes, 1);
}

// ---- How an exchange ends ----

using WifiExchange = WifiTest;

TEST_F(WifiExchange, AcknowledgementYieldsZeroWithoutCallback) {
  serve_script({reply_of({error_message(0)})});
  Seen seen;
  EXPECT_EQ(run_dump(&seen), 0);
  EXPECT_TRUE(seen.messages.empty());
}

TEST_F(WifiExchange, KernelErrorYieldsItsCode) {
  serve_script({reply_of({error_message(-EPERM)})});
  Seen seen;
  EXPECT_EQ(run_dump(&seen), -EPERM);
}

TEST_F(WifiExchange, ShortDatagramsAreIgnoredAndTheExchangeWaitsOn) {
  Bytes full = datagram_of({{NLM_F_MULTI, 7}});
  serve_script({reply_of({Bytes(full.begin(), full.begin() + 5),
                          Bytes(full.begin(), full.begin() + 15), full, done_datagram(1)})});
  Seen seen;
  EXPECT_EQ(run_dump(&seen), 0);
  EXPECT_EQ(seen.ifindex, std::vector<uint32_t>{7});
}

TEST_F(WifiExchange, DoneInTheMiddleOfADatagramEndsAtOnce) {
  NlWriter writer;
  add_message(writer, NLM_F_MULTI, 1);
  Bytes done = done_datagram(1);
  writer.raw(done);
  add_message(writer, NLM_F_MULTI, 2);
  serve_script({reply_of({writer.bytes, datagram_of({{NLM_F_MULTI, 3}})})});
  Seen seen;
  EXPECT_EQ(run_dump(&seen), 0);
  EXPECT_EQ(seen.ifindex, std::vector<uint32_t>{1});
}

TEST_F(WifiExchange, ErrorMidDumpYieldsItsCodeAfterTheEarlierMessagesWereDelivered) {
  NlWriter second;
  add_message(second, NLM_F_MULTI, 3);
  second.raw(error_message(-EBUSY));
  serve_script({reply_of({datagram_of({{NLM_F_MULTI, 1}, {NLM_F_MULTI, 2}}), second.bytes})});
  Seen seen;
  EXPECT_EQ(run_dump(&seen), -EBUSY);
  EXPECT_EQ(seen.ifindex, (std::vector<uint32_t>{1, 2, 3}));
}

// A dump that failed part-way (say, the interface went with its adapter) ends with NLMSG_DONE
// whose s32 payload is the negated errno: that is the result, after the records delivered.
TEST_F(WifiExchange, DoneCarryingAnErrorYieldsItsCode) {
  serve_script({reply_of({datagram_of({{NLM_F_MULTI, 1}}), done_datagram(1, -ENODEV)})});
  Seen seen;
  EXPECT_EQ(run_dump(&seen), -ENODEV);
  EXPECT_EQ(seen.ifindex, std::vector<uint32_t>{1});

  for (int32_t code : {-4096, INT32_MIN}) {
    serve_script({reply_of({done_datagram(1, code)})});
    EXPECT_EQ(run_dump(&seen), -EIO) << code;
  }
  serve_script({reply_of({done_datagram(1, 7)})});  // no kernel ends a dump so: complete
  EXPECT_EQ(run_dump(&seen), 0);
  NlWriter bare;  // a DONE without payload, as some senders write it
  bare.begin_message(NLMSG_DONE, NLM_F_MULTI, 1, 0, false);
  bare.end_message();
  serve_script({reply_of({bare.bytes})});
  EXPECT_EQ(run_dump(&seen), 0);
}

TEST_F(WifiExchange, MessageWithoutMultiEndsTheExchangeAfterItsWholeDatagram) {
  serve_script({reply_of({datagram_of({{NLM_F_MULTI, 1}, {0, 2}, {NLM_F_MULTI, 3}}),
                          datagram_of({{NLM_F_MULTI, 4}})})});
  Seen seen;
  EXPECT_EQ(run_dump(&seen), 0);
  EXPECT_EQ(seen.ifindex, (std::vector<uint32_t>{1, 2, 3}));
}

TEST_F(WifiExchange, MessageLengthBelowHeaderOrPastTheEndEndsThatDatagramOnly) {
  for (uint32_t bad_len : {0u, 8u, 15u, 1000u}) {
    SCOPED_TRACE(bad_len);
    Bytes first = datagram_of({{NLM_F_MULTI, 1}, {NLM_F_MULTI, 2}});
    Bytes broken = datagram_of({{NLM_F_MULTI, 9}});
    std::memcpy(broken.data(), &bad_len, 4);
    first.insert(first.end(), broken.begin(), broken.end());
    serve_script({reply_of({first, datagram_of({{0, 3}})})});
    Seen seen;
    EXPECT_EQ(run_dump(&seen), 0);
    EXPECT_EQ(seen.ifindex, (std::vector<uint32_t>{1, 2, 3}));
  }
}

TEST_F(WifiExchange, FinalFlagStillEndsTheExchangeWhenALaterMessageIsBroken) {
  Bytes datagram = datagram_of({{0, 1}, {NLM_F_MULTI, 2}});
  uint32_t bad_len = 4000;
  std::memcpy(datagram.data() + 28, &bad_len, 4);  // the second message
  serve_script({reply_of({datagram, datagram_of({{NLM_F_MULTI, 3}})})});
  Seen seen;
  EXPECT_EQ(run_dump(&seen), 0);
  EXPECT_EQ(seen.ifindex, std::vector<uint32_t>{1});
}

TEST_F(WifiExchange, MessageWithoutGenericHeaderHasNoAttributes) {
  NlWriter writer;
  writer.begin_message(kFamily, 0, 1, 0, false);
  writer.raw(Bytes{1, 2});
  writer.end_message();  // 18 bytes
  serve_script({reply_of({writer.bytes})});
  Seen seen;
  EXPECT_EQ(run_dump(&seen), 0);
  ASSERT_EQ(seen.messages.size(), 1u);
  EXPECT_TRUE(seen.messages[0].empty());
}

TEST_F(WifiExchange, ErrorMessageTooShortForItsCodeOrWithAnImpossibleCodeIsAnIoError) {
  for (int32_t code : {1, 4096, -4096, INT32_MIN}) {
    serve_script({reply_of({error_message(code)})});
    Seen seen;
    EXPECT_EQ(run_dump(&seen), -EIO) << code;
  }
  NlWriter writer;
  writer.begin_message(NLMSG_ERROR, 0, 1, 0, false);
  writer.raw(Bytes{0xff, 0xff});
  writer.end_message();  // 18 bytes: the error code does not fit
  serve_script({reply_of({writer.bytes})});
  Seen seen;
  EXPECT_EQ(run_dump(&seen), -EIO);
}

TEST_F(WifiExchange, EmptyDatagramIsAnIoError) {
  FakeReply reply;
  reply.after = 0;
  serve_script({reply});
  Seen seen;
  EXPECT_EQ(run_dump(&seen), -EIO);
}

TEST_F(WifiExchange, SocketSendAndReceiveFailuresAreNegatedErrnoAndCloseTheSocket) {
  fake_kernel_fail_open(-EMFILE);
  Seen seen;
  EXPECT_EQ(run_dump(&seen), -EMFILE);
  EXPECT_EQ(fake_kernel_log().opens, 0);
  EXPECT_TRUE(fake_kernel_log().requests.empty());

  fake_kernel_fail_open(0);
  FakeReply refused;
  refused.send_error = -ECONNREFUSED;
  FakeReply reset;
  reset.after = -ECONNRESET;
  serve_script({refused, reset});
  EXPECT_EQ(run_dump(&seen), -ECONNREFUSED);
  EXPECT_EQ(run_dump(&seen), -ECONNRESET);
  EXPECT_EQ(fake_kernel_log().opens, 2);
  EXPECT_EQ(fake_kernel_log().closes, 2);
}

TEST_F(WifiExchange, ThreeSecondsOfSilenceEndTheExchangeWithWouldBlock) {
  fake_kernel_set_silence_ms(-1);  // the full time-out the helper asks for
  auto start = std::chrono::steady_clock::now();
  Seen seen;
  EXPECT_EQ(run_dump(&seen), -EAGAIN);
  auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  EXPECT_GE(waited.count(), 2900);
  EXPECT_LT(waited.count(), 4500);
  EXPECT_EQ(fake_kernel_log().receive_timeout_ms, 3000);
  EXPECT_EQ(fake_kernel_log().closes, 1);
}

TEST_F(WifiExchange, DatagramLongerThanTheBufferIsCutAndItsMessageSkipped) {
  NlWriter writer;
  writer.begin_message(kFamily, NLM_F_MULTI, 1, 7);
  writer.put(3, Bytes(60000, 1));
  writer.put(3, Bytes(10000, 2));
  writer.end_message();
  ASSERT_GT(writer.bytes.size(), kReceiveBufferSize);
  serve_script({reply_of({writer.bytes, done_datagram(1)})});
  Seen seen;
  EXPECT_EQ(run_dump(&seen), 0);
  EXPECT_TRUE(seen.messages.empty());
}

// ---- The attribute walk ----

using WifiAttributes = WifiTest;

// A datagram of one message whose attribute area is `attributes`, as given.
Bytes message_with(const Bytes& attributes) {
  NlWriter writer;
  writer.begin_message(kFamily, 0, 1, 7);
  writer.raw(attributes);
  writer.end_message();
  return writer.bytes;
}

Bytes attribute(uint16_t len, uint16_t type, Bytes payload) {
  Bytes bytes(4);
  std::memcpy(bytes.data(), &len, 2);
  std::memcpy(bytes.data() + 2, &type, 2);
  for (uint8_t byte : payload) bytes.push_back(byte);
  while (bytes.size() % 4 != 0) bytes.push_back(0);
  return bytes;
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<int> walk(const Bytes& attributes) {
  serve_script({reply_of({message_with(attributes)})});
  Seen seen;
  EXPECT_EQ(run_dump(&seen), 0);
  return seen.messages.empty() ? std::vector<int>{-1} : seen.messages[0];
}

TEST_F(WifiAttributes, BadLengthEndsTheWalkKeepingEarlierAttributes) {
  Bytes good = attribute(8, 3, {5, 0, 0, 0}) + attribute(6, 4, {'w', 0});
  EXPECT_EQ(walk(good + attribute(3, 5, {})), (std::vector<int>{3, 4}));
  EXPECT_EQ(walk(good + attribute(0, 5, {})), (std::vector<int>{3, 4}));
  EXPECT_EQ(walk(good + attribute(200, 5, {1, 2, 3, 4})), (std::vector<int>{3, 4}));
  EXPECT_EQ(walk(good + Bytes{8, 0}), (std::vector<int>{3, 4}));  // fewer than 4 bytes left
}

TEST_F(WifiAttributes, TypesAboveTheTableAreSkippedAndFlagsIgnored) {
  Bytes attributes = attribute(8, 321, {1, 0, 0, 0}) + attribute(8, 400, {1, 0, 0, 0}) +
                     attribute(8, 320, {1, 0, 0, 0}) + attribute(12, 0x8000 | 47, Bytes(8, 0)) +
                     attribute(8, 0x4000 | 21, {1, 0, 0, 0});
  EXPECT_EQ(walk(attributes), (std::vector<int>{21, 47, 320}));
}

TEST_F(WifiAttributes, LaterAttributeOfATypeReplacesTheEarlier) {
  serve_script(
      {reply_of({message_with(attribute(8, 3, {1, 0, 0, 0}) + attribute(8, 3, {2, 0, 0, 0}))})});
  Seen seen;
  EXPECT_EQ(run_dump(&seen), 0);
  EXPECT_EQ(seen.ifindex, std::vector<uint32_t>{2});
}

TEST_F(WifiAttributes, TableIsClearedBeforeEachMessage) {
  NlWriter writer;
  add_message(writer, NLM_F_MULTI, 4);
  writer.begin_message(kFamily, 0, 1, 7);
  writer.put_u32(5, 2);
  writer.end_message();
  serve_script({reply_of({writer.bytes})});
  Seen seen;
  EXPECT_EQ(run_dump(&seen), 0);
  EXPECT_EQ(seen.messages, (std::vector<std::vector<int>>{{3}, {5}}));
}

// The readers accept an attribute only when its payload holds the whole value.
TEST_F(WifiAttributes, FixedWidthReadsNeedTheWholeValue) {
  Bytes bytes =
      attribute(7, 3, {1, 2, 3}) + attribute(9, 6, {1, 2, 3, 4, 5}) + attribute(5, 7, {0x9c});
  const NlAttr* table[8];
  parse_attributes(bytes.data(), bytes.size(), table, 7);
  uint32_t u32 = 77;
  int32_t s32 = 77;
  uint16_t u16 = 77;
  uint8_t u8 = 77;
  uint8_t mac[6] = {9, 9, 9, 9, 9, 9};
  EXPECT_FALSE(attr_u32(table[3], &u32));
  EXPECT_FALSE(attr_s32(table[3], &s32));
  EXPECT_TRUE(attr_u16(table[3], &u16));
  EXPECT_EQ(u16, 0x0201);
  EXPECT_FALSE(attr_mac(table[6], mac));
  EXPECT_EQ(mac[0], 9);
  EXPECT_FALSE(attr_u16(table[7], &u16));
  EXPECT_TRUE(attr_u8(table[7], &u8));
  EXPECT_EQ(u8, 0x9c);
  EXPECT_EQ(u32, 77u);
  EXPECT_FALSE(attr_u8(nullptr, &u8));
}

TEST_F(WifiAttributes, TextStopsAtItsZeroOrThePayloadEndOrTheOutput) {
  // Heap copies of exactly the attribute's size, so a read past them is caught under ASan.
  auto text_of = [](const Bytes& attr_bytes, size_t out_size) {
    Bytes exact(attr_bytes.begin(), attr_bytes.begin() + attr_bytes[0]);
    char out[64];
    std::memset(out, 'x', sizeof out);
    attr_text(reinterpret_cast<const NlAttr*>(exact.data()), out, out_size);
    return std::string(out);
  };
  EXPECT_EQ(text_of(attribute(9, 4, {'w', 'l', 'a', 'n', '0'}), 40), "wlan0");
  EXPECT_EQ(text_of(attribute(10, 4, {'a', 'b', 0, 'c', 'd', 0}), 40), "ab");
  EXPECT_EQ(text_of(attribute(10, 4, {'a', 'b', 'c', 'd', 'e', 'f'}), 4), "abc");
  EXPECT_EQ(text_of(attribute(4, 4, {}), 40), "");
  char out[4] = "zz";
  attr_text(nullptr, out, sizeof out);
  EXPECT_STREQ(out, "");
}

TEST_F(WifiAttributes, NestedWalkKeepsItsOwnBounds) {
  // An inner attribute that claims more than its nest holds is not taken, even though the bytes
  // after the nest would cover it.
  Bytes inner = attribute(8, 1, {1, 0, 0, 0}) + attribute(12, 2, {2, 0, 0, 0});
  uint16_t nest_len = 4 + 8 + 8;  // cuts the second inner attribute short
  Bytes nest = attribute(nest_len, 0x8000 | 9, Bytes(inner.begin(), inner.begin() + 16)) +
               Bytes(inner.begin() + 16, inner.end());
  Bytes exact(nest.begin(), nest.begin() + nest_len);
  const NlAttr* table[4];
  parse_nested(reinterpret_cast<const NlAttr*>(exact.data()), table, 3);
  EXPECT_NE(table[1], nullptr);
  EXPECT_EQ(table[2], nullptr);

  // Fewer than 4 payload bytes: an empty table.
  for (uint16_t len : {4, 5, 7}) {
    Bytes small = attribute(len, 9, Bytes(len - 4, 0));
    small.resize(8, 0);
    table[1] = reinterpret_cast<const NlAttr*>(&len);
    parse_nested(reinterpret_cast<const NlAttr*>(small.data()), table, 3);
    for (const NlAttr* entry : table) EXPECT_EQ(entry, nullptr);
  }
  parse_nested(nullptr, table, 3);
  for (const NlAttr* entry : table) EXPECT_EQ(entry, nullptr);
}

}  // namespace
