// How the window behaves while a structure loads: the frames the view draws (their longest gap),
// the window thread's own latency, the progress bar (the values it showed, and how long it
// showed itself busy), and how soon a resize is answered with a frame of the new size. The structure is opened from the command line as `vornax FILE` does
// (modes computed, no eigen data files written, no device); the window is resized once the
// eigen solution is under way.
//
//     load_responsiveness_probe FILE.pdb [--rc Å]
//
// Run it under an X server (bench/load-responsiveness.sh starts Xvfb). Prints one JSON object.
#include "Form1.h"
#include "ViewSurface.h"

#include "common/Console.h"
#include "enm/ElasticNetworkModel.h"
#include "haptics/Workbench.h"
#include "render/COpenGL.h"

#include <QApplication>
#include <QLabel>
#include <QOpenGLWidget>
#include <QProgressBar>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <set>
#include <string>
#include <vector>

using namespace vornax;
using Clock = std::chrono::steady_clock;

namespace {

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Gaps {
    std::vector<Clock::time_point> times;
    double longest() const
    {
        double worst = 0.0;
        for (std::size_t i = 1; i < times.size(); ++i) worst = std::max(worst, ms(times[i] - times[i - 1]));
        return worst;
    }
    double median() const
    {
        std::vector<double> d;
        for (std::size_t i = 1; i < times.size(); ++i) d.push_back(ms(times[i] - times[i - 1]));
        if (d.empty()) return 0.0;
        std::nth_element(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(d.size() / 2), d.end());
        return d[d.size() / 2];
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::cerr << "usage: load_responsiveness_probe FILE.pdb [--rc ANGSTROM]\n";
        return 2;
    }
    WindowOptions options;
    options.file = argv[1];
    options.openDevice = false;
    options.allowStereo = false;
    for (int i = 2; i + 1 < argc; i += 2)
        if (std::string(argv[i]) == "--rc") options.rc = std::strtof(argv[i + 1], nullptr);

    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    console::Capture quiet; // the engine's lines are not the probe's output

    const Clock::time_point start = Clock::now();
    Form1 window(options);
    window.resize(1200, 900);
    window.show();
    auto* surface = qobject_cast<QOpenGLWidget*>(window.surface()->widget());
    if (!surface) {
        std::cerr << "load_responsiveness_probe: the view is not a QOpenGLWidget here\n";
        return 1;
    }

    // Frames drawn and window-thread ticks, from the load's start to its end.
    Gaps frames, ticks;
    bool loading = true;
    bool ok = false;
    QObject::connect(surface, &QOpenGLWidget::frameSwapped, [&] {
        if (loading) frames.times.push_back(Clock::now());
    });
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (loading) ticks.times.push_back(Clock::now());
    });
    ticker.start(5);

    // The progress bar's distinct values, and the stages the status line named.
    std::set<int> progress;
    int busyTicks = 0; // 20 ms looks at a busy bar
    std::vector<std::string> stages;
    QTimer watcher;
    const auto* bar = window.findChild<QProgressBar*>("ELNcalcProgBar");

    // One resize once the modes are being computed: the time until a frame of the new size.
    const QSize before = surface->size();
    Clock::time_point resizedAt{}, answeredAt{};
    bool resized = false, answered = false;
    QObject::connect(surface, &QOpenGLWidget::frameSwapped, [&] {
        if (resized && !answered && surface->size() != before) {
            answered = true;
            answeredAt = Clock::now();
        }
    });
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (bar && bar->isVisible()) {
            if (bar->maximum() == 0)
                ++busyTicks;
            else
                progress.insert(bar->value());
        }
        const std::string status = window.statusText().toStdString();
        if (stages.empty() || stages.back() != status) stages.push_back(status);
        if (!resized && loading && status.find("computing the normal modes") != std::string::npos) {
            resized = true;
            resizedAt = Clock::now();
            window.resize(1000, 760);
        }
    });
    watcher.start(20);

    QObject::connect(&window, &Form1::loadEnded, [&](bool success, const QString& message) {
        loading = false;
        ok = success;
        if (!success) std::cerr << "load failed: " << message.toStdString() << '\n';
        QTimer::singleShot(200, &app, &QCoreApplication::quit);
    });
    app.exec();

    std::printf("{\n  \"file\": \"%s\",\n  \"loaded\": %s,\n  \"nodes\": %d,\n  \"load_seconds\": %.2f,\n", argv[1],
                ok ? "true" : "false", window.workbench().network() ? window.workbench().network()->getAmountOfAtoms() : 0, ms(Clock::now() - start) / 1000.0);
    std::printf("  \"frames_during_load\": %zu,\n  \"longest_frame_gap_ms\": %.1f,\n  \"median_frame_gap_ms\": %.1f,\n",
                frames.times.size(), frames.longest(), frames.median());
    std::printf("  \"longest_window_thread_gap_ms\": %.1f,\n  \"progress_values_seen\": %zu,\n"
                "  \"busy_bar_seconds\": %.1f,\n",
                ticks.longest(), progress.size(), busyTicks * 0.02);
    std::printf("  \"resize_answered\": %s,\n  \"resize_to_new_frame_ms\": %.1f,\n  \"stages\": [", answered ? "true" : "false",
                answered ? ms(answeredAt - resizedAt) : -1.0);
    for (std::size_t i = 0; i < stages.size(); ++i) std::printf("%s\"%s\"", i ? ", " : "", stages[i].c_str());
    std::printf("]\n}\n");
    return ok && answered ? 0 : 1;
}
