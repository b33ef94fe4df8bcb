// morvane --draw: the control's design-time picture, as a container in
// design mode draws it through IViewObject::Draw, written out as PNG.
#pragma once

#include <string>

#include "platform/com/dispatch.h"

namespace morvane::cli {

// Draws `control` at width x height pixels into the PNG file `path`. On
// failure, `problem` says what went wrong and the HRESULT is returned.
HRESULT drawToPng(IDispatch* control, const std::string& path, int width, int height, std::string& problem);

}  // namespace morvane::cli
