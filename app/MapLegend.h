// The legend of the view's colour map: its name and unit, the colour ramp, and the values at its
// ends and middle, in the top left corner of the view. It shows while a map is chosen and
// follows the map's changes (the displacement's range grows while pulling).
#pragma once

#include <QTimer>
#include <QWidget>

#include <cstdint>

namespace vornax {

class NodeColouring;

class MapLegend final : public QWidget {
    Q_OBJECT
public:
    /// Over `view` (its parent); `colouring` must outlive it.
    MapLegend(const NodeColouring& colouring, QWidget* view);
    /// The three values shown, highest first, as the legend writes them.
    QStringList valueTexts() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void follow();

    const NodeColouring& m_colouring;
    uint64_t m_shownVersion = UINT64_MAX;
    QTimer m_timer;
};

} // namespace vornax
