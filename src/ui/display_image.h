#pragma once

#include "base/frame.h"

#include <QImage>
#include <QSize>

// The picture as the display draws it: 8-bit grey or RGB.
//
// Grey of more than 8 bits is brought to 8 by the picture's significant bits, so that the
// largest value they can hold shows white, as in the saved .bmp and .jpg: the picture of a
// 12-bit camera spans the whole grey range instead of its darkest sixteenth.
//
// A picture larger than `reduceTo` in both directions is first reduced to that size by taking
// the nearest pixel, so that the conversion, and the smoothing the display does afterwards,
// touch only about as many pixels as can show. Pictures that fit are not copied unless their
// samples must be converted.
QImage displayImage(const Frame &frame, QSize reduceTo);
