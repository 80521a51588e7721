#pragma once
// The program's pictures (resources/bitmap_<id>.svg), rendered at the pixel
// sizes the windows use them at: 206 the picture button's face, 207 the
// maker's logo, 208 to 212 the wiring pictures of the five modes; and the
// program's icon.

#include <QIcon>
#include <QPixmap>
#include <QSize>

namespace ostrel::ui {

// The pixel size of a picture; an empty size for an unknown id.
QSize PictureSize(int bitmapId);
// The picture's pixel size, made smaller (keeping its shape) when it would
// not fit in `room`; at the dialog fonts in use it fits and keeps its size.
QSize FittedPictureSize(int bitmapId, QSize room);
// The picture drawn at `size` (its pixel size when empty) for a screen of
// `devicePixelRatio`; a null pixmap when the picture is missing.
QPixmap RenderPicture(int bitmapId, qreal devicePixelRatio = 1.0, QSize size = {});
// The program's icon (resources/icons/ostrel.svg) at the usual icon sizes;
// a null icon when the picture is missing.
QIcon OstrelIcon();

}  // namespace ostrel::ui
