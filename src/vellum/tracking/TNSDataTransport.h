#pragma once
// The in-memory transport that carries every Thrift message of the tracking library: reads
// take bytes from a buffer in memory, writes append to a growable byte vector.
//
// Made over read-only bytes it reads them and has no write buffer; made over a mutable
// vector it reads from that vector and appends to it. The transport does not own the bytes:
// they must outlive it. One transport per message, used on one thread; it has no
// callbacks and nothing to cancel.
//
// Writing gathers the bytes in a small buffer inside the transport and appends them to the
// vector a few kilobytes at a time: appending a number costs one bounds check and a copy
// into memory that stays in the processor's cache, and the vector's memory is written once
// (growing it by resizing would first fill every new byte with zeros). flush() appends what
// is gathered. The TBinaryProtocol flushes at the end of every top-level struct it writes,
// and the transport flushes when it goes, so the vector holds exactly the encoded bytes as
// soon as a payload's write() returns. While the transport lives, the vector belongs to it;
// reading from it first appends what is gathered.
//
// A read asks for an exact number of bytes: when they are there it copies them (or hands
// them out in place, take()) and moves the position on; when fewer remain it answers 0,
// leaves the position where it is and clears the caller's buffer (so a caller that ignores
// the count never decodes stale bytes). It also keeps the Thrift runtime's count of
// remaining message bytes equal to the bytes present, so container sizes checked by the
// runtime are bounded by the data.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include <thrift/transport/TVirtualTransport.h>

namespace vellum {

class TNSDataTransport final : public apache::thrift::transport::TVirtualTransport<TNSDataTransport> {
  public:
    // Reads `data`; writing is a programming error.
    explicit TNSDataTransport(std::span<const std::uint8_t> data);
    // Reads from `data` and appends every write to it.
    explicit TNSDataTransport(std::vector<std::uint8_t>& data);

    // The next `len` bytes in place, consumed, or nullptr when fewer remain (then nothing is
    // consumed). Every read goes through here: one comparison of the read position with the
    // end of the readable bytes. Bytes gathered by writes and not yet appended lie past that
    // end, so they cost the fast path nothing; the slow path appends them and looks again.
    const std::uint8_t* take(std::uint32_t len) {
        if (static_cast<std::size_t>(end_ - next_) < len) [[unlikely]]
            return takeSlow(len);
        const std::uint8_t* bytes = next_;
        next_ += len;
        syncRemaining();
        return bytes;
    }
    // Copies exactly `len` bytes into `buf` and answers `len`, or answers 0 when fewer remain.
    std::uint32_t readAll(std::uint8_t* buf, std::uint32_t len) {
        if (const std::uint8_t* bytes = take(len)) [[likely]] {
            std::memcpy(buf, bytes, len);
            return len;
        }
        return shortRead(buf, len);
    }
    // Copies up to `len` bytes; answers how many.
    std::uint32_t read(std::uint8_t* buf, std::uint32_t len) {
        return readAll(buf, static_cast<std::uint32_t>(std::min<std::size_t>(len, available())));
    }
    // Appends `len` bytes to the write buffer. Throws (NSInternalInconsistencyException)
    // when the transport was made over read-only bytes.
    void write(const std::uint8_t* buf, std::uint32_t len) {
        // A read-only transport has no room to gather in (stageLimit_ 0): the slow path
        // refuses its writes.
        if (stageLimit_ - staged_ < len || len == 0) [[unlikely]] {
            writeSlow(buf, len);
            return;
        }
        std::memcpy(stage_.data() + staged_, buf, len);
        staged_ += len;
    }
    // Room for exactly `len` bytes at the end of what is written, which the caller fills at
    // once; nullptr when the gathering buffer has no such room (or the transport is
    // read-only): the caller then writes with write(). Lets a header and its value be
    // written with one bounds check.
    std::uint8_t* stagedSpace(std::uint32_t len) {
        if (stageLimit_ - staged_ < len) [[unlikely]]
            return nullptr;
        std::uint8_t* space = stage_.data() + staged_;
        staged_ += len;
        return space;
    }
    // The next `*len` bytes in place, without consuming them, or nullptr when fewer remain.
    const std::uint8_t* borrow(std::uint8_t* /*buf*/, std::uint32_t* len) {
        if (staged_ != 0) [[unlikely]]
            appendStaged();
        if (!len || available() < *len)
            return nullptr;
        *len = static_cast<std::uint32_t>(std::min<std::size_t>(available(), UINT32_MAX));
        return next_;
    }
    // Consumes `len` borrowed bytes. Throws when fewer remain.
    void consume(std::uint32_t len) {
        if (static_cast<std::size_t>(end_ - next_) < len) [[unlikely]]
            throwConsumedTooMuch();
        next_ += len;
        syncRemaining();
    }
    // Ends reading: from now on every read finds no bytes, whatever remains. A reader whose
    // end of data must be final (TBinaryProtocol's readError) calls it at its first read
    // error, so that later reads need no check of their own. Writing goes on as before.
    void endReading();

    bool isOpen() const override { return true; }
    bool peek() override { return available() > 0; }
    void open() override {}
    void close() override {}
    // Trims the write buffer to the bytes written (see the class comment).
    void flush() override;
    ~TNSDataTransport() override { flush(); }

    // Bytes read so far.
    std::size_t position() const { return static_cast<std::size_t>(next_ - base_); }
    // Bytes left to read (gathered bytes included); none once reading has ended.
    std::size_t available() const {
        return readingEnded_ ? 0 : static_cast<std::size_t>(end_ - next_) + staged_;
    }
    bool hasWriteBuffer() const { return outputData_ != nullptr; }

  private:
    // Small enough to stay in the fastest cache, large enough that appending it is rare.
    static constexpr std::uint32_t kStageBytes = 4096;

    const std::uint8_t* takeSlow(std::uint32_t len);
    void writeSlow(const std::uint8_t* buf, std::uint32_t len);
    void appendStaged();
    // Points the read window at the mutable buffer again after it has grown or moved.
    void rebaseOnOutput();
    std::uint32_t shortRead(std::uint8_t* buf, std::uint32_t len);
    [[noreturn]] static void throwReadOnly();
    [[noreturn]] static void throwConsumedTooMuch();
    void syncRemaining() { setRemainingMessageSize(static_cast<long>(available())); }

    // The read window over the input (the read-only bytes, mInputData, or the mutable
    // buffer): base_ is its first byte, next_ the next byte to read, end_ one past the last
    // byte that can be read without appending gathered bytes. Never null, even over no
    // bytes, so a read of zero bytes copies from a real address.
    const std::uint8_t* base_ = nullptr;
    const std::uint8_t* next_ = nullptr;
    const std::uint8_t* end_ = nullptr;
    std::vector<std::uint8_t>* outputData_ = nullptr; // the mutable buffer (mOutputData), or null
    bool readingEnded_ = false;
    std::uint32_t staged_ = 0;     // bytes gathered in stage_, not yet in outputData_
    std::uint32_t stageLimit_ = 0; // kStageBytes with a write buffer, else 0
    std::array<std::uint8_t, kStageBytes> stage_;
};

} // namespace vellum
