#include "server/http_intake.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "support/helper_process.h"
#include "support/ws_client.h"

namespace {

const std::string kPlainReply =
    "HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: 91\r\n"
    "Connection: close\r\n\r\n"
    "Tamberline Tivel Helper is running. Go back to the Tamberline page; it connects by itself.\n";
const std::string kWrongHost =
    "HTTP/1.1 403 Forbidden\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: 11\r\n"
    "Connection: close\r\n\r\nwrong host\n";
const std::string kOriginNotAllowed =
    "HTTP/1.1 403 Forbidden\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: 19\r\n"
    "Connection: close\r\n\r\norigin not allowed\n";
const std::string kBadWebSocket =
    "HTTP/1.1 400 Bad Request\r\nContent-Type: text/plain; charset=utf-8\r\n"
    "Content-Length: 22\r\nConnection: close\r\n\r\nbad websocket request\n";

std::string switching_protocols(const std::string& accept) {
  return "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
         "Sec-WebSocket-Accept: " +
         accept + "\r\n\r\n";
}

std::string refused_line(const std::string& shown) {
  return "Refused a connection from " + shown + " (only Tamberline pages may connect).";
}

// find_header over a heap copy of exactly the text's size, so a read past its NUL is caught by
// the address sanitizer.
std::string lookup(const std::string& request, const char* name, size_t capacity = 128) {
  auto text = std::make_unique<char[]>(request.size() + 1);
  std::memcpy(text.get(), request.c_str(), request.size() + 1);
  auto out = std::make_unique<char[]>(capacity);
  char* found = find_header(text.get(), name, out.get(), capacity);
  if (found == nullptr) return "<absent>";
  EXPECT_EQ(found, out.get());
  return found;
}

// The name folds ASCII letters and the value is trimmed; only the exact name followed by a colon
// matches, the first such line winning; an empty value is found and a long one cut to the
// buffer; only CR LF ends a line.
TEST(FindHeader, FirstExactNameGivesItsTrimmedValue) {
  const std::string folds = "GET / HTTP/1.1\r\nhOsT: \t LocalHost:1 \t\r\nX: y\r\n\r\n";
  const std::string exact =
      "GET / HTTP/1.1\r\nOrigin : a\r\nOrigins: b\r\nOrigin:c\r\nOrigin: d\r\n\r\n";
  const std::string sizes = "GET / HTTP/1.1\r\nKey:   \r\nLong: 0123456789abcdef\r\n\r\n";
  const std::string ends = "GET / HTTP/1.1\r\nA: 1\nB: 2\rC: 3\r\nD: 4\r\n\r\n";
  const struct {
    const std::string& request;
    const char* name;
    size_t capacity;
    const char* value;
  } cases[] = {
      {folds, "Host", 128, "LocalHost:1"},
      {folds, "x", 128, "y"},
      {folds, "Origin", 128, "<absent>"},
      {exact, "Origin", 128, "c"},
      {exact, "Origins", 128, "b"},
      {sizes, "Key", 128, ""},
      {sizes, "Long", 11, "0123456789"},
      {sizes, "Long", 1, ""},
      {ends, "A", 128, "1\nB: 2\rC: 3"},
      {ends, "B", 128, "<absent>"},
      {ends, "D", 128, "4"},
  };
  for (const auto& one : cases) {
    EXPECT_EQ(lookup(one.request, one.name, one.capacity), one.value) << one.request << one.name;
  }
}

TEST(FindHeader, StopsAtTheBlankLineAndAtTheEndOfText) {
  EXPECT_EQ(lookup("GET / HTTP/1.1\r\n\r\nHost: a\r\n", "Host"), "<absent>");
  EXPECT_EQ(lookup("Host: a", "Host"), "<absent>");  // no request line end at all
  EXPECT_EQ(lookup("GET / HTTP/1.1\r\nHost: tail", "Host"), "tail");
  EXPECT_EQ(lookup("GET / HTTP/1.1\r\nHos", "Host"), "<absent>");
  EXPECT_EQ(lookup("GET / HTTP/1.1\r\nHost", "Host"), "<absent>");
  EXPECT_EQ(lookup("GET / HTTP/1.1\r\nHost:", "Host"), "");
  EXPECT_EQ(lookup("GET / HTTP/1.1\r\nA: b\r", "Host"), "<absent>");
  EXPECT_EQ(lookup("", "Host"), "<absent>");
}

// The real helper over loopback: every reply checked byte for byte.
class HttpIntake : public ::testing::Test {
 protected:
  void SetUp() override { start(); }

  void start(std::vector<std::string> args = {}) {
    HelperOptions options;
    options.args = std::move(args);
    ASSERT_TRUE(start_on_free_port(helper, options)) << helper.output;
    port = helper.port;
  }

  // Sends `request` on a new connection and returns everything the helper sent before closing.
  std::string exchange(const std::string& request) {
    WsClient client;
    EXPECT_TRUE(ws_open(client, port));
    EXPECT_TRUE(ws_send(client, request));
    bool closed = false;
    std::string reply = ws_read_raw(client, 3000, 0, &closed);
    EXPECT_TRUE(closed) << "connection left open after: " << reply;
    return reply;
  }

  std::string exchange(const std::vector<HttpHeader>& headers) {
    return exchange(http_request(headers));
  }

  // Sends `headers` and returns the reply up to its blank line, leaving the connection open.
  std::string upgrade(WsClient& client, const std::vector<HttpHeader>& headers) {
    EXPECT_TRUE(ws_open(client, port));
    ws_handshake(client, http_request(headers));
    return client.handshake;
  }

  // Log messages since start-up, the start-up lines left out.
  std::vector<std::string> later_messages(int settle_ms = 150) {
    wait_for_output(helper, "\x01never\x01", settle_ms);
    std::vector<std::string> all = log_messages(helper);
    std::vector<std::string> later;
    for (const std::string& message : all) {
      if (!message.starts_with("Running on") && !message.starts_with("WiFi not available") &&
          !message.starts_with("Fresh scans:"))
        later.push_back(message);
    }
    return later;
  }

  HelperProcess helper;
  int port = 0;
};

TEST_F(HttpIntake, PlainRequestGetsTheTextPage) {
  EXPECT_EQ(exchange("GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n"),
            kPlainReply);
  EXPECT_TRUE(later_messages().empty());
}

// The plain page as an allowed page's fetch gets it: readable by that page, so it can tell a
// running helper from a blocked connection.
std::string plain_reply_for(const std::string& origin) {
  std::string reply = kPlainReply;
  reply.insert(reply.find("Connection: close"),
               "Access-Control-Allow-Origin: " + origin + "\r\nVary: Origin\r\n");
  return reply;
}

// A plain request: without an Origin, with one that is not allowed (near misses, one too long to
// compare) or with a bad Host, exactly the bytes it always got; with an allowed Origin, the same
// reply readable by that page. None of them is logged.
TEST_F(HttpIntake, PlainRequestIsReadableOnlyByAllowedPages) {
  std::vector<HttpHeader> fetch = page_headers_without(port, "Upgrade");
  remove_header(fetch, "Sec-WebSocket-Key");
  remove_header(fetch, "Sec-WebSocket-Version");
  remove_header(fetch, "Connection");
  for (const char* origin : {"https://tamberline.com", "https://www.kestrune.com"}) {
    set_header(fetch, "Origin", origin);
    EXPECT_EQ(exchange(fetch), plain_reply_for(origin)) << origin;
  }
  for (const std::string& origin :
       {std::string("https://evil.example"), std::string("https://tamberline.com/"),
        std::string("null"), std::string(""), "https://tamberline.com" + std::string(200, 'x')}) {
    set_header(fetch, "Origin", origin);
    EXPECT_EQ(exchange(fetch), kPlainReply) << origin;
  }
  remove_header(fetch, "Origin");
  EXPECT_EQ(exchange(fetch), kPlainReply);
  set_header(fetch, "Origin", kPageOrigin);
  set_header(fetch, "Host", "evil.example:" + std::to_string(port));
  EXPECT_EQ(exchange(fetch), kWrongHost);
  EXPECT_TRUE(later_messages().empty());
}

TEST_F(HttpIntake, UpgradeMustBeExactlyWebsocket) {
  // The page's own origin is allowed, so these plain replies are readable by it.
  for (const char* value : {"h2c", "websocket, foo", "foo, websocket", "websocket2", ""}) {
    EXPECT_EQ(exchange(page_headers_with(port, "Upgrade", value)), plain_reply_for(kPageOrigin))
        << value;
  }
  EXPECT_EQ(exchange(page_headers_without(port, "Upgrade")), plain_reply_for(kPageOrigin));
  EXPECT_TRUE(later_messages().empty());
}

TEST_F(HttpIntake, HostMustNameThisHelperWithItsPort) {
  const std::string p = std::to_string(port);
  const std::string other = std::to_string(port == 65535 ? 1 : port + 1);
  const std::vector<std::string> hosts = {
      "attacker.example:" + p, "127.0.0.1",    "localhost",      "localhost:" + other,
      "127.0.0.1:" + other,    "[::1]:" + p,   "127.0.0.2:" + p, "127.0.0.1:" + p + "/",
      "127.0.0.1:0" + p,       std::string("")};
  for (const std::string& host : hosts) {
    EXPECT_EQ(exchange(page_headers_with(port, "Host", host)), kWrongHost) << host;
  }
  EXPECT_EQ(exchange(page_headers_without(port, "Host")), kWrongHost);
  EXPECT_TRUE(later_messages().empty());
}

TEST_F(HttpIntake, HostIsCheckedBeforeOrigin) {
  std::vector<HttpHeader> headers = page_headers(port, "https://evil.example");
  set_header(headers, "Host", "evil.example:" + std::to_string(port));
  EXPECT_EQ(exchange(headers), kWrongHost);
  EXPECT_TRUE(later_messages().empty());  // no "Refused" line
}

TEST_F(HttpIntake, HeaderNamesAndValuesInOtherLetterCase) {
  std::vector<HttpHeader> headers = {
      {"host", "LOCALHOST:" + std::to_string(port)},
      {"UPGRADE", "WebSocket"},
      {"sec-websocket-key", kSampleKey},
      {"SEC-WEBSOCKET-VERSION", "13"},
      {"oRiGiN", kPageOrigin},
  };
  WsClient page;
  EXPECT_EQ(upgrade(page, headers), switching_protocols(kSampleAccept));
}

TEST_F(HttpIntake, ExactUpgradeResponseAndLogLine) {
  WsClient page;
  std::string reply = upgrade(page, page_headers(port));
  EXPECT_EQ(reply, switching_protocols(kSampleAccept));
  EXPECT_EQ(reply.size(), 129u);
  EXPECT_EQ(later_messages(),
            std::vector<std::string>{"Connected to https://tamberline.com (slot 1)."});
  // The connection stays open as a WebSocket.
  EXPECT_EQ(ws_read_raw(page, 200), "");
}

TEST_F(HttpIntake, EveryPageOriginIsAccepted) {
  std::vector<std::string> expected;
  for (const char* origin : {"https://tamberline.com", "https://www.tamberline.com",
                             "https://kestrune.com", "https://www.kestrune.com"}) {
    WsClient page;
    EXPECT_EQ(upgrade(page, page_headers(port, origin)), switching_protocols(kSampleAccept))
        << origin;
    expected.push_back(std::string("Connected to ") + origin + " (slot 1).");
    expected.push_back(std::string("Page disconnected (closed): ") + origin + ", slot 1.");
    ws_disconnect(page);
    ASSERT_TRUE(wait_for_output(helper, expected.back() + "\n", 2000));
  }
  EXPECT_EQ(later_messages(300), expected);
}

TEST_F(HttpIntake, NearMissOriginsAreRefusedAndLogged) {
  std::vector<std::string> expected;
  for (const char* origin :
       {"https://evil.example", "https://tamberline.com/", "https://Tamberline.com",
        "HTTPS://TAMBERLINE.COM", "https://tamberline.com:443", "http://tamberline.com",
        "https://tamberline.com.evil.example", "https://kestrune.com ,https://evil.example",
        "null"}) {
    EXPECT_EQ(exchange(page_headers(port, origin)), kOriginNotAllowed) << origin;
    expected.push_back(refused_line(origin));
  }
  // Refusals beyond four a second are one summary line when their second is over: the last of
  // them and how many were held back.
  expected.resize(4);
  expected.push_back(refused_line("null") + " ... repeated 5 times");
  EXPECT_EQ(later_messages(1500), expected);
}

TEST_F(HttpIntake, MissingOriginIsAnUnknownPage) {
  std::vector<HttpHeader> headers = page_headers_without(port, "Origin");
  EXPECT_EQ(exchange(headers), kOriginNotAllowed);
  // A space before the colon makes it another header name.
  std::string spaced = http_request(headers);
  spaced.insert(spaced.size() - 2, "Origin : https://tamberline.com\r\n");
  EXPECT_EQ(exchange(spaced), kOriginNotAllowed);
  EXPECT_EQ(later_messages(), (std::vector<std::string>{refused_line("an unknown page"),
                                                        refused_line("an unknown page")}));
}

TEST_F(HttpIntake, OnlyTheFirstOriginLineCounts) {
  std::vector<HttpHeader> headers = page_headers(port, "https://evil.example");
  headers.push_back({"Origin", kPageOrigin});
  EXPECT_EQ(exchange(headers), kOriginNotAllowed);

  headers = page_headers(port);
  headers.push_back({"Origin", "https://evil.example"});
  WsClient page;
  EXPECT_EQ(upgrade(page, headers), switching_protocols(kSampleAccept));
}

// A client chooses the Origin bytes; the terminal must not receive its escape sequences.
TEST_F(HttpIntake, ControlBytesInALoggedOriginAreShownAsQuestionMarks) {
  std::string origin = "https://x.example\x1b]2;owned\x07\x1b[2J\x7f\x01\ttab\rcr";
  EXPECT_EQ(exchange(page_headers(port, origin)), kOriginNotAllowed);
  EXPECT_EQ(later_messages(),
            std::vector<std::string>{refused_line("https://x.example?]2;owned??[2J???tab?cr")});
  EXPECT_EQ(helper.output.find('\x1b'), std::string::npos);
  EXPECT_EQ(helper.output.find('\x7f'), std::string::npos);
}

// 0x9B alone is a control sequence introducer on terminals that honour 8-bit controls; a
// browser's Origin is ASCII, so every byte above 0x7E is shown as '?' too.
TEST_F(HttpIntake, BytesAboveAsciiInALoggedOriginAreShownAsQuestionMarks) {
  std::string origin =
      "https://x.example\x9b"
      "2J\x80\xc3\xa9\xff";
  EXPECT_EQ(exchange(page_headers(port, origin)), kOriginNotAllowed);
  EXPECT_EQ(later_messages(), std::vector<std::string>{refused_line("https://x.example?2J????")});
}

TEST_F(HttpIntake, LoggedOriginIsCutAt159Characters) {
  std::string origin = "https://" + std::string(200, 'o') + ".example";
  EXPECT_EQ(exchange(page_headers(port, origin)), kOriginNotAllowed);
  EXPECT_EQ(later_messages(), std::vector<std::string>{refused_line(origin.substr(0, 159))});
}

class HttpIntakeWithDevOrigin : public HttpIntake {
 protected:
  void SetUp() override { start({"--dev-origin", "http://localhost:5173"}); }
};

// The log names each page by origin and slot, on connecting and on leaving; a freed slot is taken
// again by the next page.
TEST_F(HttpIntakeWithDevOrigin, PagesAreLoggedWithTheirOriginAndSlot) {
  WsClient first, second, third;
  EXPECT_TRUE(ws_connect(first, port, "https://kestrune.com"));
  EXPECT_TRUE(wait_for_output(helper, "(slot 1).\n", 2000));
  EXPECT_TRUE(ws_connect(second, port, "http://localhost:5173"));
  EXPECT_TRUE(wait_for_output(helper, "(slot 2).\n", 2000));
  ws_disconnect(first);
  EXPECT_TRUE(wait_for_output(helper, "slot 1.\n", 2000));
  EXPECT_TRUE(ws_connect(third, port, "https://www.tamberline.com"));
  EXPECT_TRUE(wait_for_output(helper, "Connected to https://www.tamberline.com", 2000));
  EXPECT_EQ(stop_helper(helper), 0);
  EXPECT_EQ(later_messages(0), (std::vector<std::string>{
                                   "Connected to https://kestrune.com (slot 1).",
                                   "Connected to http://localhost:5173 (slot 2).",
                                   "Page disconnected (closed): https://kestrune.com, slot 1.",
                                   "Connected to https://www.tamberline.com (slot 1).",
                                   "Stopped.",
                                   "Page disconnected (exit): https://www.tamberline.com, slot 1.",
                                   "Page disconnected (exit): http://localhost:5173, slot 2.",
                               }));
}

TEST_F(HttpIntakeWithDevOrigin, DevOriginIsAllowedByteForByte) {
  for (const char* origin :
       {"http://LOCALHOST:5173", "http://localhost:5173/", "http://localhost"}) {
    EXPECT_EQ(exchange(page_headers(port, origin)), kOriginNotAllowed) << origin;
    std::vector<HttpHeader> plain = page_headers_with(port, "Upgrade", "");
    set_header(plain, "Origin", origin);
    EXPECT_EQ(exchange(plain), kPlainReply) << origin;
  }
  std::vector<HttpHeader> fetch = page_headers_without(port, "Upgrade");
  set_header(fetch, "Origin", "http://localhost:5173");
  EXPECT_EQ(exchange(fetch), plain_reply_for("http://localhost:5173"));
  for (const char* origin : {"http://localhost:5173", "https://kestrune.com"}) {
    WsClient page;
    EXPECT_EQ(upgrade(page, page_headers(port, origin)), switching_protocols(kSampleAccept));
    EXPECT_TRUE(wait_for_output(helper, "Connected to " + std::string(origin) + " (slot ", 2000));
  }
}

// The looked-up Origin is cut to 159 characters before the comparison, so a longer dev origin
// can never match, not even itself.
TEST_F(HttpIntake, DevOriginLongerThan159CharactersNeverMatches) {
  std::string long_origin = "http://" + std::string(160, 'd') + ".example";
  HelperProcess dev;
  ASSERT_TRUE(start_on_free_port(dev, with_args({"--dev-origin", long_origin})));
  port = dev.port;
  EXPECT_EQ(exchange(page_headers(port, long_origin)), kOriginNotAllowed);
}

// An Origin longer than the 159 characters compared is refused, not cut to fit: cut, the dev
// origin followed by ".evil.net" would pass for the dev origin itself.
TEST_F(HttpIntake, OriginLongerThanItsBufferIsRefused) {
  std::string dev_origin = "http://" + std::string(144, 'd') + ".example";
  ASSERT_EQ(dev_origin.size(), 159u);
  HelperProcess dev;
  ASSERT_TRUE(start_on_free_port(dev, with_args({"--dev-origin", dev_origin})));
  port = dev.port;
  EXPECT_EQ(exchange(page_headers(port, dev_origin + ".evil.net")), kOriginNotAllowed);
  EXPECT_TRUE(wait_for_output(dev, refused_line(dev_origin) + "\n", 2000));
  WsClient page;
  EXPECT_EQ(upgrade(page, page_headers(port, dev_origin)), switching_protocols(kSampleAccept));
}

TEST_F(HttpIntake, KeyAndVersionAreRequired) {
  for (const char* version : {"8", "13, 8", "8, 13", "130", "1 3", ""}) {
    EXPECT_EQ(exchange(page_headers_with(port, "Sec-WebSocket-Version", version)), kBadWebSocket)
        << version;
  }
  for (const char* missing : {"Sec-WebSocket-Version", "Sec-WebSocket-Key"}) {
    EXPECT_EQ(exchange(page_headers_without(port, missing)), kBadWebSocket) << missing;
  }
  EXPECT_TRUE(later_messages().empty());
}

TEST_F(HttpIntake, TrimmedVersionAndAnyKeyAreAccepted) {
  std::vector<HttpHeader> headers = page_headers(port);
  set_header(headers, "Sec-WebSocket-Version", " \t13\t ");
  WsClient first;
  EXPECT_EQ(upgrade(first, headers), switching_protocols(kSampleAccept));

  set_header(headers, "Sec-WebSocket-Key", "");  // the accept value of the GUID alone
  WsClient second;
  EXPECT_EQ(upgrade(second, headers), switching_protocols("Kfh9QIsMVZcl6xEPYxPHzW8SZ8w="));
}

TEST_F(HttpIntake, RequestLineIsNotExamined) {
  WsClient page;
  ASSERT_TRUE(ws_open(page, port));
  ws_handshake(page, http_request(page_headers(port), "POST /anything?x=1 HTTP/1.0"));
  EXPECT_EQ(page.handshake, switching_protocols(kSampleAccept));
}

TEST_F(HttpIntake, RequestSplitAcrossReadsIsAnsweredAtItsBlankLine) {
  std::string request = http_request(page_headers(port));
  WsClient page;
  ASSERT_TRUE(ws_open(page, port));
  size_t cuts[] = {3, request.size() / 2, request.size() - 1};  // the last piece is the final LF
  size_t sent = 0;
  for (size_t cut : cuts) {
    ASSERT_TRUE(ws_send(page, request.substr(sent, cut - sent)));
    sent = cut;
    bool closed = false;
    EXPECT_EQ(ws_read_raw(page, 150, 0, &closed), "") << "after " << cut << " bytes";
    EXPECT_FALSE(closed);
  }
  ASSERT_TRUE(ws_send(page, request.substr(sent)));
  EXPECT_EQ(ws_read_raw(page, 2000, 129), switching_protocols(kSampleAccept));
}

TEST_F(HttpIntake, FullBufferWithoutBlankLineIsDroppedWithoutReply) {
  WsClient client;
  ASSERT_TRUE(ws_open(client, port));
  std::string request = "GET / HTTP/1.1\r\nX-Pad: ";
  request.resize(8191, 'a');
  ASSERT_TRUE(ws_send(client, request));
  // Well before the 5-second handshake limit.
  EXPECT_TRUE(ws_closed_within(client, 2000));
  EXPECT_TRUE(later_messages().empty());
}

TEST_F(HttpIntake, BlankLineEndingAtByte8191IsAnswered) {
  std::vector<HttpHeader> headers = page_headers(port);
  headers.push_back({"X-Pad", ""});
  size_t short_by = 8191 - http_request(headers).size();
  headers.back().value.assign(short_by, 'p');
  std::string request = http_request(headers);
  ASSERT_EQ(request.size(), 8191u);
  WsClient page;
  ASSERT_TRUE(ws_open(page, port));
  ws_handshake(page, request);
  EXPECT_EQ(page.handshake, switching_protocols(kSampleAccept));
}

TEST_F(HttpIntake, NulBeforeTheBlankLineHidesIt) {
  std::string request = http_request(page_headers(port));
  request.insert(request.size() - 2, 1, '\0');
  WsClient client;
  ASSERT_TRUE(ws_open(client, port));
  ASSERT_TRUE(ws_send(client, request));
  bool closed = false;
  EXPECT_EQ(ws_read_raw(client, 400, 0, &closed), "");
  EXPECT_FALSE(closed);
  // Filling the buffer then ends it like any request without a blank line.
  ASSERT_TRUE(ws_send(client, std::string(8191 - request.size(), 'z')));
  EXPECT_TRUE(ws_closed_within(client, 2000));
  EXPECT_TRUE(later_messages().empty());
}

TEST_F(HttpIntake, BytesAfterTheBlankLineAreIgnored) {
  std::string plain = "GET / HTTP/1.1\r\nHost: localhost:" + std::to_string(port) + "\r\n\r\n";
  EXPECT_EQ(exchange(plain + "GET /second HTTP/1.1\r\n\r\nbody"), kPlainReply);

  // A frame sent along with the upgrade request is not taken as a WebSocket frame.
  WsClient page;
  ASSERT_TRUE(ws_open(page, port));
  ws_handshake(page, http_request(page_headers(port)) + ping_frame("early"));
  EXPECT_EQ(page.handshake, switching_protocols(kSampleAccept));
  EXPECT_EQ(ws_read_raw(page, 300), "");
  ASSERT_TRUE(ws_send(page, ping_frame("late")));
  EXPECT_EQ(ws_read_raw(page, 2000, 6), "\x8a\x04late");
}

TEST_F(HttpIntake, PeerClosingMidRequestLeavesNoLine) {
  WsClient client;
  ASSERT_TRUE(ws_open(client, port));
  ASSERT_TRUE(ws_send(client, "GET / HTTP/1.1\r\nHost: "));
  ws_disconnect(client);
  // The helper is still serving.
  EXPECT_EQ(exchange("GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n"),
            kPlainReply);
  EXPECT_TRUE(later_messages().empty());
}

}  // namespace
