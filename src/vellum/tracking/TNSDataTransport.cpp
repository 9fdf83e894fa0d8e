#include "vellum/tracking/TNSDataTransport.h"

#include <cstring>

#include <thrift/transport/TTransportException.h>

#include "platform/foundation/Error.h"

namespace vellum {

namespace {

constexpr const char* kInconsistencyException = "NSInternalInconsistencyException";
constexpr const char* kReadOnlyWriteReason =
    "You must initialize this object with mutable data if you intend to write to it.";

} // namespace

TNSDataTransport::TNSDataTransport(std::span<const std::uint8_t> data) : inputData_(data) {
    syncRemaining();
}

TNSDataTransport::TNSDataTransport(std::vector<std::uint8_t>& data)
    : outputData_(&data), writeEnd_(data.size()) {
    syncRemaining();
}

void TNSDataTransport::growOutput(std::uint32_t len) {
    auto& out = *outputData_;
    out.resize(std::max({out.size() * 2, writeEnd_ + len, kFirstOutputCapacity}));
}

void TNSDataTransport::flush() {
    if (outputData_ && outputData_->size() != writeEnd_)
        outputData_->resize(writeEnd_);
}

std::uint32_t TNSDataTransport::shortRead(std::uint8_t* buf, std::uint32_t len) {
    // Nothing is consumed; the caller's buffer is cleared so that a caller that ignores the
    // count decodes zeros, never stale bytes.
    if (len > 0)
        std::memset(buf, 0, len);
    return 0;
}

void TNSDataTransport::throwReadOnly() {
    throw platform::NamedException(kInconsistencyException, kReadOnlyWriteReason);
}

void TNSDataTransport::throwConsumedTooMuch() {
    throw apache::thrift::transport::TTransportException(
        apache::thrift::transport::TTransportException::END_OF_FILE, "Consumed more than was borrowed.");
}

} // namespace vellum
