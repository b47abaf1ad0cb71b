#include "panels/value_edit_session.h"

#include "ui/number_text.h"

namespace kestio::panels {

void ValueEditSession::begin(double value) {
    text_ = ui::formatFixedQ(value, 3);
    editing_ = true;
}

std::optional<double> ValueEditSession::commit(const Parser& parse, const ui::ValueRange& range) {
    if (!editing_) {
        return std::nullopt;
    }
    editing_ = false;
    return range.committed(parse(text_));
}

}  // namespace kestio::panels
