#include "platform/WindowPlace.h"

#include <QGuiApplication>
#include <QWindow>

#include <xcb/xcb.h>

#include <cmath>
#include <cstdlib>
#include <memory>

namespace WindowPlace {

std::optional<QRect> current(const QWindow &window)
{
    const auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !window.handle())
        return std::nullopt;
    xcb_connection_t *connection = x11->connection();
    const auto id = xcb_window_t(window.winId());
    const std::unique_ptr<xcb_get_geometry_reply_t, decltype(&free)> geometry(
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, id), nullptr), &free);
    if (!geometry)
        return std::nullopt;
    const std::unique_ptr<xcb_translate_coordinates_reply_t, decltype(&free)> origin(
        xcb_translate_coordinates_reply(
            connection, xcb_translate_coordinates(connection, id, geometry->root, 0, 0), nullptr),
        &free);
    if (!origin)
        return std::nullopt;
    // The server counts device pixels; the window's own geometry doesn't.
    const qreal ratio = window.devicePixelRatio() > 0 ? window.devicePixelRatio() : 1.0;
    const auto logical = [ratio](int value) { return int(std::lround(value / ratio)); };
    return QRect(logical(origin->dst_x), logical(origin->dst_y), logical(geometry->width),
                 logical(geometry->height));
}

} // namespace WindowPlace
