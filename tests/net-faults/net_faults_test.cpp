// FetchPage against servers that misbehave. Every case must end within the
// time-outs given to the facility, with the text and Content-Type that a
// failure at that point leaves, and with no descriptor left open.
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>

#include "LoopbackServer.h"
#include "net/CurlFacility.h"
#include "net/ModINET.h"
#include "text/CodePage.h"

namespace {

using namespace std::chrono_literals;
using Seconds = std::chrono::duration<double>;

// Short enough to keep the run quick, long enough above the 100 ms pauses of
// the slow server that a loaded machine does not turn them into a stall.
constexpr ModINET::Timeouts kTimeouts{500ms, 1500ms};
const std::u16string kCaller = u"caller/unchanged";

auto OpenDescriptors() { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); }

std::string Head(const std::string& fields) { return "HTTP/1.1 200 OK\r\n" + fields + "\r\n\r\n"; }

struct FaultCase {
  const char* name;
  std::function<void(LoopbackServer&)> play;
  char textChar;  // the text must be `textLength` times this character
  size_t textLength;
  std::u16string type;
  Seconds duration;  // the time-outs that may run out, plus the time that the server takes
  int connections = 1;  // how many the fetch makes
};

const FaultCase kCases[] = {
    {"AcceptsAndNeverAnswers", [](LoopbackServer& s) { s.Pause(60s); }, 0, 0, kCaller, kTimeouts.stall},
    {"SendsHeadersThenStalls",
     [](LoopbackServer& s) {
       if (!s.ReadRequest().empty() && s.Send(Head("Content-Type: text/html\r\nContent-Length: 1000"))) s.Pause(60s);
     },
     0, 0, u"text/html", kTimeouts.stall},
    // The body is cut off at the fetcher's limit and what came before it is
    // kept. The server gives up at four times the limit, so that a fetcher
    // without one fails the size check instead of running into the test's time limit.
    {"SendsAnEndlessBody",
     [](LoopbackServer& s) {
       const std::string block(64 * 1024, 'e');
       bool more = !s.ReadRequest().empty() && s.Send(Head("Content-Type: text/plain"));
       for (uint64_t sent = 0; more && sent < 4 * ModINET::kMaxBodyBytes; sent += block.size()) more = s.Send(block);
     },
     'e', ModINET::kMaxBodyBytes, u"text/plain", Seconds(30)},
    // Only the final response's body counts, and a loop, followed up to the
    // limit of 20 redirects, has none.
    {"AnswersWithARedirectLoop",
     [](LoopbackServer& s) {
       if (!s.ReadRequest().empty())
         s.Send("HTTP/1.1 302 Found\r\nLocation: /again\r\nContent-Type: text/html\r\nContent-Length: 6\r\n"
                "Connection: close\r\n\r\nmoved!");
     },
     0, 0, kCaller, Seconds(0), 21},
    {"SendsAOneMebibyteHeaderLine",
     [](LoopbackServer& s) {
       if (!s.ReadRequest().empty())
         s.Send(Head("Content-Type: text/html\r\nX-Filler: " + std::string(1 << 20, 'h') + "\r\nContent-Length: 5") +
                "hello");
     },
     0, 0, kCaller, Seconds(0)},
    // The reset comes once the client has had time to take in what was sent.
    {"ResetsTheConnectionMidBody",
     [](LoopbackServer& s) {
       if (!s.ReadRequest().empty() && s.Send(Head("Content-Type: text/x\r\nContent-Length: 100000")) &&
           s.Send(std::string(20000, 'r')) && s.Pause(300ms))
         s.Reset();
     },
     'r', 20000, u"text/x", Seconds(0.3)},
    // A pause of 100 ms is no stall: the whole body arrives, over 5 s.
    {"AnswersOneByteEvery100Milliseconds",
     [](LoopbackServer& s) {
       bool more = !s.ReadRequest().empty() && s.Send(Head("Content-Type: text/plain\r\nContent-Length: 50"));
       for (int i = 0; more && i < 50; ++i) more = s.Pause(100ms) && s.Send("s");
     },
     's', 50, u"text/plain", Seconds(5.0)},
};

class NetFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(NetFaults, EndsWithinItsTimeOut) {
  const FaultCase& c = GetParam();
  const auto descriptorsBefore = OpenDescriptors();
  std::u16string text, type = kCaller;
  Seconds elapsed{};
  {
    LoopbackServer server(c.play);
    ModINET::CurlFacility facility(kTimeouts, [](const std::string&) { return std::string(); });
    const auto start = std::chrono::steady_clock::now();
    text =
        ModINET::FetchPage(facility, quillmere::text::FromCodePage(server.Url("/search.asp?q=x")), type, u"", 1024, 1);
    elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(server.connections, c.connections);
  }
  EXPECT_EQ(text.size(), c.textLength);
  EXPECT_EQ(text.find_first_not_of(static_cast<char16_t>(c.textChar)), std::u16string::npos);
  EXPECT_EQ(type, c.type);
  // Slack for a busy machine and the sanitizers.
  EXPECT_LT(elapsed.count(), (c.duration + Seconds(4)).count()) << "the fetch did not end within its time-out";
  EXPECT_EQ(OpenDescriptors(), descriptorsBefore) << "descriptors left open";
}

INSTANTIATE_TEST_SUITE_P(Loopback, NetFaults, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

}  // namespace
