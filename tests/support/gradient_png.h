#pragma once

#include <QColor>
#include <QPointF>
#include <QSize>
#include <cstdint>
#include <vector>

namespace kestio::test {

// A picture of `size` filled with a linear gradient from `from` at `start` to `to` at `end`,
// encoded as PNG: a thumbnail as a project stores one.
std::vector<std::uint8_t> gradientPNG(QSize size, QPointF start, QPointF end, const QColor& from,
                                      const QColor& to);

}  // namespace kestio::test
