// The plots window: the numbers of the loaded network drawn where people would rather look
// than read, with Qt Charts. Four pages:
//   - "B-factors": the experimental B-factors and those the calibrated network predicts,
//     8π²/3 · kT Σ_k |v_k,i|² / (K λ_k), per node, with Pearson's r overall and per chain, K and S;
//   - "Displacement": |x_i − x_i⁰| of the current deformation, per node, following the pull;
//   - "Eigenvalues": the lowest non-rigid eigenvalues with each mode's collectivity;
//   - "Response": the perturbation-response map as a heat map, with its effectiveness and
//     sensitivity profiles (not on the sparse path).
// A click on a profile highlights that node's residue in the view; a click on the response map
// colours the view by the response to a push on that row's node.
//
//     PlotsWindow plots(workbench);   // refresh() once a structure is loaded
//     plots.exportPlot(PlotsWindow::Plot::BFactors, "b.svg", error);   // .png, .svg or .csv
#pragma once

#include "common/Vector3d.h"
#include <QTimer>

#include <QWidget>

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

class QChart;
class QChartView;
class QLabel;
class QTabWidget;

namespace vornax {

class Workbench;

class PlotsWindow final : public QWidget {
    Q_OBJECT
public:
    enum class Plot { BFactors, Displacement, Eigenvalues, Response };
    static constexpr std::array<Plot, 4> kPlots = {Plot::BFactors, Plot::Displacement, Plot::Eigenvalues,
                                                   Plot::Response};
    /// The names --plot takes: bfactors, displacement, eigenvalues, response.
    static const char* name(Plot plot);
    static std::optional<Plot> byName(const std::string& name);

    /// `workbench` must outlive the window.
    explicit PlotsWindow(Workbench& workbench, QWidget* parent = nullptr);

    /// Draws every page from the loaded network (the displacement also follows every 200 ms
    /// while the window shows).
    void refresh();
    /// Writes `plot` to `out`: a PNG or SVG picture of its page, or its numbers as CSV, by the
    /// file's ending; false with `error` when it cannot.
    bool exportPlot(Plot plot, const std::filesystem::path& out, std::string& error);
    /// A node's residue highlighted in the view (yellow; the last one gets its colour back).
    void highlightNode(int node);
    /// The view coloured by the response to a push on `node` (a row of the response map).
    void showResponseOf(int node);

    QTabWidget* pages() const { return m_pages; }
    QChartView* chartView(Plot plot) const { return m_views[static_cast<std::size_t>(plot)]; }
    QLabel* heatMap() const { return m_heatMap; }
    /// What the B-factor page says (the correlations, K and S).
    QString bFactorSummary() const { return m_bSummary; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void drawBFactors();
    void drawDisplacement();
    void drawEigenvalues();
    void drawResponse();
    QWidget* page(Plot plot) const;
    std::string csv(Plot plot) const;

    Workbench& m_bench;
    QTabWidget* m_pages = nullptr;
    std::array<QChartView*, 4> m_views{};
    QLabel* m_heatMap = nullptr;
    QWidget* m_responsePage = nullptr;
    QTimer m_live;
    QString m_bSummary;
    int m_highlighted = -1;
    Vector3d m_highlightedColour; ///< its colour before the click
    uint64_t m_generation = 0;    ///< of the workbench's network drawn
    // The numbers drawn, for CSV.
    std::vector<double> m_experimental, m_predicted, m_displacement, m_eigenvalues, m_collectivity, m_effectiveness,
        m_sensitivity, m_response;
    int m_responseNodes = 0;
};

} // namespace vornax
