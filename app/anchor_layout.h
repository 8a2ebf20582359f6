#pragma once

#include <QList>
#include <QRect>
#include <QSize>

class QWidget;

// Sides of the window a control keeps its distance to when the window is resized.
enum TAnchor { AnchorLeft = 1, AnchorTop = 2, AnchorRight = 4, AnchorBottom = 8 };

// Places controls at fixed positions laid out for one client size and moves or
// stretches them with the window: a control anchored to both opposite sides
// stretches, one anchored to the right or bottom only keeps its distance to that
// side. A control aligned to the bottom spans the whole width at the bottom edge.
// A label keeps its place but grows to fit its text when the font is wider than
// the one the window was laid out for.
// Holds plain pointers to controls owned by the window; main thread only.
class TAnchorLayout {
public:
    explicit TAnchorLayout(QSize designClient) : FDesignClient(designClient) {}

    void Place(QWidget* control, const QRect& designRect, int anchors);
    void AlignBottom(QWidget* control, int height);
    // Lays every control out for the client size `client`.
    void Apply(QSize client) const;

private:
    struct TPlacement {
        QWidget* Control;
        QRect DesignRect;
        int Anchors;
        bool BottomAligned;
    };

    QRect Geometry(const TPlacement& placement, QSize client) const;

    QSize FDesignClient;
    QList<TPlacement> FPlacements;
};
