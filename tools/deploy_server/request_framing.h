// Where one HTTP/1.1 request ends in the bytes a connection has received so far: the
// head up to its empty line, then a body of Content-Length bytes. The event loop reads
// until a request is whole before anything parses it, so a client that sends slowly
// costs a buffer, never a thread.
//
//   auto framing = frameRequest("POST /x HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}", limits);
//   framing.state == FramingState::complete && framing.length == 42
#pragma once

#include <cstddef>
#include <string_view>

namespace qelvo::deploy {

enum class FramingState {
  incomplete,      // more bytes are needed
  complete,        // the first `length` bytes are one request
  headTooLarge,    // 431: the head passed its bound
  bodyTooLarge,    // 413: Content-Length passed the body bound
  malformed,       // 400: an unreadable or contradictory Content-Length
  lengthRequired,  // 411: a chunked body (requests here carry a Content-Length)
};

struct Framing {
  FramingState state = FramingState::incomplete;
  std::size_t length = 0;
  // The head is in, asks for "Expect: 100-continue", and its body is not.
  bool expectsContinue = false;
};

struct FramingLimits {
  std::size_t maxHead = 16 * 1024;
  std::size_t maxBody = 64 * 1024;
};

Framing frameRequest(std::string_view received, const FramingLimits& limits);

// Empty lines that may precede a request (left over from a client's previous one).
std::size_t leadingEmptyLines(std::string_view received);

}  // namespace qelvo::deploy
