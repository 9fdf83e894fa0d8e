#include "vellum/tracking/TBinaryProtocol.h"

#include <thrift/protocol/TProtocolException.h>
#include <thrift/transport/TTransportException.h>

namespace vellum {

namespace {

using apache::thrift::protocol::TType;
namespace P = apache::thrift::protocol;

constexpr std::uint32_t kSizeBytes = 4;

} // namespace

TBinaryProtocol::TBinaryProtocol(std::shared_ptr<TNSDataTransport> transport) : Base(std::move(transport)) {
    setStrict(false, false);
}

std::uint32_t TBinaryProtocol::minWireSize(TType type) {
    switch (type) {
    case P::T_BOOL:
    case P::T_BYTE:
        return 1;
    case P::T_I16:
        return 2;
    case P::T_I32:
        return 4;
    case P::T_I64:
    case P::T_DOUBLE:
        return 8;
    case P::T_STRING:
    case P::T_MAP:
    case P::T_SET:
    case P::T_LIST:
        return kSizeBytes;
    case P::T_STRUCT:
        return 1; // the stop byte
    default:
        return 0;
    }
}

std::uint32_t TBinaryProtocol::readSetBegin(TType& elemType, std::uint32_t& size) {
    return readListBegin(elemType, size); // same layout
}

std::uint32_t TBinaryProtocol::readMapBegin(TType& keyType, TType& valType, std::uint32_t& size) {
    std::int8_t k = 0, v = 0;
    std::int32_t count = 0;
    std::uint32_t n = readByte(k);
    n += readByte(v);
    n += readI32(count);
    keyType = wireType(k);
    valType = wireType(v);
    size = 0;
    if (!readError_ && countFits(count, minWireSize(keyType) + minWireSize(valType)))
        size = static_cast<std::uint32_t>(count);
    return n;
}

std::uint32_t TBinaryProtocol::skip(TType type) {
    if (readError_)
        return 0;
    try {
        return apache::thrift::protocol::skip(*this, type);
    } catch (const apache::thrift::TException&) {
        endOfData(); // unknown type code or nesting too deep
        return 0;
    }
}

} // namespace vellum
