#pragma once
// Internal to the net layer (URLConnection and the synchronous send use it; nothing else
// should). One HTTP exchange without redirects, run by the shared I/O thread on libcurl's
// multi interface.
//
// A transfer reports to its sink, on the I/O thread, in this order: Response (headers of a
// final reply), Data (zero or more body chunks), then Complete (with or without an error).
// A reply that redirects (301, 302, 303, 307, 308 with a usable Location) gives one Redirect
// event instead, carrying the reply, its body and the resolved target; the owner decides
// whether to follow it with a new transfer. Body bytes beyond the cap end the transfer with
// -1103. After cancel() returns, the sink is never called again and is released.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/URL.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLResponse.h"

namespace platform::netdetail {

struct TransferEvent {
    enum class Kind { Response, Data, Redirect, Complete };
    Kind kind = Kind::Complete;
    std::optional<URLResponse> response; // Response, Redirect
    // Data: the chunk, lent for the length of the sink's call only (the sink copies what it
    // keeps, into a buffer of its choosing).
    std::span<const std::uint8_t> bytes;
    std::vector<std::uint8_t> data;      // Redirect: the redirect reply's body
    std::optional<URL> redirectTarget;   // Redirect
    std::optional<Error> error;          // Complete: nullopt when the exchange succeeded
};
using TransferSink = std::function<void(TransferEvent&&)>;

class Transfer;

class Transport {
  public:
    static Transport& shared();

    // Starts one exchange for `request` (its URL must be absolute http or https).
    std::shared_ptr<Transfer> start(const URLRequest& request, std::int64_t maxBodyLength, TransferSink sink);
    // Stops the exchange; no event reaches the sink once this returns. Safe from any thread
    // and on a transfer that has already completed.
    void cancel(const std::shared_ptr<Transfer>& transfer);

    // Exchanges started and not yet released by the I/O thread, for tests.
    std::size_t activeTransferCount() const;

    struct Impl;

  private:
    Transport();
    Impl* impl_;
};

// Whether the I/O layer can load URLs of this scheme ("http", "https", any case).
bool isLoadableScheme(std::string_view scheme);

} // namespace platform::netdetail
