#pragma once

#include <atomic>
#include <string>

class TestServer;

/// Registers on `server` the answers of a misbehaving web server:
///  /cut/N      announces 2N bytes, sends N, then closes the connection
///  /endless    sends zeros for ever (until the client goes, or 4 GiB)
///  /trickle    sends one byte every 200 ms for ten minutes
///  /gzip/N     N zero bytes compressed with gzip (Content-Encoding: gzip)
///  /silent     accepts the request and answers nothing for ten minutes
/// Every answer ends early once `released` is set, so that the server stops at
/// once when a test ends.
void serve_faults(TestServer& server, const std::atomic<bool>& released);

/// `size` zero bytes compressed in the gzip format.
std::string gzip_of_zeros(std::size_t size);
