#pragma once
// Audio File services: open a sound file, read its properties, read its packets, close it.
//
// Two kinds of file. MP3 and AAC sound (in MP3, AAC or MPEG-4 files) is handed out as it is
// stored: packets of varying size (bytes per packet 0) of 1152 or 1024 frames, their places
// found once by a demuxer (libavformat) and then read straight from the file; the packet size
// upper bound is the largest packet, the magic cookie is the codec's configuration (none for
// MP3), and packet descriptions say where each packet read lies in the caller's buffer.
// Everything else (WAV, AIFF and the other kinds libsndfile knows, whatever the type hint
// says) is decoded by libsndfile and handed out as interleaved, packed, native-endian linear
// PCM, 16-bit signed integers for files of 16 bits or fewer and 32-bit floats for the rest,
// one frame per packet: fixed packets, the frame size as upper bound, no magic cookie.
//
// A file is opened read-only; asking for write permission is refused. An AudioFileID is a
// handle, not a pointer: a closed or unknown handle answers kAudioFileNotOpenError, never a
// crash. Thread-safe; one file should be read from one thread at a time.
#include <cstdint>

#include "platform/foundation/ReadableFolder.h"
#include "platform/foundation/URL.h"
#include "platform/media/AudioTypes.h"

namespace platform {

using AudioFileID = struct OpaqueAudioFile*;
using AudioFileTypeID = std::uint32_t;
using AudioFilePropertyID = std::uint32_t;

// Type hints for AudioFileOpenURL.
inline constexpr AudioFileTypeID kAudioFileMP3Type = fourCharCode("MPG3");
inline constexpr AudioFileTypeID kAudioFileM4AType = fourCharCode("m4af");
inline constexpr AudioFileTypeID kAudioFileMPEG4Type = fourCharCode("mp4f");
inline constexpr AudioFileTypeID kAudioFileAIFFType = fourCharCode("AIFF");
inline constexpr AudioFileTypeID kAudioFile3GPType = fourCharCode("3gpp");
inline constexpr AudioFileTypeID kAudioFileAMRType = fourCharCode("amrf");
inline constexpr AudioFileTypeID kAudioFileCAFType = fourCharCode("caff");
inline constexpr AudioFileTypeID kAudioFileWAVEType = fourCharCode("WAVE");

enum AudioFilePermissions : std::uint32_t {
    kAudioFileReadPermission = 1,
    kAudioFileWritePermission = 2,
    kAudioFileReadWritePermission = 3,
};

// Properties. Sizes: data format 40 bytes (AudioStreamDescription); packet size upper bound
// 4 (uint32); magic cookie as long as the cookie (0 here); audio data packet count 8
// (uint64); estimated duration 8 (double, seconds).
inline constexpr AudioFilePropertyID kAudioFilePropertyDataFormat = fourCharCode("dfmt");
inline constexpr AudioFilePropertyID kAudioFilePropertyPacketSizeUpperBound = fourCharCode("pkub");
inline constexpr AudioFilePropertyID kAudioFilePropertyMagicCookieData = fourCharCode("mgic");
inline constexpr AudioFilePropertyID kAudioFilePropertyAudioDataPacketCount = fourCharCode("pcnt");
inline constexpr AudioFilePropertyID kAudioFilePropertyEstimatedDuration = fourCharCode("edur");

// Errors.
inline constexpr OSStatus kAudioFileUnspecifiedError = OSStatus(fourCharCode("wht?"));
inline constexpr OSStatus kAudioFileUnsupportedFileTypeError = OSStatus(fourCharCode("typ?"));
inline constexpr OSStatus kAudioFilePermissionsError = OSStatus(fourCharCode("prm?"));
inline constexpr OSStatus kAudioFileUnsupportedPropertyError = OSStatus(fourCharCode("pty?"));
inline constexpr OSStatus kAudioFileBadPropertySizeError = OSStatus(fourCharCode("!siz"));
inline constexpr OSStatus kAudioFileInvalidPacketOffsetError = OSStatus(fourCharCode("pck?"));
inline constexpr OSStatus kAudioFileNotOpenError = -38;
inline constexpr OSStatus kAudioFileFileNotFoundError = -43;

// Opens the file of a file URL for reading. `typeHint` is only a hint: the file is recognised
// by its contents. The file must lie inside `readable` (ReadableFolder.h; none by default, so
// a caller that names no folder opens nothing). Errors: kAudioFileFileNotFoundError (missing,
// or not a file URL), kAudioFilePermissionsError (unreadable, outside `readable`, or write
// permission asked), kAudioFileUnsupportedFileTypeError (no sound file that can be decoded).
OSStatus AudioFileOpenURL(const URL& url, AudioFilePermissions permissions, AudioFileTypeID typeHint,
                          AudioFileID* outAudioFile, const ReadableFolder& readable = {});
// The size of a property's value and whether it can be written (never, here).
OSStatus AudioFileGetPropertyInfo(AudioFileID file, AudioFilePropertyID property, std::uint32_t* outDataSize,
                                  std::uint32_t* isWritable);
// Copies a property's value into `outData`, which holds `*ioDataSize` bytes; answers the bytes
// written in `*ioDataSize`. A buffer too small for the value: kAudioFileBadPropertySizeError.
OSStatus AudioFileGetProperty(AudioFileID file, AudioFilePropertyID property, std::uint32_t* ioDataSize,
                              void* outData);
// Reads up to `*ioNumPackets` packets from packet `startingPacket` into `outBuffer`, which holds
// `*ioNumBytes` bytes: no more (whole) packets are read than fit. Answers the packets and bytes read;
// 0 packets at the end of the file. `outPacketDescriptions`, when given, gets one entry per
// packet read. `useCache` is accepted for the caller's intent; reads always go to the file.
OSStatus AudioFileReadPackets(AudioFileID file, bool useCache, std::uint32_t* ioNumBytes,
                              AudioPacketDescription* outPacketDescriptions, std::int64_t startingPacket,
                              std::uint32_t* ioNumPackets, void* outBuffer);
OSStatus AudioFileClose(AudioFileID file);

} // namespace platform
