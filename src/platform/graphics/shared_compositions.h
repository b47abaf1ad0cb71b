#pragma once

#include <QImage>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/graphics/compositor.h"

namespace kestio::platform {

// A picture a presenter drew and what it shows. Immutable once made.
struct DrawnPicture {
    Composition composition;
    QImage image;
};

// The pictures drawn by the presenters of one layer tree, so that views showing the tree at the
// same size draw each picture once: the first presenter to need a drawing draws it, and the
// others show the same image. A drawing is found by what it draws (Composition::drawsTheSameAs:
// size, placement, opacities and picture identities), so a view whose picture differs (another
// size, a fade at another time) draws its own.
//
// Entries are held weakly: a picture stays findable while some presenter still shows it, and
// goes with the last one, so nothing here keeps a buffer alive. Any thread.
class SharedCompositions {
  public:
    // A drawing this caller has undertaken to make; hand it to finish() whatever happens.
    class Claim;

    // The picture already drawn for `composition`, waiting while another presenter is drawing
    // it. Null when nobody has: then `claim` is set, the caller draws the picture and finishes
    // the claim, and other callers asking for the same drawing meanwhile wait for it.
    std::shared_ptr<const DrawnPicture> find(const Composition& composition,
                                             std::shared_ptr<Claim>& claim);
    // Makes `drawn` (null: the drawing failed) the answer to the claim's drawing.
    void finish(const std::shared_ptr<Claim>& claim, std::shared_ptr<const DrawnPicture> drawn);

  private:
    std::mutex mutex_;
    std::condition_variable finished_;
    std::vector<std::shared_ptr<Claim>> entries_;
};

}  // namespace kestio::platform
