#pragma once

#include <QImage>
#include <QSize>
#include <filesystem>

#include "import/import_workers.h"
#include "platform/media/loaded.h"

namespace kestio {

// Takes one picture from the first video track of a file (attached cover pictures are not a
// video track) as playback shows it: decoded, converted, turned upright by the track's
// rotation and fitted into `maxSize` when that is valid (never enlarged).
//
// The picture is the first one whose time is at or after `time` (a negative or unknown time
// counts as 0) and no more than `toleranceAfter` seconds later; there is none when the clip
// has no picture in that span (a time past the end, say). Blocking, and stopped early when
// `control` is cancelled: call it on a worker.
platform::media::Loaded<QImage> grabFrame(const std::filesystem::path& file, double time,
                                          double toleranceAfter, QSize maxSize,
                                          JobControl& control);

}  // namespace kestio
