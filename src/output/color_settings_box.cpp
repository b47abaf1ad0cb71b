#include "output/color_settings_box.h"

namespace kestio::output {

ColorSettingsBox::ColorSettingsBox() : ColorSettingsBox(ColorSettings{}) {}

ColorSettingsBox::ColorSettingsBox(const ColorSettings& value)
    : value_(std::make_shared<const ColorSettings>(value)) {}

std::shared_ptr<const ColorSettings> ColorSettingsBox::snapshot() const {
    return value_.load();
}

void ColorSettingsBox::setValue(const ColorSettings& value) {
    value_.store(std::make_shared<const ColorSettings>(value));
}

}  // namespace kestio::output
