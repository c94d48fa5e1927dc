// Frames per second of the real window while a node is pulled with the mouse: the structure
// (optionally one of its biological assemblies) opened as `vornax FILE --mouse-stylus` opens it,
// then the frames drawn while the view is left alone, and while the left button holds the node
// nearest the eye and the pointer swings to and fro (8 pixels, --swing), then is held 3 swings to the
// side while the force and the shot are taken. With --full the distant nodes
// are drawn in full as well (NetworkDrawing::CheapFar::Never), with --cheap as points whatever
// the node count (CheapFar::Always); by default the view decides.
//
//     window_pull_probe FILE [--assembly ID [--copies LIST]] [--seconds S] [--swing PX] [--full | --cheap]
//                       [--shot OUT.png]
//
// Run it under an X server (bench/window-pull-fps.sh starts Xvfb). Prints one JSON object.
#include "CommandLine.h"
#include "Form1.h"
#include "FormControls.h"
#include "ViewSurface.h"

#include "common/Console.h"
#include "enm/ElasticNetworkModel.h"
#include "haptics/Haptics.h"
#include "haptics/Workbench.h"
#include "haptics/hdapi/hdapi.h"
#include "molecule/Atom.h"
#include "render/COpenGL.h"
#include "render/GLHeaders.h"
#include "render/NetworkDrawing.h"

#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QOpenGLWidget>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <functional>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

using namespace vornax;
using Clock = std::chrono::steady_clock;

namespace {

std::array<double, 3> pixelOf(COpenGL& view, int32_t i) { return view.surfacePixelOf(i); }

/// The node nearest the eye among those drawn in the middle quarter of the picture.
int32_t frontNode(COpenGL& view, int width, int height)
{
    int32_t best = -1;
    double bestDepth = 2.0;
    for (int32_t i = 0; i < view.workbench().network()->getAmountOfAtoms(); ++i) {
        const auto p = pixelOf(view, i);
        // Near the middle, away from the workspace's walls (where the view would scroll).
        if (std::abs(p[0] - width / 2.0) > width / 8.0 || std::abs(p[1] - height / 2.0) > height / 8.0) continue;
        if (p[2] < bestDepth) {
            bestDepth = p[2];
            best = i;
        }
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args{"vornax", "--mouse-stylus", "--mono"};
    double seconds = 10.0;
    int swing = 8; // pixels
    bool full = false, cheap = false;
    std::string shot;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--seconds" && i + 1 < argc) seconds = std::atof(argv[++i]);
        else if (a == "--full") full = true;
        else if (a == "--cheap") cheap = true;
        else if (a == "--swing" && i + 1 < argc) swing = std::atoi(argv[++i]);
        else if (a == "--shot" && i + 1 < argc) shot = argv[++i];
        else args.push_back(a);
    }
    std::vector<const char*> argvLine;
    for (const std::string& a : args) argvLine.push_back(a.c_str());
    CommandLine line = parseCommandLine(static_cast<int>(argvLine.size()), argvLine.data());
    if (line.exitStatus >= 0 || line.window.file.empty()) {
        std::cerr << "usage: window_pull_probe FILE [--assembly ID [--copies LIST]] [--seconds S] [--full] "
                     "[--shot OUT.png]\n"
                  << line.message << '\n';
        return 2;
    }
    hdapi::useVirtualDevice(true);

    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    console::Capture quiet;
    const Clock::time_point start = Clock::now();
    Form1 window(line.window);
    window.resize(1200, 900);
    window.show();
    auto* surface = qobject_cast<QOpenGLWidget*>(window.surface()->widget());
    if (!surface) {
        std::cerr << "window_pull_probe: the view is not a QOpenGLWidget here\n";
        return 1;
    }
    int frames = 0;
    QObject::connect(surface, &QOpenGLWidget::frameSwapped, [&] { ++frames; });

    bool ended = false, ok = false;
    QObject::connect(&window, &Form1::loadEnded, [&](bool success, const QString& message) {
        ended = true;
        ok = success;
        if (!success) std::cerr << "load failed: " << message.toStdString() << '\n';
    });
    while (!ended) QTest::qWait(50);
    const double loadSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    COpenGL* view = window.view();
    // The view makes the network's drawing at its first frame after the hand-over.
    if (ok && view) QTest::qWaitFor([&] { return view->getNetworkDrawing() != nullptr; }, 120000);
    if (!ok || !view || !window.workbench().device() || !view->getNetworkDrawing()) {
        std::cerr << "window_pull_probe: the structure is not on the view with a device\n";
        return 1;
    }
    if (full) view->getNetworkDrawing()->setCheapFarNodes(NetworkDrawing::CheapFar::Never);
    if (cheap) view->getNetworkDrawing()->setCheapFarNodes(NetworkDrawing::CheapFar::Always);
    QTest::qWait(1500); // the first frames (buffers grown)

    auto framesPerSecond = [&](double s, const std::function<void(double)>& during) {
        const int first = frames;
        const Clock::time_point t0 = Clock::now();
        double t = 0.0;
        while (t < s) {
            during(t);
            QTest::qWait(20);
            t = std::chrono::duration<double>(Clock::now() - t0).count();
        }
        return (frames - first) / t;
    };
    const double idle = framesPerSecond(seconds, [](double) {});

    // The pull only: the workspace does not scroll when the tip meets its walls.
    if (window.controls().hapticsTranslate->isChecked()) window.controls().hapticsTranslate->click();
    QTest::qWait(100);
    if (!shot.empty()) window.grab().toImage().save(QString::fromStdString(shot + ".before.png"));
    // The pull: press on the front node, swing the pointer, keep pulling.
    const int32_t node = frontNode(*view, surface->width(), surface->height());
    if (node < 0) {
        std::cerr << "window_pull_probe: no node inside the picture\n";
        return 1;
    }
    const auto at = pixelOf(*view, node);
    const QPoint press = surface->mapTo(&window, QPoint(static_cast<int>(std::lround(at[0])),
                                                        static_cast<int>(std::lround(at[1]))));
    QTest::mousePress(&window, Qt::LeftButton, Qt::NoModifier, press);
    QTest::qWait(200);
    const bool grabbed = window.workbench().network()->getAtom(node)->isSelected();
    const double pulling = framesPerSecond(seconds, [&](double t) {
        const int dx = static_cast<int>(std::lround(swing * std::sin(t * 1.5)));
        QTest::mouseMove(&window, press + QPoint(dx + swing / 2, 0));
    });
    // Then held off to one side, so that the last frame (and the shot) shows a pull.
    QTest::mouseMove(&window, press + QPoint(3 * swing, -2 * swing));
    QTest::qWait(800);
    const NetworkDrawing::FrameCounts counts = view->getNetworkDrawing()->lastFrame();
    const float force = window.workbench().network()->getAtom(node)->getMyApplyingForce().size();
    // Nodes whose positions the pull lost (never drawn).
    int nonFinite = 0;
    for (int32_t i = 0; i < window.workbench().network()->getAmountOfAtoms(); ++i) {
        const Vector3d p = window.workbench().network()->deformation().getDeformedPosition(i);
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
            ++nonFinite;
        }
    }
    if (!shot.empty()) window.grab().toImage().save(QString::fromStdString(shot));
    QTest::mouseRelease(&window, Qt::LeftButton, Qt::NoModifier, press);
    QTest::qWait(200);

    int spheres = 0;
    for (int32_t c : counts.spheres) spheres += c;
    std::printf("{\n  \"file\": \"%s\",\n  \"assembly\": \"%s\",\n  \"nodes\": %d,\n  \"load_seconds\": %.1f,\n",
                line.window.file.string().c_str(), line.window.assembly.id.c_str(), window.workbench().network()->getAmountOfAtoms(),
                loadSeconds);
    std::printf("  \"drawing\": \"%s\",\n  \"surface\": [%d, %d],\n  \"fps_idle\": %.1f,\n  \"fps_pulling\": %.1f,\n",
                full ? "full" : cheap ? "cheap" : "view's choice", surface->width(), surface->height(), idle, pulling);
    std::printf("  \"non_finite_nodes\": %d,\n", nonFinite);
    std::printf("  \"pulled_node\": %d,\n  \"grabbed\": %s,\n  \"pull_force_kcal_per_mol_A\": %.3g,\n", node,
                grabbed ? "true" : "false", static_cast<double>(force));
    std::printf("  \"last_frame\": {\"spheres\": %d, \"cylinders\": %d, \"points\": %d, \"lines\": %d, "
                "\"impostors\": %s}\n}\n",
                spheres, counts.cylinders, counts.points, counts.lines, counts.impostors ? "true" : "false");
    window.close();
    return grabbed ? 0 : 1;
}
