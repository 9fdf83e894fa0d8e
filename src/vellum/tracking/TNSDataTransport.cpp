#include "vellum/tracking/TNSDataTransport.h"

#include <cstring>

#include <thrift/transport/TTransportException.h>

#include "platform/foundation/Error.h"

namespace vellum {

namespace {

constexpr const char* kInconsistencyException = "NSInternalInconsistencyException";
constexpr const char* kReadOnlyWriteReason =
    "You must initialize this object with mutable data if you intend to write to it.";

// Where the read window points when there are no bytes at all.
constexpr std::uint8_t kNoBytes[1] = {0};

} // namespace

TNSDataTransport::TNSDataTransport(std::span<const std::uint8_t> data)
    : base_(data.data() ? data.data() : kNoBytes), next_(base_), end_(base_ + data.size()) {
    syncRemaining();
}

TNSDataTransport::TNSDataTransport(std::vector<std::uint8_t>& data)
    : base_(kNoBytes), next_(kNoBytes), end_(kNoBytes), outputData_(&data), stageLimit_(kStageBytes) {
    rebaseOnOutput();
}

void TNSDataTransport::rebaseOnOutput() {
    const std::size_t at = position();
    base_ = outputData_->empty() ? kNoBytes : outputData_->data();
    next_ = base_ + at;
    end_ = readingEnded_ ? next_ : base_ + outputData_->size();
    syncRemaining();
}

const std::uint8_t* TNSDataTransport::takeSlow(std::uint32_t len) {
    if (staged_ == 0 || readingEnded_)
        return nullptr;
    appendStaged();
    return take(len);
}

void TNSDataTransport::endReading() {
    readingEnded_ = true;
    end_ = next_;
    syncRemaining();
}

void TNSDataTransport::writeSlow(const std::uint8_t* buf, std::uint32_t len) {
    if (!outputData_)
        throwReadOnly();
    if (len == 0)
        return;
    appendStaged();
    if (len >= kStageBytes) {
        outputData_->insert(outputData_->end(), buf, buf + len);
        rebaseOnOutput();
        return;
    }
    std::memcpy(stage_.data(), buf, len);
    staged_ = len;
}

void TNSDataTransport::appendStaged() {
    if (staged_ == 0)
        return;
    outputData_->insert(outputData_->end(), stage_.data(), stage_.data() + staged_);
    staged_ = 0;
    rebaseOnOutput();
}

void TNSDataTransport::flush() {
    if (outputData_)
        appendStaged();
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
