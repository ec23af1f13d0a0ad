// Stream side data (the display matrix, HDR10's description, ...) across
// the two ways FFmpeg has kept it: on the stream before libavcodec 60.30,
// in the codec parameters since.
#ifndef DELBRIN_MEDIA_STREAM_SIDE_DATA_H
#define DELBRIN_MEDIA_STREAM_SIDE_DATA_H

#include <stddef.h>
#include <stdint.h>

extern "C" {
#include <libavformat/avformat.h>
}

// The stream's side data of that type when it holds at least minSize
// bytes, else null.
const uint8_t* StreamSideData(const AVStream* st, AVPacketSideDataType type, size_t minSize);

// Adds a copy of size bytes at data; false when out of memory.
bool AddStreamSideData(AVStream* st, AVPacketSideDataType type, const void* data, size_t size);

// Copies from's side data to to where to has none of that type: all of it
// for a copied stream, for a re-encoded one only what says how to show the
// picture (its turn, 3D and 360 layout, HDR10), not how it was coded.
// False when out of memory.
bool CopyStreamSideData(const AVStream* from, AVStream* to, bool reencoded);

#endif
