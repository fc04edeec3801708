#include "common/WindowPair.h"

#include <algorithm>

namespace WindowPair {
namespace {

QSize framed(QSize client) { return {client.width() + 2 * kFrameSide, client.height() + kFrameTop + kFrameSide}; }

// (x, y) moved so that a frame of that size stays inside the area as far as it fits.
QPoint inside(const QRect& area, int x, int y, QSize frame)
{
    x = std::max(area.left(), std::min(x, area.left() + area.width() - frame.width()));
    y = std::max(area.top(), std::min(y, area.top() + area.height() - frame.height()));
    return {x, y};
}

} // namespace

Placement place(const QRect& available, QSize view, QSize dialog)
{
    const QSize v = framed(view);
    const QSize d = framed(dialog);
    Placement p;
    if (v.width() + d.width() <= available.width()) {
        const int left = available.left() + (available.width() - v.width() - d.width()) / 2;
        const int top = available.top() + (available.height() - v.height()) / 2;
        p.view = inside(available, left, top, v);
        p.dialog = inside(available, left + v.width(), top, d);
    } else {
        const int top = available.top() + (available.height() - v.height() - d.height()) / 2;
        const int left = available.left() + (available.width() - v.width()) / 2;
        p.view = inside(available, left, top, v);
        p.dialog = inside(available, left, top + v.height(), d);
    }
    return p;
}

} // namespace WindowPair
