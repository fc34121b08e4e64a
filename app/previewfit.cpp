// Where a picture is drawn in a preview area.
#include "previewfit.h"

#include <cstdint>

PreviewRect FitPreview(int previewWidth, int previewHeight, int pictureWidth, int pictureHeight) {
  PreviewRect rect;
  if (pictureWidth <= 0 || pictureHeight <= 0 || previewWidth <= 0 || previewHeight <= 0)
    return rect;
  // previewWidth / previewHeight < pictureWidth / pictureHeight, compared without rounding.
  const int64_t previewCross = int64_t{previewWidth} * pictureHeight;
  const int64_t pictureCross = int64_t{pictureWidth} * previewHeight;
  if (previewCross < pictureCross) {
    rect.width = previewWidth;
    rect.height = static_cast<int>(int64_t{pictureHeight} * previewWidth / pictureWidth);
    rect.top = (previewHeight - rect.height) / 2;
  } else {
    rect.height = previewHeight;
    rect.width = static_cast<int>(int64_t{pictureWidth} * previewHeight / pictureHeight);
    rect.left = (previewWidth - rect.width) / 2;
  }
  return rect;
}
