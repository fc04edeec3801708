#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

// Where the host's dialog and the 3D view go when they are shown together, so
// that neither hides the other: side by side when the screen is wide enough,
// the view above the dialog otherwise, the pair centred in the free area and
// every corner on screen. Both programs work this out alone from the same
// sizes, so neither needs to find the other's window.
namespace WindowPair {

// The form sizes of the two windows.
constexpr QSize kViewSize{800, 600};
constexpr QSize kDialogSize{500, 300};
// Room left for a window manager's frame around each window (the title bar on
// top); without a window manager it stays unused.
constexpr int kFrameSide = 4;
constexpr int kFrameTop = 30;

struct Placement {
    // Top-left corners of the windows with their frames, as QWidget::move takes them.
    QPoint view;
    QPoint dialog;
};

Placement place(const QRect& available, QSize view = kViewSize, QSize dialog = kDialogSize);

} // namespace WindowPair
