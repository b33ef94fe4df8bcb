// The window's pictures, drawn in code so that they stay sharp and need no
// image files: the three window icons, the on and off source pictures of the
// status lights and the picture of picTray.
#pragma once

#include <QIcon>
#include <QPixmap>

class QPainter;

#include "bridge/app/app_view.h"
#include "bridge/app/status_lights.h"

namespace taltrix::app {

// A golf ball with a badge: red for ico1 (link lost), green for ico2
// (connected), amber for ico3 (connecting).
QPixmap windowIconPixmap(WindowIcon icon, int size);
// The same drawing on any painter, `size` units square (the application's
// icons in the desktop's theme are drawn with it, see icon_main.cpp).
void paintWindowIcon(QPainter& painter, WindowIcon icon, qreal size);
QIcon windowIcon(WindowIcon icon);

// picESon/picESoff (Light::tx), picHXon/picHXoff (Light::rx),
// picBTon/picBToff (Light::bt).
QPixmap lightPicture(Light light, bool on);

// picTray: a window going down into the tray.
QPixmap trayPicture();

}  // namespace taltrix::app
