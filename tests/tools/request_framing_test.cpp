#include "deploy_server/request_framing.h"

#include <gtest/gtest.h>

#include <string>

namespace qelvo::deploy {
namespace {

// Where a request ends, or why it is refused, for each kind of head and body a client may
// send, at the bounds and one past them.
TEST(RequestFraming, FindsTheEndOfOneRequestOrTheReasonToRefuseIt) {
  const FramingLimits limits{.maxHead = 64, .maxBody = 8};
  const std::string post = "POST /x HTTP/1.1\r\n";
  // A head of exactly `size` bytes, its filler header padded to fit.
  auto headOf = [&](std::size_t size) {
    std::string head = post + "X: \r\n\r\n";
    return head.insert(post.size() + 3, std::string(size - head.size(), 'a'));
  };
  const struct {
    std::string received;
    FramingState state;
    std::size_t length = 0;
    bool expectsContinue = false;
  } cases[] = {
      {post + "Content-Length: 2\r\n\r\n{}", FramingState::complete, post.size() + 23},
      {post + "Content-Length: 2\r\n\r\n{}GET", FramingState::complete, post.size() + 23},
      {post + "Content-Length: 2\r\n\r\n{", FramingState::incomplete},
      {"GET / HTTP/1.1\nHost: h\n\n", FramingState::complete, 24},
      {post + "content-length:  8 \r\n\r\n12345678", FramingState::complete, post.size() + 31},
      {post + "Content-Length: 2\r\nContent-Length: 2\r\n\r\n{}", FramingState::complete,
       post.size() + 42},
      {post + "Content-Length: 2\r\nContent-Length: 3\r\n\r\n{}", FramingState::malformed},
      {post + "Content-Length: 1x\r\n\r\n", FramingState::malformed},
      {post + "Content-Length: -1\r\n\r\n", FramingState::malformed},
      {post + "Content-Length: \r\n\r\n", FramingState::malformed},
      {post + "Content-Length: 9\r\n\r\n", FramingState::bodyTooLarge},
      {post + "Transfer-Encoding: chunked\r\n\r\n", FramingState::lengthRequired},
      {post + "Expect: 100-continue\r\nContent-Length: 2\r\n\r\n", FramingState::incomplete, 0,
       true},
      {headOf(64), FramingState::complete, 64},
      {headOf(65), FramingState::headTooLarge},
      {post + std::string(46, 'a'), FramingState::incomplete},
      {post + std::string(47, 'a'), FramingState::headTooLarge},
  };
  for (const auto& c : cases) {
    auto framing = frameRequest(c.received, limits);
    EXPECT_EQ(framing.state, c.state) << c.received;
    EXPECT_EQ(framing.length, c.length) << c.received;
    EXPECT_EQ(framing.expectsContinue, c.expectsContinue) << c.received;
  }
  EXPECT_EQ(leadingEmptyLines("\r\n\nGET / HTTP/1.1"), 3u);
  EXPECT_EQ(leadingEmptyLines("GET / HTTP/1.1\r\n"), 0u);
  EXPECT_EQ(leadingEmptyLines("\r\n"), 2u);
}

}  // namespace
}  // namespace qelvo::deploy
