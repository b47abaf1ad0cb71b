#pragma once

#include <QImage>

namespace kestio::platform {

// Something that shows moving pictures: a layer asks it for the picture to show at a time of
// the run-loop clock. A null image means "nothing to show yet".
class FrameSource {
public:
    virtual ~FrameSource() = default;
    virtual QImage frameAt(double runLoopTime) const = 0;
};

}  // namespace kestio::platform
