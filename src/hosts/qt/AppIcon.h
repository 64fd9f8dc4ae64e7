// The program's icon, drawn at start-up: a handset with a download arrow.
#pragma once

#include <QIcon>

/// The icon in the sizes a window manager asks for (16 to 64 pixels).
QIcon VelmoraIcon();
