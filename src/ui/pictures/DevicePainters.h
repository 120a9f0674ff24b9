#pragma once
// Pictures of the device lists and of the busy animation.

#include <QPainter>
#include <QSize>

namespace corvale::ui::pictures {

// What a row of a device list stands for.
enum class DeviceIcon { Floppy, Disk, Volume, Spare, Image, Spare2, Usb };

// A small device picture on white (which the lists leave transparent).
void DrawDeviceIcon(QPainter& p, const QSize& size, DeviceIcon icon);

// The busy animation: `frames` frames side by side on white, a ring of dots whose bright dot moves
// one step per frame.
void DrawBusyStrip(QPainter& p, const QSize& size, int frames);

// The strip beside the Refresh button of the device pages.
void DrawDeviceToolbarStrip(QPainter& p, const QSize& size);

}  // namespace corvale::ui::pictures
