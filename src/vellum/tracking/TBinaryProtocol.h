#pragma once
// The Thrift binary protocol over a TNSDataTransport, as every message of the tracking
// library is written and read: the runtime's own binary protocol, strict reading and
// writing off (structs are written bare, without a message envelope), with one addition
// for reading, the readError flag.
//
// End of data. Every read first checks that its bytes are there. When they are not, it
// sets readError, consumes nothing and yields a zero value; once readError is set it
// stays set, and every later read yields zero without touching the data. A field header
// read while readError is set reads as the stop field, so the struct being read ends, and
// each struct around it ends at its own next field header. A reply cut short therefore
// reads as the fields before the cut, without an exception.
//
// Sizes read from the data are bounded by the bytes present: a string length, list count
// or map count that is negative, or larger than the remaining bytes could hold, is treated
// as the end of the data (readError), so a corrupt reply never allocates more than it holds.
//
// One protocol per message, on one thread; nothing to cancel. Writing throws only on
// programming errors (writing to a read-only transport).
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/protocol/TProtocolException.h>

#include "vellum/tracking/TNSDataTransport.h"

namespace vellum {

class TBinaryProtocol final : public apache::thrift::protocol::TBinaryProtocolT<TNSDataTransport> {
    using Base = apache::thrift::protocol::TBinaryProtocolT<TNSDataTransport>;
    using TType = apache::thrift::protocol::TType;

public:
    explicit TBinaryProtocol(std::shared_ptr<TNSDataTransport> transport);

    // Set when a read found fewer bytes than it needed (or a size that the data cannot hold).
    bool readError() const { return readError_; }

    // Writing a struct; the end of the outermost one flushes the transport, so its buffer
    // then holds exactly the bytes written.
    std::uint32_t writeStructBegin(const char* name) {
        ++writeDepth_;
        return Base::writeStructBegin(name);
    }
    std::uint32_t writeStructEnd() {
        if (writeDepth_ > 0 && --writeDepth_ == 0)
            trans_->flush();
        return Base::writeStructEnd();
    }
    std::uint32_t writeStructBegin_virt(const char* name) override { return writeStructBegin(name); }
    std::uint32_t writeStructEnd_virt() override { return writeStructEnd(); }

    // The writes on the hot path put each header together with what follows it in one step:
    // the same bytes as the runtime's writeFieldBegin followed by the value's own write, with
    // one bounds check instead of two or three.
    std::uint32_t writeFieldBegin(const char* name, TType fieldType, std::int16_t fieldId) {
        if (std::uint8_t* out = trans_->stagedSpace(kFieldHeaderBytes)) [[likely]] {
            putFieldHeader(out, fieldType, fieldId);
            return kFieldHeaderBytes;
        }
        return Base::writeFieldBegin(name, fieldType, fieldId);
    }
    std::uint32_t writeString(const std::string& str) {
        if (str.size() <= kStagedStringBytes)
            if (std::uint8_t* out =
                    trans_->stagedSpace(kSizeBytes + static_cast<std::uint32_t>(str.size()))) {
                putSizedBytes(out, str);
                return kSizeBytes + static_cast<std::uint32_t>(str.size());
            }
        return Base::writeString(str);
    }
    // A field whose value has a fixed size (bool, i16, i32, i64, double), header and value.
    template <typename T> void writeFixedField(TType fieldType, std::int16_t fieldId, T value) {
        constexpr std::uint32_t kBytes = kFieldHeaderBytes + sizeof(T);
        if (std::uint8_t* out = trans_->stagedSpace(kBytes)) [[likely]] {
            putFieldHeader(out, fieldType, fieldId);
            putBigEndian(out + kFieldHeaderBytes, value);
            return;
        }
        Base::writeFieldBegin(nullptr, fieldType, fieldId);
        putValue(value);
    }
    // A string field, header, size and bytes.
    void writeStringField(std::int16_t fieldId, const std::string& str) {
        if (str.size() <= kStagedStringBytes) {
            const auto size = static_cast<std::uint32_t>(str.size());
            if (std::uint8_t* out = trans_->stagedSpace(kFieldHeaderBytes + kSizeBytes + size)) [[likely]] {
                putFieldHeader(out, apache::thrift::protocol::T_STRING, fieldId);
                putSizedBytes(out + kFieldHeaderBytes, str);
                return;
            }
        }
        Base::writeFieldBegin(nullptr, apache::thrift::protocol::T_STRING, fieldId);
        Base::writeString(str);
    }

    // The reads, each checked against the bytes present (see above). These hide the
    // runtime's versions, and the virtual entry points below lead here too, so generated
    // code reading through a TProtocol& gets the same end-of-data behaviour.
    std::uint32_t readFieldBegin(std::string& name, TType& fieldType, std::int16_t& fieldId);
    std::uint32_t readListBegin(TType& elemType, std::uint32_t& size);
    std::uint32_t readMapBegin(TType& keyType, TType& valType, std::uint32_t& size);
    std::uint32_t readSetBegin(TType& elemType, std::uint32_t& size);
    std::uint32_t readBool(bool& value);
    std::uint32_t readByte(std::int8_t& byte);
    std::uint32_t readI16(std::int16_t& i16);
    std::uint32_t readI32(std::int32_t& i32);
    std::uint32_t readI64(std::int64_t& i64);
    std::uint32_t readDouble(double& dub);
    std::uint32_t readString(std::string& str);
    std::uint32_t readBinary(std::string& str) { return readString(str); }
    // Skips one value of the given type with the runtime's skip over these reads. A type
    // code the protocol does not know, or nesting deeper than the runtime allows, ends the
    // message (readError): the size of such a value cannot be known.
    std::uint32_t skip(TType type);

    std::uint32_t readFieldBegin_virt(std::string& name, TType& fieldType, std::int16_t& fieldId) override {
        return readFieldBegin(name, fieldType, fieldId);
    }
    std::uint32_t readListBegin_virt(TType& elemType, std::uint32_t& size) override {
        return readListBegin(elemType, size);
    }
    std::uint32_t readMapBegin_virt(TType& keyType, TType& valType, std::uint32_t& size) override {
        return readMapBegin(keyType, valType, size);
    }
    std::uint32_t readSetBegin_virt(TType& elemType, std::uint32_t& size) override {
        return readSetBegin(elemType, size);
    }
    std::uint32_t readBool_virt(bool& value) override { return readBool(value); }
    std::uint32_t readBool_virt(std::vector<bool>::reference value) override {
        bool b = false;
        const std::uint32_t n = readBool(b);
        value = b;
        return n;
    }
    std::uint32_t readByte_virt(std::int8_t& byte) override { return readByte(byte); }
    std::uint32_t readI16_virt(std::int16_t& i16) override { return readI16(i16); }
    std::uint32_t readI32_virt(std::int32_t& i32) override { return readI32(i32); }
    std::uint32_t readI64_virt(std::int64_t& i64) override { return readI64(i64); }
    std::uint32_t readDouble_virt(double& dub) override { return readDouble(dub); }
    std::uint32_t readString_virt(std::string& str) override { return readString(str); }
    std::uint32_t readBinary_virt(std::string& str) override { return readString(str); }
    std::uint32_t skip_virt(TType type) override { return skip(type); }

    // Fewest bytes one value of a type takes on the wire (a struct: its stop byte); 0 for a
    // type code the protocol does not know.
    static std::uint32_t minWireSize(TType type);
    // The type codes that can stand on the wire. Any other byte is not turned into a TType
    // (it may lie outside the enumeration's range); it reads as T_VOID, a type of unknown
    // size, which cannot be skipped and so ends the message.
    static TType wireType(std::int8_t code);

private:
    static constexpr std::uint32_t kFieldHeaderBytes = 3; // type byte, big-endian i16 id
    static constexpr std::uint32_t kSizeBytes = 4;        // big-endian i32 size
    // Longer strings take the runtime's path (straight past the gathering buffer).
    static constexpr std::size_t kStagedStringBytes = 1024;

    static void putFieldHeader(std::uint8_t* out, TType fieldType, std::int16_t fieldId) {
        out[0] = static_cast<std::uint8_t>(fieldType);
        const auto id = static_cast<std::uint16_t>(fieldId);
        out[1] = static_cast<std::uint8_t>(id >> 8);
        out[2] = static_cast<std::uint8_t>(id);
    }
    static void putSizedBytes(std::uint8_t* out, const std::string& str) {
        putBigEndian(out, static_cast<std::int32_t>(str.size()));
        std::memcpy(out + kSizeBytes, str.data(), str.size());
    }
    template <typename T> static void putBigEndian(std::uint8_t* out, T value) {
        if constexpr (std::is_same_v<T, bool>) {
            out[0] = value ? 1 : 0;
        } else {
            using U = std::conditional_t<sizeof(T) == 2, std::uint16_t,
                                         std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>>;
            U bits = std::bit_cast<U>(value);
            if constexpr (std::endian::native == std::endian::little)
                bits = byteSwapped(bits);
            std::memcpy(out, &bits, sizeof bits);
        }
    }
    static std::uint16_t byteSwapped(std::uint16_t v) { return __builtin_bswap16(v); }
    static std::uint32_t byteSwapped(std::uint32_t v) { return __builtin_bswap32(v); }
    static std::uint64_t byteSwapped(std::uint64_t v) { return __builtin_bswap64(v); }
    void putValue(bool v) { Base::writeBool(v); }
    void putValue(std::int16_t v) { Base::writeI16(v); }
    void putValue(std::int32_t v) { Base::writeI32(v); }
    void putValue(std::int64_t v) { Base::writeI64(v); }
    void putValue(double v) { Base::writeDouble(v); }

    // The next `n` bytes in place, consumed; nullptr when fewer remain or readError is set.
    // The first short read sets readError and ends the transport's reading, so the end of
    // data is sticky with the transport's one comparison and no check of our own.
    const std::uint8_t* take(std::uint32_t n) {
        if (const std::uint8_t* bytes = trans_->take(n)) [[likely]]
            return bytes;
        endOfData();
        return nullptr;
    }
    void endOfData() {
        readError_ = true;
        trans_->endReading();
    }
    template <typename T> static T bigEndianAt(const std::uint8_t* in) {
        using U = std::conditional_t<sizeof(T) == 1, std::uint8_t,
                                     std::conditional_t<sizeof(T) == 2, std::uint16_t,
                                                        std::conditional_t<sizeof(T) == 4, std::uint32_t,
                                                                           std::uint64_t>>>;
        U bits;
        std::memcpy(&bits, in, sizeof bits);
        if constexpr (sizeof(U) > 1 && std::endian::native == std::endian::little)
            bits = byteSwapped(bits);
        return std::bit_cast<T>(bits);
    }
    // Reads a fixed-size number: its value, or zero at the end of the data.
    template <typename T> std::uint32_t readNumber(T& value) {
        const std::uint8_t* in = take(sizeof(T));
        value = in ? bigEndianAt<T>(in) : T{};
        return in ? sizeof(T) : 0;
    }
    // True when `n` more bytes can be read; otherwise sets readError.
    bool have(std::size_t n) {
        if (trans_->available() < n) {
            endOfData();
            return false;
        }
        return true;
    }
    // Checks a container count read from the data against the bytes present.
    bool countFits(std::int32_t count, std::uint32_t bytesPerElement) {
        if (count < 0) {
            endOfData();
            return false;
        }
        // Elements of unknown size count as one byte each, so the count is still bounded;
        // reading or skipping them then ends the message.
        return count == 0 ||
               have(static_cast<std::uint64_t>(count) * (bytesPerElement ? bytesPerElement : 1));
    }

    bool readError_ = false;
    int writeDepth_ = 0;
};

// ---- The reads on the hot path, inline ----

inline std::uint32_t TBinaryProtocol::readBool(bool& value) {
    std::int8_t byte = 0;
    const std::uint32_t n = readNumber(byte);
    value = byte != 0;
    return n;
}

inline std::uint32_t TBinaryProtocol::readByte(std::int8_t& byte) {
    return readNumber(byte);
}

inline std::uint32_t TBinaryProtocol::readI16(std::int16_t& i16) {
    return readNumber(i16);
}

inline std::uint32_t TBinaryProtocol::readI32(std::int32_t& i32) {
    return readNumber(i32);
}

inline std::uint32_t TBinaryProtocol::readI64(std::int64_t& i64) {
    return readNumber(i64);
}

inline std::uint32_t TBinaryProtocol::readDouble(double& dub) {
    return readNumber(dub);
}

inline std::uint32_t TBinaryProtocol::readString(std::string& str) {
    std::int32_t size = 0;
    const std::uint32_t n = readI32(size);
    if (n == 0 || size < 0) {
        if (n != 0)
            endOfData(); // a negative size
        str.clear();
        return n;
    }
    // The runtime's own limit on string sizes, when one is set: a size past the data is the
    // end of the data first.
    if (this->string_limit_ > 0 && size > this->string_limit_) [[unlikely]] {
        if (have(static_cast<std::uint32_t>(size)))
            throw apache::thrift::protocol::TProtocolException(
                apache::thrift::protocol::TProtocolException::SIZE_LIMIT);
        str.clear();
        return n;
    }
    const std::uint8_t* bytes = take(static_cast<std::uint32_t>(size));
    if (!bytes) {
        str.clear();
        return n;
    }
    str.assign(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(size));
    return n + static_cast<std::uint32_t>(size);
}

inline std::uint32_t TBinaryProtocol::readFieldBegin(std::string& name, TType& fieldType,
                                                     std::int16_t& fieldId) {
    name.clear();
    fieldId = 0;
    std::int8_t type = 0;
    std::uint32_t n = readByte(type);
    if (readError_ || type == apache::thrift::protocol::T_STOP) {
        fieldType = apache::thrift::protocol::T_STOP;
        return n;
    }
    n += readI16(fieldId);
    // A header cut between its type and its id ends the struct as well.
    fieldType = readError_ ? apache::thrift::protocol::T_STOP : wireType(type);
    return n;
}

inline apache::thrift::protocol::TType TBinaryProtocol::wireType(std::int8_t code) {
    switch (code) {
    case apache::thrift::protocol::T_STOP:
    case apache::thrift::protocol::T_BOOL:
    case apache::thrift::protocol::T_BYTE:
    case apache::thrift::protocol::T_DOUBLE:
    case apache::thrift::protocol::T_I16:
    case apache::thrift::protocol::T_I32:
    case apache::thrift::protocol::T_I64:
    case apache::thrift::protocol::T_STRING:
    case apache::thrift::protocol::T_STRUCT:
    case apache::thrift::protocol::T_MAP:
    case apache::thrift::protocol::T_SET:
    case apache::thrift::protocol::T_LIST:
        return static_cast<apache::thrift::protocol::TType>(code);
    default:
        return apache::thrift::protocol::T_VOID;
    }
}

inline std::uint32_t TBinaryProtocol::readListBegin(apache::thrift::protocol::TType& elemType,
                                                    std::uint32_t& size) {
    std::int8_t e = 0;
    std::int32_t count = 0;
    std::uint32_t n = readByte(e);
    n += readI32(count);
    elemType = wireType(e);
    size = 0;
    if (!readError_ && countFits(count, minWireSize(elemType)))
        size = static_cast<std::uint32_t>(count);
    return n;
}

// Writes `payload` into a new byte vector, as the uploads are encoded.
template <typename Struct> std::vector<std::uint8_t> encodeWireStruct(const Struct& payload) {
    std::vector<std::uint8_t> bytes;
    TBinaryProtocol protocol(std::make_shared<TNSDataTransport>(bytes));
    payload.write(protocol);
    return bytes;
}

// Reads a fresh struct from `bytes`, as replies are decoded.
template <typename Struct> Struct decodeWireStruct(std::span<const std::uint8_t> bytes) {
    Struct result;
    TBinaryProtocol protocol(std::make_shared<TNSDataTransport>(bytes));
    result.read(protocol);
    return result;
}

} // namespace vellum
