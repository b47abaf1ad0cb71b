#include "support/yuv_pictures.h"

#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace kestio::test {

platform::YuvPicture yuvPicture(QSize size,
                                const std::function<std::uint8_t(int plane, int x, int y)>& sample,
                                bool fullRange) {
    platform::YuvPicture picture;
    picture.width = size.width();
    picture.height = size.height();
    picture.fullRange = fullRange;
    const int widths[3] = {size.width(), (size.width() + 1) / 2, (size.width() + 1) / 2};
    const int heights[3] = {size.height(), (size.height() + 1) / 2, (size.height() + 1) / 2};
    auto planes = std::make_shared<std::vector<std::vector<std::uint8_t>>>(3);
    for (int p = 0; p < 3; ++p) {
        const qsizetype stride = (widths[p] + 32 + 63) / 64 * 64;
        auto& plane = (*planes)[static_cast<std::size_t>(p)];
        plane.assign(static_cast<std::size_t>(stride * heights[p]), 0xcd);
        for (int y = 0; y < heights[p]; ++y) {
            for (int x = 0; x < widths[p]; ++x) {
                plane[static_cast<std::size_t>(y * stride + x)] = sample(p, x, y);
            }
        }
        picture.planes[p] = plane.data();
        picture.strides[p] = stride;
    }
    picture.owner = planes;
    return picture;
}

platform::YuvPicture smoothYuvPicture(QSize size, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> phase(0.0, 6.283);
    const double phases[3][2] = {{phase(random), phase(random)},
                                 {phase(random), phase(random)},
                                 {phase(random), phase(random)}};
    return yuvPicture(size, [&](int p, int x, int y) {
        const double scale = p == 0 ? 1.0 : 2.0;  // chroma planes are half as large
        const double wave =
            std::sin(x * scale * 0.031 + phases[p][0]) * std::cos(y * scale * 0.023 + phases[p][1]);
        const double centre = p == 0 ? 125.5 : 128.0;
        const double reach = p == 0 ? 109.5 : 112.0;
        return static_cast<std::uint8_t>(std::lround(centre + reach * wave));
    });
}

}  // namespace kestio::test
