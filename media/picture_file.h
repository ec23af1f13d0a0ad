// One picture written as a PNG file, for preview and detect.
#ifndef DELBRIN_MEDIA_PICTURE_FILE_H
#define DELBRIN_MEDIA_PICTURE_FILE_H

#include <string>

extern "C" {
#include <libavutil/frame.h>
}

#include "media_error.h"

// Writes picture as a PNG file at path: under a temporary name beside it,
// renamed only when complete, so that a failure or a stop leaves nothing
// under path. "-" writes it to standard output.
bool WritePngFile(const AVFrame* picture, const std::string& path, MediaError* error);

#endif
