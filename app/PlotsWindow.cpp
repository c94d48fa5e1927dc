#include "PlotsWindow.h"

#include "common/AtomicFile.h"
#include "enm/Calibration.h"
#include "enm/ElasticNetworkModel.h"
#include "enm/NetworkMaps.h"
#include "enm/NodeMaps.h"
#include "haptics/Workbench.h"
#include "molecule/Atom.h"
#include "render/ColourRamp.h"

#include <QBuffer>
#include <QChart>
#include <QChartView>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPainter>
#include <QSvgGenerator>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>

namespace vornax {

namespace {

constexpr int kLowestEigenvalues = 50;
constexpr int kHeatMapPixels = 360;
constexpr const char* kNames[] = {"bfactors", "displacement", "eigenvalues", "response"};

QLineSeries* lineSeries(const QString& name, const std::vector<double>& y, bool points = false)
{
    auto* s = new QLineSeries;
    s->setName(name);
    for (std::size_t i = 0; i < y.size(); ++i)
        if (std::isfinite(y[i])) s->append(static_cast<double>(i), y[i]);
    s->setPointsVisible(points);
    return s;
}

/// `chart` cleared and given `series` on shared axes named `x` and `y`.
void fill(QChart* chart, const QString& title, const std::vector<QLineSeries*>& series, const QString& x,
          const QString& y)
{
    chart->removeAllSeries();
    for (QAbstractAxis* axis : chart->axes()) chart->removeAxis(axis);
    chart->setTitle(title);
    auto* ax = new QValueAxis;
    ax->setTitleText(x);
    auto* ay = new QValueAxis;
    ay->setTitleText(y);
    chart->addAxis(ax, Qt::AlignBottom);
    chart->addAxis(ay, Qt::AlignLeft);
    double low = 0.0, high = 0.0, right = 1.0;
    bool any = false;
    for (QLineSeries* s : series) {
        chart->addSeries(s);
        s->attachAxis(ax);
        s->attachAxis(ay);
        for (const QPointF& p : s->points()) {
            low = any ? std::min(low, p.y()) : p.y();
            high = any ? std::max(high, p.y()) : p.y();
            right = std::max(right, p.x());
            any = true;
        }
    }
    ax->setRange(0.0, right);
    ay->setRange(std::min(0.0, low), high > low ? high * 1.05 : low + 1.0);
}

std::string nodeColumns(const ElasticNetworkModel& eln, int i)
{
    const Atom* a = eln.getAtom(i);
    return std::to_string(i) + ',' + a->getChainID() + ',' + a->getResidue();
}

} // namespace

const char* PlotsWindow::name(Plot plot) { return kNames[static_cast<std::size_t>(plot)]; }

std::optional<PlotsWindow::Plot> PlotsWindow::byName(const std::string& text)
{
    for (const Plot p : kPlots)
        if (text == name(p)) return p;
    return std::nullopt;
}

PlotsWindow::PlotsWindow(Workbench& workbench, QWidget* parent) : QWidget(parent, Qt::Window), m_bench(workbench)
{
    setObjectName("plotsWindow");
    setWindowTitle("Vornax - Plots");
    resize(900, 560);
    m_pages = new QTabWidget;
    m_pages->setObjectName("plotPages");
    const char* titles[] = {"B-factors", "Displacement", "Eigenvalues", "Response"};
    for (const Plot p : kPlots) {
        auto* chart = new QChart;
        chart->legend()->setAlignment(Qt::AlignBottom);
        auto* view = new QChartView(chart);
        view->setObjectName(QString("plot_") + name(p));
        view->setRenderHint(QPainter::Antialiasing);
        m_views[static_cast<std::size_t>(p)] = view;
        if (p != Plot::Response) {
            m_pages->addTab(view, titles[static_cast<std::size_t>(p)]);
            continue;
        }
        m_responsePage = new QWidget;
        auto* row = new QHBoxLayout(m_responsePage);
        m_heatMap = new QLabel;
        m_heatMap->setObjectName("responseHeatMap");
        m_heatMap->setFixedSize(kHeatMapPixels, kHeatMapPixels);
        m_heatMap->setToolTip("Row i: the response of every node to a push on node i (click: colour the view by it)");
        m_heatMap->installEventFilter(this);
        row->addWidget(m_heatMap);
        row->addWidget(view, 1);
        m_pages->addTab(m_responsePage, titles[static_cast<std::size_t>(p)]);
    }
    (new QVBoxLayout(this))->addWidget(m_pages);
    m_live.setInterval(200);
    connect(&m_live, &QTimer::timeout, this, [this] {
        if (isVisible() && m_pages->currentWidget() == chartView(Plot::Displacement)) drawDisplacement();
    });
    m_live.start();
}

QWidget* PlotsWindow::page(Plot plot) const { return plot == Plot::Response ? m_responsePage : chartView(plot); }

void PlotsWindow::refresh()
{
    // A node clicked on an earlier structure is not this one's.
    if (m_bench.generation() != m_generation) m_highlighted = -1;
    m_generation = m_bench.generation();
    drawBFactors();
    drawDisplacement();
    drawEigenvalues();
    drawResponse();
}

void PlotsWindow::drawBFactors()
{
    QChart* chart = chartView(Plot::BFactors)->chart();
    m_experimental.clear();
    m_predicted.clear();
    m_bSummary.clear();
    const ElasticNetworkModel* eln = m_bench.network();
    std::string why;
    const std::optional<NodeMap> fluct = eln ? nodeMap(*eln, ColourBy::Fluctuation, 0, why) : std::nullopt;
    if (!fluct) {
        fill(chart, "No fluctuations: " + QString::fromStdString(why.empty() ? "nothing loaded" : why), {}, "node",
             "B (Å²)");
        return;
    }
    const int n = eln->getAmountOfAtoms();
    std::map<std::string, std::pair<std::vector<double>, std::vector<double>>> chains;
    for (int i = 0; i < n; ++i) {
        m_experimental.push_back(eln->getAtom(i)->getMyBFactor());
        m_predicted.push_back(kEightPiSquared / 3.0 * fluct->values[static_cast<std::size_t>(i)]);
        auto& [e, p] = chains[eln->getAtom(i)->getChainID()];
        e.push_back(m_experimental.back());
        p.push_back(m_predicted.back());
    }
    auto r = [](double v) { return std::isfinite(v) ? QString::number(v, 'f', 3) : QString("-"); };
    m_bSummary = "r = " + r(pearsonCorrelation(m_experimental, m_predicted));
    if (chains.size() > 1)
        for (const auto& [chain, series] : chains)
            m_bSummary +=
                "; " + QString::fromStdString(chain) + ": " + r(pearsonCorrelation(series.first, series.second));
    const Calibration& cal = eln->modes().getCalibration();
    m_bSummary +=
        "; K = " + QString::number(cal.K, 'g', 4) + " kcal/mol/Å²; S = " + QString::number(eln->getS(), 'g', 4);
    auto* measured = lineSeries("Experimental B", m_experimental, true);
    auto* predicted = lineSeries("Predicted B = 8π²/3 ⟨ΔR²⟩", m_predicted, true);
    for (QLineSeries* s : {measured, predicted})
        connect(s, &QLineSeries::clicked, this, [this](const QPointF& p) { highlightNode(qRound(p.x())); });
    fill(chart, "Fluctuations against the B-factors: " + m_bSummary, {measured, predicted}, "node", "B (Å²)");
}

void PlotsWindow::drawDisplacement()
{
    QChart* chart = chartView(Plot::Displacement)->chart();
    const ElasticNetworkModel* eln = m_bench.network();
    std::string why;
    const std::optional<NodeMap> map = eln ? nodeMap(*eln, ColourBy::Displacement, 0, why) : std::nullopt;
    std::vector<double> values = map ? map->values : std::vector<double>{};
    if (values == m_displacement && !chart->series().isEmpty()) return;
    m_displacement = std::move(values);
    auto* s = lineSeries("|x − x⁰|", m_displacement, true);
    connect(s, &QLineSeries::clicked, this, [this](const QPointF& p) { highlightNode(qRound(p.x())); });
    fill(chart, "Displacement of the current deformation", {s}, "node", "displacement (Å)");
}

void PlotsWindow::drawEigenvalues()
{
    QChart* chart = chartView(Plot::Eigenvalues)->chart();
    m_eigenvalues.clear();
    m_collectivity.clear();
    const ElasticNetworkModel* eln = m_bench.network();
    if (eln) {
        const ModeRows rows = modeRows(eln->modes(), eln->get3N());
        const std::vector<double>& lambda = eln->modes().getEigenvalues();
        for (int k = 0; k < std::min(rows.count, kLowestEigenvalues); ++k) {
            m_eigenvalues.push_back(lambda[static_cast<std::size_t>(k) + 7]);
            m_collectivity.push_back(collectivity(rows, k));
        }
    }
    chart->removeAllSeries();
    for (QAbstractAxis* axis : chart->axes()) chart->removeAxis(axis);
    chart->setTitle("The lowest non-rigid modes (mode 1 is the lowest)");
    auto* values = lineSeries("eigenvalue (unit springs, 1/Å²)", m_eigenvalues, true);
    auto* collective = lineSeries("collectivity", m_collectivity, true);
    auto* ax = new QValueAxis;
    ax->setTitleText("mode − 1");
    ax->setRange(0, std::max<int>(1, static_cast<int>(m_eigenvalues.size()) - 1));
    auto* left = new QValueAxis;
    left->setTitleText("eigenvalue");
    auto* right = new QValueAxis;
    right->setTitleText("collectivity");
    right->setRange(0.0, 1.0);
    const double top = m_eigenvalues.empty() ? 1.0 : *std::max_element(m_eigenvalues.begin(), m_eigenvalues.end());
    left->setRange(0.0, top > 0.0 ? top * 1.05 : 1.0);
    chart->addAxis(ax, Qt::AlignBottom);
    chart->addAxis(left, Qt::AlignLeft);
    chart->addAxis(right, Qt::AlignRight);
    chart->addSeries(values);
    chart->addSeries(collective);
    values->attachAxis(ax);
    values->attachAxis(left);
    collective->attachAxis(ax);
    collective->attachAxis(right);
}

void PlotsWindow::drawResponse()
{
    QChart* chart = chartView(Plot::Response)->chart();
    m_effectiveness.clear();
    m_sensitivity.clear();
    m_response.clear();
    m_responseNodes = 0;
    m_heatMap->clear();
    const ElasticNetworkModel* eln = m_bench.network();
    std::string why = "nothing is loaded";
    const std::optional<PerturbResponse> response = eln ? networkResponse(*eln, why) : std::nullopt;
    if (!response) {
        fill(chart, "No response map: " + QString::fromStdString(why), {}, "node", "");
        return;
    }
    const PerturbResponse& prs = *response;
    m_effectiveness = prs.effectiveness;
    m_sensitivity = prs.sensitivity;
    m_response = prs.matrix;
    m_responseNodes = prs.nodes;
    QImage image(prs.nodes, prs.nodes, QImage::Format_RGB32);
    for (int i = 0; i < prs.nodes; ++i)
        for (int j = 0; j < prs.nodes; ++j) {
            // The diagonal is 1; the rest lies between 0 and about 1.
            const std::array<float, 3> c = rampColour(prs.matrix[static_cast<std::size_t>(i) * prs.nodes + j]);
            image.setPixel(j, i, qRgb(int(c[0] * 255), int(c[1] * 255), int(c[2] * 255)));
        }
    m_heatMap->setPixmap(QPixmap::fromImage(image.scaled(kHeatMapPixels, kHeatMapPixels)));
    auto* effective = lineSeries("effectiveness", m_effectiveness, true);
    auto* sensitive = lineSeries("sensitivity", m_sensitivity, true);
    for (QLineSeries* s : {effective, sensitive})
        connect(s, &QLineSeries::clicked, this, [this](const QPointF& p) { highlightNode(qRound(p.x())); });
    fill(chart, "Perturbation response (rows: the pushed node)", {effective, sensitive}, "node", "mean response");
}

void PlotsWindow::highlightNode(int node)
{
    ElasticNetworkModel* eln = m_bench.network();
    if (!eln || node < 0 || node >= eln->getAmountOfAtoms()) return;
    // The last node clicked gets back the colour it had (a residue highlight stays).
    if (m_highlighted >= 0 && m_highlighted < eln->getAmountOfAtoms())
        eln->getAtom(m_highlighted)->setMyColour(m_highlightedColour);
    m_highlightedColour = eln->getAtom(node)->getMyResidueColour();
    eln->getAtom(node)->setMyColour(Vector3d(1.0f, 1.0f, 0.0f));
    m_highlighted = node;
}

void PlotsWindow::showResponseOf(int node)
{
    const ElasticNetworkModel* eln = m_bench.network();
    if (!eln || node < 0 || node >= m_responseNodes) return;
    NodeMap map;
    map.by = ColourBy::None;
    const auto first = m_response.begin() + static_cast<std::ptrdiff_t>(node) * m_responseNodes;
    map.values.assign(first, first + m_responseNodes);
    const Atom* a = eln->getAtom(node);
    map.title = "Response to " + a->getResidueName() + " " + a->getResidue() + " " + a->getChainID();
    m_bench.colouring().show(std::move(map));
}

bool PlotsWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_heatMap && event->type() == QEvent::MouseButtonPress && m_responseNodes > 0) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        showResponseOf(static_cast<int>(mouse->position().y() * m_responseNodes / m_heatMap->height()));
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

std::string PlotsWindow::csv(Plot plot) const
{
    std::ostringstream out;
    out.precision(10);
    const ElasticNetworkModel* eln = m_bench.network();
    auto rows = [&](const char* header, const std::vector<const std::vector<double>*>& columns) {
        out << "node,chain,residue," << header << '\n';
        const std::size_t n = columns.front()->size();
        for (std::size_t i = 0; i < n && eln; ++i) {
            out << nodeColumns(*eln, static_cast<int>(i));
            for (const auto* c : columns) out << ',' << (*c)[i];
            out << '\n';
        }
    };
    switch (plot) {
    case Plot::BFactors: rows("experimental_b,predicted_b", {&m_experimental, &m_predicted}); break;
    case Plot::Displacement: rows("displacement", {&m_displacement}); break;
    case Plot::Response: rows("effectiveness,sensitivity", {&m_effectiveness, &m_sensitivity}); break;
    case Plot::Eigenvalues:
        out << "mode,eigenvalue,collectivity\n";
        for (std::size_t k = 0; k < m_eigenvalues.size(); ++k)
            out << k + 1 << ',' << m_eigenvalues[k] << ',' << m_collectivity[k] << '\n';
        break;
    }
    return out.str();
}

bool PlotsWindow::exportPlot(Plot plot, const std::filesystem::path& out, std::string& error)
{
    std::string ending = out.extension().string();
    std::transform(ending.begin(), ending.end(), ending.begin(), [](unsigned char c) { return std::tolower(c); });
    QByteArray bytes;
    QWidget* shown = page(plot);
    if (shown->size().isEmpty() || !shown->isVisible()) shown->resize(size()); // never shown: laid out now
    if (ending == ".csv") {
        bytes = QByteArray::fromStdString(csv(plot));
    } else if (ending == ".png") {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        if (!shown->grab().save(&buffer, "PNG")) {
            error = "the picture could not be made";
            return false;
        }
    } else if (ending == ".svg") {
        QBuffer buffer(&bytes);
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setSize(shown->size());
        svg.setViewBox(QRect(QPoint(0, 0), shown->size()));
        svg.setTitle(QString("Vornax: ") + name(plot));
        QPainter painter(&svg);
        shown->render(&painter);
        painter.end();
    } else {
        error = "a plot is written as .png, .svg or .csv, not \"" + ending + "\"";
        return false;
    }
    AtomicFile file(out);
    file.stream().write(bytes.constData(), bytes.size());
    if (!file.commit()) {
        error = file.error();
        return false;
    }
    return true;
}

} // namespace vornax
