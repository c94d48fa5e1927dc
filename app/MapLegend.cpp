#include "MapLegend.h"

#include "enm/NodeMaps.h"
#include "render/ColourRamp.h"

#include <QLinearGradient>
#include <QPainter>

namespace vornax {

namespace {

constexpr int kWidth = 210, kHeight = 150, kMargin = 8, kBarWidth = 18;

QColor colourAt(double fraction)
{
    const std::array<float, 3> c = rampColour(fraction);
    return QColor::fromRgbF(c[0], c[1], c[2]);
}

QString valueText(double v) { return QString::number(v, 'g', 3); }

} // namespace

MapLegend::MapLegend(const NodeColouring& colouring, QWidget* view) : QWidget(view), m_colouring(colouring)
{
    setObjectName("mapLegend");
    setAttribute(Qt::WA_TransparentForMouseEvents); // the mouse stylus works under it
    setGeometry(kMargin, kMargin, kWidth, kHeight);
    hide();
    m_timer.setInterval(100);
    connect(&m_timer, &QTimer::timeout, this, &MapLegend::follow);
    m_timer.start();
}

QStringList MapLegend::valueTexts() const
{
    const NodeMap* map = m_colouring.map();
    if (!map) return {};
    return {valueText(map->high), valueText(0.5 * (map->low + map->high)), valueText(map->low)};
}

void MapLegend::follow()
{
    if (m_colouring.version() == m_shownVersion) return;
    m_shownVersion = m_colouring.version();
    setVisible(m_colouring.map() != nullptr);
    if (isVisible()) raise();
    update();
}

void MapLegend::paintEvent(QPaintEvent*)
{
    const NodeMap* map = m_colouring.map();
    if (!map) return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QColor(120, 120, 120));
    p.setBrush(QColor(255, 255, 255, 225));
    p.drawRoundedRect(rect().adjusted(0, 0, -1, -1), 4, 4);

    p.setPen(Qt::black);
    const QRect title(6, 4, width() - 12, 20);
    p.drawText(title, Qt::AlignLeft | Qt::AlignVCenter,
               p.fontMetrics().elidedText(QString::fromStdString(map->title), Qt::ElideRight, title.width()));

    // Highest at the top.
    const QRect bar(10, 30, kBarWidth, height() - 40);
    QLinearGradient ramp(bar.topLeft(), bar.bottomLeft());
    for (const double f : {0.0, 0.25, 0.5, 0.75, 1.0}) ramp.setColorAt(f, colourAt(1.0 - f));
    p.setBrush(ramp);
    p.setPen(QColor(80, 80, 80));
    p.drawRect(bar);

    const QStringList values = valueTexts();
    const int ys[] = {bar.top(), bar.center().y(), bar.bottom()};
    for (int i = 0; i < 3; ++i) {
        p.drawLine(bar.right(), ys[i], bar.right() + 5, ys[i]);
        p.drawText(QRect(bar.right() + 9, ys[i] - 10, width() - bar.right() - 14, 20), Qt::AlignLeft | Qt::AlignVCenter,
                   values[i]);
    }
}

} // namespace vornax
