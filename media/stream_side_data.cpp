#include "stream_side_data.h"

#include <string.h>

namespace {

const AVPacketSideDataType kKeptOnReencode[] = {
    AV_PKT_DATA_DISPLAYMATRIX, AV_PKT_DATA_STEREO3D, AV_PKT_DATA_SPHERICAL,
    AV_PKT_DATA_MASTERING_DISPLAY_METADATA, AV_PKT_DATA_CONTENT_LIGHT_LEVEL,
};

bool KeptOnReencode(AVPacketSideDataType type) {
    for (AVPacketSideDataType t : kKeptOnReencode)
        if (t == type) return true;
    return false;
}

}  // namespace

#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(60, 30, 100)

const uint8_t* StreamSideData(const AVStream* st, AVPacketSideDataType type, size_t minSize) {
    const AVPacketSideData* sd =
        av_packet_side_data_get(st->codecpar->coded_side_data, st->codecpar->nb_coded_side_data, type);
    return sd && sd->size >= minSize ? sd->data : nullptr;
}

bool AddStreamSideData(AVStream* st, AVPacketSideDataType type, const void* data, size_t size) {
    AVPacketSideData* sd =
        av_packet_side_data_new(&st->codecpar->coded_side_data, &st->codecpar->nb_coded_side_data, type, size, 0);
    if (!sd) return false;
    memcpy(sd->data, data, size);
    return true;
}

bool CopyStreamSideData(const AVStream* from, AVStream* to, bool reencoded) {
    for (int i = 0; i < from->codecpar->nb_coded_side_data; i++) {
        const AVPacketSideData& sd = from->codecpar->coded_side_data[i];
        if ((reencoded && !KeptOnReencode(sd.type)) || StreamSideData(to, sd.type, 0)) continue;
        if (!AddStreamSideData(to, sd.type, sd.data, sd.size)) return false;
    }
    return true;
}

#else

const uint8_t* StreamSideData(const AVStream* st, AVPacketSideDataType type, size_t minSize) {
    size_t size = 0;
    const uint8_t* data = av_stream_get_side_data(st, type, &size);
    return data && size >= minSize ? data : nullptr;
}

bool AddStreamSideData(AVStream* st, AVPacketSideDataType type, const void* data, size_t size) {
    uint8_t* copy = av_stream_new_side_data(st, type, size);
    if (!copy) return false;
    memcpy(copy, data, size);
    return true;
}

bool CopyStreamSideData(const AVStream* from, AVStream* to, bool reencoded) {
    for (int i = 0; i < from->nb_side_data; i++) {
        const AVPacketSideData& sd = from->side_data[i];
        if ((reencoded && !KeptOnReencode(sd.type)) || StreamSideData(to, sd.type, 0)) continue;
        if (!AddStreamSideData(to, sd.type, sd.data, sd.size)) return false;
    }
    return true;
}

#endif
