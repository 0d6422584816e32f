// FetchPage against servers that misbehave. Every case must end within the
// limits given to the facility, with the text and Content-Type that a failure
// at that point leaves, and, while the facility lives on, with no descriptor
// left open.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "LoopbackServer.h"
#include "net/CurlFacility.h"
#include "net/ModINET.h"
#include "text/CodePage.h"

namespace {

using namespace std::chrono_literals;
using ModINET::Timeouts;
using Seconds = std::chrono::duration<double>;
using Clock = std::chrono::steady_clock;

// Each case shortens the limit it is about and keeps the others far longer,
// so that a limit dropped or swapped for another runs past the case's bound.
constexpr Timeouts kConnect{300ms, 10s, 60s}, kStall{10s, 500ms, 60s}, kTotal{10s, 2s, 1s}, kLong{10s, 10s, 60s};
const std::u16string kCaller = u"caller/unchanged";

std::u16string Fetch(ModINET::CurlFacility& facility, const LoopbackServer& server, std::u16string& type) {
  return ModINET::FetchPage(facility, quillmere::text::FromCodePage(server.Url("/search.asp?q=x")), type, u"", 1024, 1);
}
auto OpenDescriptors() { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); }
std::string Head(const std::string& fields) { return "HTTP/1.1 200 OK\r\n" + fields + "\r\n\r\n"; }
// Reads the request and sends `reply`.
auto Answer(const std::string& reply) { return [=](LoopbackServer& s) { s.ReadRequest().empty() || s.Send(reply); }; }
// The header of a body of `length` bytes, then a byte every `pause`, `count` times, then silence.
auto Trickle(int length, std::chrono::milliseconds pause, int count) {
  return [=](LoopbackServer& s) {
    bool more = !s.ReadRequest().empty() &&
                s.Send(Head("Content-Type: text/plain\r\nContent-Length: " + std::to_string(length)));
    for (int i = 0; more && i < count; ++i) more = s.Pause(pause) && s.Send("s");
    s.Pause(60s);
  };
}

struct FaultCase {
  const char* name;
  std::function<void(LoopbackServer&)> play;  // none: a host that never accepts the connection
  Timeouts timeouts;
  char textChar;  // the text is `minLength` to `maxLength` times this character
  size_t minLength, maxLength;
  std::u16string type;
  Seconds duration;  // how long the fetch may take, besides slack for a loaded machine
  int connections = 1;
  ModINET::FetchFailure failure = ModINET::FetchFailure::Other;  // what the report names
};
using enum ModINET::FetchFailure;

const FaultCase kCases[] = {
    {"NeverAcceptsTheConnection", nullptr, kConnect, 0, 0, 0, kCaller, 300ms, 0, ConnectTimeout},
    {"AcceptsAndNeverAnswers", [](LoopbackServer& s) { s.Pause(60s); }, kStall, 0, 0, 0, kCaller, 500ms, 1, Stalled},
    {"SendsHeadersThenStalls", Trickle(1000, 0ms, 0), kStall, 0, 0, 0, u"text/plain", 500ms, 1, Stalled},
    // A byte every 200 ms trips no stall; the whole fetch ends after 1 s with what came.
    {"TricklesPastTheWholeFetchLimit", Trickle(1000, 200ms, 40), kTotal, 's', 2, 8, u"text/plain", 1s, 1, TotalTimeout},
    // A pause of 100 ms is no stall: the whole body arrives, over 2 s.
    {"AnswersOneByteEvery100Milliseconds", Trickle(20, 100ms, 20), {10s, 1500ms, 60s}, 's', 20, 20, u"text/plain", 2s, 1, None},
    // The body is cut off after 64 MiB and what came before is kept. The
    // server gives up at four times that, so that a fetcher without a limit
    // fails the size check instead of running into the test's time limit.
    {"SendsAnEndlessBody",
     [](LoopbackServer& s) {
       const std::string block(64 * 1024, 'e');
       bool more = !s.ReadRequest().empty() && s.Send(Head("Content-Type: text/plain"));
       for (uint64_t sent = 0; more && sent < uint64_t{256} << 20; sent += block.size()) more = s.Send(block);
     },
     kLong, 'e', size_t{64} << 20, size_t{64} << 20, u"text/plain", 30s, 1, TooLarge},
    // Only the final response's body counts, and a loop, followed up to the
    // limit of 20 redirects, has none.
    {"AnswersWithARedirectLoop",
     Answer("HTTP/1.1 302 Found\r\nLocation: /again\r\nContent-Type: text/html\r\nContent-Length: 6\r\n"
            "Connection: close\r\n\r\nmoved!"),
     kLong, 0, 0, 0, kCaller, 0s, 21, TooManyRedirects},
    {"SendsAOneMebibyteHeaderLine",
     Answer(Head("Content-Type: text/html\r\nX-Filler: " + std::string(1 << 20, 'h') + "\r\nContent-Length: 5") +
            "hello"),
     kLong, 0, 0, 0, kCaller, 0s},
    // The reset comes once the client has had time to take in what was sent.
    {"ResetsTheConnectionMidBody",
     [](LoopbackServer& s) {
       if (!s.ReadRequest().empty() && s.Send(Head("Content-Type: text/x\r\nContent-Length: 100000")) &&
           s.Send(std::string(20000, 'r')) && s.Pause(300ms))
         s.Reset();
     },
     kLong, 'r', 20000, 20000, u"text/x", 300ms},
};

class NetFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(NetFaults, EndsWithinItsLimit) {
  const FaultCase& c = GetParam();
  ModINET::CurlFacility facility(c.timeouts, {});
  const auto descriptorsBefore = OpenDescriptors();
  std::u16string text, type = kCaller;
  Seconds elapsed{};
  {
    LoopbackServer server(c.play);
    const auto start = Clock::now();
    text = Fetch(facility, server, type);
    elapsed = Clock::now() - start;
    EXPECT_EQ(server.connections, c.connections);
  }
  EXPECT_TRUE(text.size() >= c.minLength && text.size() <= c.maxLength) << text.size();
  EXPECT_EQ(text.find_first_not_of(static_cast<char16_t>(c.textChar)), std::u16string::npos);
  EXPECT_EQ(type, c.type);
  EXPECT_EQ(ModINET::LastFetchReport().failure, c.failure);
  EXPECT_LT(elapsed.count(), (c.duration + 3s).count()) << "the fetch did not end within its limit";
  EXPECT_EQ(OpenDescriptors(), descriptorsBefore) << "descriptors left open by a fetch that is over";
}

INSTANTIATE_TEST_SUITE_P(Loopback, NetFaults, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

// The flag is set from another thread while the server keeps silent, at a
// time when libcurl itself has nothing to wake up for, and the server's
// script ends once it sees the connection closed.
TEST(Cancel, EndsTheFetchAtOnceClosesItsConnectionAndFailsEveryLaterCall) {
  std::atomic<bool> cancelled{false};
  LoopbackServer server([](LoopbackServer& s) { s.ReadRequest(), s.ReadRequest(true); });
  ModINET::CurlFacility facility(kLong, {}, &cancelled);
  std::thread canceller([&] { std::this_thread::sleep_for(300ms), cancelled = true; });
  std::u16string type = kCaller;
  const auto start = Clock::now();
  EXPECT_EQ(Fetch(facility, server, type), u"");
  EXPECT_LT(Seconds(Clock::now() - start).count(), 0.8) << "the fetch went on after it was cancelled";
  EXPECT_EQ(ModINET::LastFetchReport().failure, Cancelled);
  canceller.join();
  for (auto until = Clock::now() + 2s; !server.finished && Clock::now() < until;) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(server.finished, 1) << "the server did not see the connection closed";
  const auto again = Clock::now();
  EXPECT_EQ(Fetch(facility, server, type), u"");
  EXPECT_LT(Seconds(Clock::now() - again).count(), 0.1);
  EXPECT_EQ(type, kCaller);
  EXPECT_EQ(server.connections, 1);
}

}  // namespace
