#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

namespace kestio {
class ShowImporter;
}  // namespace kestio

namespace kestio::panels {

class PanelFacade;

// Replaces a slot's thumbnail with a picture of its own clip: at the play position while the
// slot is the one loaded in the player, else at its in point (0 without one). The file is
// opened and decoded off the main thread by the importer, so the main thread never waits for
// it. Nothing is shown or reported. The picture is held in the project; the package gets it
// when it is saved.
//
// The slot keeps its old picture until the new picture exists: a clip that cannot be read
// leaves the slot as it was. A new picture lands only in the project the capture began
// in, and only on the clip it was taken from: once the project is opened, closed or replaced,
// or the slot is given another file, a late picture is dropped. A picture that lands marks the
// project unsaved, so that the picture reaches the package at the next save.
//
// Main thread only. Captures are never cancelled; of two captures of one slot the later to
// finish leaves its picture.
class ThumbnailCapture {
  public:
    ThumbnailCapture(PanelFacade& facade, ShowImporter& importer);
    ~ThumbnailCapture();
    ThumbnailCapture(const ThumbnailCapture&) = delete;
    ThumbnailCapture& operator=(const ThumbnailCapture&) = delete;

    void capture(int bank, int slot);

  private:
    void land(std::uint64_t generation, int bank, int slot,
              const std::optional<std::filesystem::path>& clip,
              std::optional<std::vector<std::uint8_t>> png);

    PanelFacade& facade_;
    ShowImporter& importer_;
    // Answers of the importer hold this weakly: they do nothing once the capture is gone.
    std::shared_ptr<ThumbnailCapture*> self_ = std::make_shared<ThumbnailCapture*>(this);
};

}  // namespace kestio::panels
