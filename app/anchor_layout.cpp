#include "app/anchor_layout.h"

#include <QLabel>
#include <QWidget>

namespace {

// One axis: start and length of a control after the window grew by `delta`.
std::pair<int, int> Stretch(int start, int length, int delta, bool nearSide, bool farSide) {
    if (nearSide && farSide)
        return {start, qMax(0, length + delta)};
    if (farSide)
        return {start + delta, length};
    return {start, length};
}

} // namespace

void TAnchorLayout::Place(QWidget* control, const QRect& designRect, int anchors) {
    FPlacements.append({control, designRect, anchors, false});
    // A label sizes itself to its text (adjustSize) but never below its laid-out size.
    if (qobject_cast<QLabel*>(control))
        control->setMinimumSize(designRect.size());
    control->setGeometry(Geometry(FPlacements.last(), FDesignClient));
}

void TAnchorLayout::AlignBottom(QWidget* control, int height) {
    const QRect rect(0, FDesignClient.height() - height, FDesignClient.width(), height);
    FPlacements.append({control, rect, 0, true});
    control->setGeometry(rect);
}

void TAnchorLayout::Apply(QSize client) const {
    for (const TPlacement& placement : FPlacements)
        placement.Control->setGeometry(Geometry(placement, client));
}

QRect TAnchorLayout::Geometry(const TPlacement& placement, QSize client) const {
    const QRect& design = placement.DesignRect;
    if (placement.BottomAligned)
        return QRect(0, client.height() - design.height(), client.width(), design.height());
    const int anchors = placement.Anchors;
    const auto [left, width] =
        Stretch(design.left(), design.width(), client.width() - FDesignClient.width(),
                anchors & AnchorLeft, anchors & AnchorRight);
    const auto [top, height] =
        Stretch(design.top(), design.height(), client.height() - FDesignClient.height(),
                anchors & AnchorTop, anchors & AnchorBottom);
    const QRect rect(left, top, width, height);
    if (qobject_cast<QLabel*>(placement.Control))
        return QRect(rect.topLeft(), rect.size().expandedTo(placement.Control->sizeHint()));
    return rect;
}
