// Where a picture is drawn in a preview area: as large as fits, aspect ratio kept, centred.
#pragma once

struct PreviewRect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

// A picture relatively wider than the preview fills its width (height = picture height × preview
// width ÷ picture width, integer division) and is centred vertically; otherwise it fills the
// height and is centred horizontally. Offsets are truncated toward zero. An empty picture gives
// an empty rectangle.
PreviewRect FitPreview(int previewWidth, int previewHeight, int pictureWidth, int pictureHeight);
