#include "output/color_settings_box.h"

#include <utility>

namespace kestio::output {

ColorSettingsBox::ColorSettingsBox() : ColorSettingsBox(ColorSettings{}) {}

ColorSettingsBox::ColorSettingsBox(const ColorSettings& value)
    : value_(std::make_shared<const ColorSettings>(value)), changes_(value) {}

void ColorSettingsBox::setValue(const ColorSettings& value) {
    if (value == changes_.get()) {
        return;
    }
    value_.store(std::make_shared<const ColorSettings>(value));
    changes_.set(value);
}

platform::Subscription ColorSettingsBox::onChange(
    std::function<void(const ColorSettings&)> observer) {
    return changes_.subscribe(std::move(observer));
}

}  // namespace kestio::output
