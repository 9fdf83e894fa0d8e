#pragma once
// Orders an in-process server's work before the client's reading of its reply.
//
// The embedded services and the tests' loopback services answer on their own threads, in the
// same process as the client. A reply's bytes travel through a socket, which orders the
// server's work (a handler reading state the test or the application set) before the client
// sees the reply, but a race detector cannot see an order made by a socket. A server marks
// each reply as written before its bytes go out (a release), and the transport reads the mark
// as replies arrive (an acquire), so that order is visible to it. Costs one atomic operation
// per reply on each side; any thread may call either function.
#include <atomic>

namespace platform {

inline std::atomic<unsigned> inProcessRepliesWritten{0};

// Called by an in-process server once a reply is complete and before it is sent.
inline void markReplyWritten() { inProcessRepliesWritten.fetch_add(1, std::memory_order_release); }

// Called by the transport as a reply arrives.
inline void observeRepliesWritten() { (void)inProcessRepliesWritten.load(std::memory_order_acquire); }

} // namespace platform
