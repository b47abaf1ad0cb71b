#pragma once

// The SMPTE colour-bar line-up picture.

#include <QImage>

namespace kestio::output {

// Draws the bars at `width` × `height` pixels (RGBA, 8 bits per component, premultiplied,
// opaque), top to bottom:
//   - seven 75 % bars over 0.667 of the height: white, yellow, cyan, green, magenta, red, blue;
//   - a strip of 0.075 of the height: blue, black, magenta, black, cyan, black, white;
//   - the rest: −I, 100 % white and +Q a quarter of five bars each, a quarter bar of black,
//     then 4 % grey, black and 4 % grey (the last to the right edge), each a seventh of five
//     bars but the last.
// Bars are a seventh of the width, with fractional edges; a pixel takes the colour of the
// region its centre lies in, so every pixel has exactly one of the table's colours. A null
// image for a size of zero, a negative one or one too large to draw.
QImage generateSmpteColorBars(int width, int height);

}  // namespace kestio::output
