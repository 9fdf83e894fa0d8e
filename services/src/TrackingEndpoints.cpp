#include "services/TrackingEndpoints.h"

#include <zlib.h>

#include "platform/foundation/Base64.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Strings.h"
#include "vellum/tracking/BroadcastData.h"
#include "vellum/tracking/ECActionResponse.h"
#include "vellum/tracking/MRClientRequest.h"
#include "vellum/tracking/TBinaryProtocol.h"

namespace services {

namespace {

constexpr std::string_view kBoundaryParameter = "boundary=";
constexpr std::string_view kDispositionName = "name=\"";
constexpr std::string_view kAcknowledgement = "You're good";
constexpr std::size_t kInflateChunk = 64 * 1024;

enum class ReplyMode { AcknowledgeReceived, AcknowledgementText, HTML, Bytes };

ServiceReply badRequest(std::string reason) {
    return ServiceReply{400, std::move(reason), "text/plain", {}};
}

std::optional<std::string> inflateBytes(std::string_view compressed, std::size_t cap) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return std::nullopt;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    stream.avail_in = static_cast<uInt>(compressed.size());
    std::string out;
    int status = Z_OK;
    while (status == Z_OK) {
        if (out.size() >= cap) {
            inflateEnd(&stream);
            return std::nullopt;
        }
        const std::size_t before = out.size();
        out.resize(before + kInflateChunk);
        stream.next_out = reinterpret_cast<Bytef*>(out.data() + before);
        stream.avail_out = static_cast<uInt>(kInflateChunk);
        status = inflate(&stream, Z_NO_FLUSH);
        out.resize(before + kInflateChunk - stream.avail_out);
        if (status == Z_BUF_ERROR && stream.avail_in == 0)
            break; // the data ended before the stream did
    }
    inflateEnd(&stream);
    if (status != Z_STREAM_END)
        return std::nullopt;
    return out;
}

template <typename Event> void collectIDs(const vellum::List<Event>& events, std::vector<std::string>& into) {
    if (!events)
        return;
    for (const auto& e : *events)
        if (e.eventIDIsSet() && e.eventID())
            into.push_back(*e.eventID());
}

} // namespace

std::optional<std::string> TrackingUpload::part(std::string_view name) const {
    for (const auto& [n, v] : textParts)
        if (n == name)
            return v;
    return std::nullopt;
}

std::optional<std::vector<FormPart>> parseMultipartForm(std::string_view body, std::string_view boundary) {
    if (boundary.empty())
        return std::nullopt;
    const std::string delimiter = "--" + std::string(boundary);
    std::vector<FormPart> parts;
    std::size_t pos = body.find(delimiter);
    if (pos != 0)
        return std::nullopt;
    for (;;) {
        pos += delimiter.size();
        if (body.substr(pos, 2) == "--")
            return parts; // the closing delimiter
        if (body.substr(pos, 2) != "\r\n")
            return std::nullopt;
        pos += 2;
        const std::size_t headersEnd = body.find("\r\n\r\n", pos);
        if (headersEnd == std::string_view::npos)
            return std::nullopt;
        FormPart part;
        for (const auto& line : platform::split(body.substr(pos, headersEnd - pos), "\r\n")) {
            const auto colon = line.find(':');
            if (colon == std::string::npos)
                continue;
            const std::string field =
                platform::toLower(platform::trim(std::string_view(line).substr(0, colon)));
            const std::string value(platform::trim(std::string_view(line).substr(colon + 1)));
            if (field == "content-disposition") {
                const auto at = value.find(kDispositionName);
                if (at != std::string::npos) {
                    const auto start = at + kDispositionName.size();
                    const auto end = value.find('"', start);
                    if (end != std::string::npos)
                        part.name = value.substr(start, end - start);
                }
            } else if (field == "content-type") {
                part.contentType = value;
            }
        }
        const std::size_t contentStart = headersEnd + 4;
        const std::size_t next = body.find("\r\n" + delimiter, contentStart);
        if (next == std::string_view::npos)
            return std::nullopt;
        part.content = std::string(body.substr(contentStart, next - contentStart));
        parts.push_back(std::move(part));
        pos = next + 2;
    }
}

struct TrackingService::State {
    mutable std::mutex mutex;
    ReplyMode mode = ReplyMode::AcknowledgeReceived;
    std::string replyBody;
    std::vector<TrackingUpload> uploads;

    ServiceReply handle(const LoggedRequest& request) {
        const std::string contentType = request.header("Content-Type").value_or("");
        const auto at = contentType.find(kBoundaryParameter);
        if (at == std::string::npos)
            return badRequest("not a multipart form");
        auto parts = parseMultipartForm(request.body, contentType.substr(at + kBoundaryParameter.size()));
        if (!parts)
            return badRequest("malformed multipart form");

        TrackingUpload upload;
        upload.path = request.path;
        std::optional<std::string> data;
        for (auto& part : *parts) {
            if (part.name == "data" && !part.contentType.empty()) {
                upload.dataEncoding = "binary";
                data = part.content;
                continue;
            }
            if (part.name == "data") {
                upload.dataEncoding = "base64";
                auto decoded = platform::base64Decode(part.content);
                if (!decoded)
                    return badRequest("data part is not Base64");
                data = std::string(decoded->begin(), decoded->end());
            }
            upload.textParts.emplace_back(part.name, part.content);
        }
        upload.partial = upload.part("pae") == "true";
        if (data) {
            auto payload = inflateBytes(*data, kMaxInflatedBytes);
            if (!payload)
                return badRequest("data part does not inflate");
            upload.payload = std::move(*payload);
            std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(upload.payload.data()),
                                                upload.payload.size());
            if (upload.partial) {
                auto r = vellum::decodeWireStruct<vellum::MRClientRequest>(bytes);
                collectIDs(r.events(), upload.eventIDs);
                collectIDs(r.vellumAdEvents(), upload.adEventIDs);
                upload.description = r.description();
            } else {
                auto b = vellum::decodeWireStruct<vellum::BroadcastData>(bytes);
                if (b.runs())
                    for (const auto& run : *b.runs()) {
                        if (run.id())
                            upload.runIDs.push_back(*run.id());
                        collectIDs(run.events(), upload.eventIDs);
                        collectIDs(run.vellumAdEvents(), upload.adEventIDs);
                    }
                upload.description = b.description();
            }
        } else if (!upload.part("eventsData")) {
            return badRequest("no data part");
        }
        platform::logLine(platform::formatString(
            "tracking service: %s upload on %s (%s): %zu runs, %zu events, %zu ad events",
            upload.partial ? "partial" : "full", upload.path.c_str(),
            upload.dataEncoding.empty() ? "v1" : upload.dataEncoding.c_str(), upload.runIDs.size(),
            upload.eventIDs.size(), upload.adEventIDs.size()));

        std::lock_guard lock(mutex);
        uploads.push_back(upload);
        switch (mode) {
        case ReplyMode::AcknowledgementText:
            return ServiceReply{200, std::string(kAcknowledgement), "text/plain", {}};
        case ReplyMode::HTML:
            return ServiceReply{200, replyBody, "text/html", {}};
        case ReplyMode::Bytes:
            return ServiceReply{200, replyBody, "application/octet-stream", {}};
        case ReplyMode::AcknowledgeReceived:
            break;
        }
        vellum::ECActionResponse reply;
        reply.setReceivedEvents(upload.eventIDs);
        reply.setReceivedAdEvents(upload.adEventIDs);
        reply.setBroadcastURL(request.header("Host") ? "http://" + *request.header("Host") + request.path
                                                     : request.path);
        const auto bytes = vellum::encodeWireStruct(reply);
        return ServiceReply{200, std::string(bytes.begin(), bytes.end()), "application/octet-stream", {}};
    }
};

TrackingService::TrackingService(ServiceHost& host) : state_(std::make_shared<State>()) {
    for (auto path : {kTrackingPath, kTrackingTestPath, kTrackingStagingPath})
        host.handle("POST", std::string(path),
                    [state = state_](const LoggedRequest& r) { return state->handle(r); });
}

TrackingService::~TrackingService() = default;

void installTrackingEndpoints(ServiceHost& host) {
    TrackingService service(host);
}

void TrackingService::replyAcknowledgingReceived() {
    std::lock_guard lock(state_->mutex);
    state_->mode = ReplyMode::AcknowledgeReceived;
}

void TrackingService::replyWithAcknowledgementText() {
    std::lock_guard lock(state_->mutex);
    state_->mode = ReplyMode::AcknowledgementText;
}

void TrackingService::replyWithHTML(std::string page) {
    std::lock_guard lock(state_->mutex);
    state_->mode = ReplyMode::HTML;
    state_->replyBody = std::move(page);
}

void TrackingService::replyWithBytes(std::string bytes) {
    std::lock_guard lock(state_->mutex);
    state_->mode = ReplyMode::Bytes;
    state_->replyBody = std::move(bytes);
}

std::vector<TrackingUpload> TrackingService::uploads() const {
    std::lock_guard lock(state_->mutex);
    return state_->uploads;
}

void TrackingService::clear() {
    std::lock_guard lock(state_->mutex);
    state_->uploads.clear();
}

} // namespace services
