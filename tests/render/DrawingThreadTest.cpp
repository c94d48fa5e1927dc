// Frames drawn on the window thread while the servo thread (the virtual device's 1 kHz
// scheduler) and the simulation thread pull a node: everything the frame reads (positions,
// forces, arrow colours, selection, contact, the pulled-atom list) is written meanwhile. Also
// built and run with ThreadSanitizer.
#include "DrawingTestSupport.h"

#include "../haptics/HapticsTestSupport.h"
#include "enm/SimulationThread.h"
#include "haptics/hdapi/VirtualDevice.h"
#include "molecule/Atom.h"
#include "render/NetworkDrawing.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

using namespace vornax;
using namespace vornax::testing;
using namespace vornax::gltest;
using namespace std::chrono_literals;

TEST(DrawingThreads, FramesWhileTheServoAndSimulationThreadsPull)
{
    // llvmpipe rasterises on the drawing thread: its own worker threads are not instrumented,
    // and ThreadSanitizer would see only their half of each hand-over.
    setenv("LP_NUM_THREADS", "0", 0);
    GLTestContext gl(320, 240);
    VORNAX_REQUIRE_CONTEXT(gl);
    const auto path = findPdb("1crn.pdb");
    if (path.empty()) GTEST_SKIP() << "1crn.pdb is not available";
    auto s = solvedStructure(path);
    ASSERT_TRUE(s);
    VirtualSessionOptions o = testOptions(false);
    o.manual = false;
    VirtualDeviceSession session(*s->network, s->atoms, o);
    ASSERT_TRUE(session.ok());
    ElasticNetworkModel& eln = *s->network;
    std::vector<Vector3d> nodes;
    for (int i = 0; i < eln.getAmountOfAtoms(); ++i) nodes.push_back(session.nodeInDevice(i));
    SimulationThread sim(&eln);

    NetworkDrawing drawing(eln);
    drawing.init();
    drawing.generateRenderingBB();

    // The user: touch, pull, let go and touch again, twice, on another thread; the servo
    // thread turns it into contact, selection, forces and the pulled-atom list.
    std::atomic<bool> done{false};
    std::thread user([&] {
        const auto wait = [] { std::this_thread::sleep_for(40ms); };
        for (int node : {10, 30}) {
            const Vector3d at = nodes[static_cast<std::size_t>(node)];
            session.setStylus(Vector3d(0, 0, 1000), 0);
            wait();
            session.setStylus(at + Vector3d(11, 0, 0), 0);
            wait();
            session.setStylus(at + Vector3d(11, 0, 0), 1);
            wait();
            for (float d = 15.0f; d <= 60.0f; d += 5.0f) {
                session.setStylus(at + Vector3d(d, d / 2, 0), 1);
                wait();
            }
            session.setStylus(at + Vector3d(60, 30, 0), 0); // output frozen
            wait();
            session.setStylus(at + Vector3d(60, 30, 0), 1);
            wait();
            session.setStylus(at + Vector3d(60, 30, 0), 0); // let go outside: ramp down
            std::this_thread::sleep_for(200ms);
        }
        done.store(true);
    });

    // The window thread: frames as the view draws them, colourings changed now and then.
    int frames = 0, framesWithArrows = 0, framesWithHalos = 0;
    const Vector3d centre = eln.deformation().getDeformedPosition(eln.getAmountOfAtoms() / 2);
    const Vector3d eye = centre + Vector3d(0, 0, 600);
    while (!done.load() || frames < 20) {
        beginFrame(gl, eye, centre);
        drawing.updateBackboneAngles();
        drawing.renderBackbone(eye);
        glDisable(GL_LIGHTING);
        drawing.renderSprings();
        glEnable(GL_LIGHTING);
        glEnable(GL_BLEND);
        drawing.renderSelectedAtoms();
        glDisable(GL_BLEND);
        glFinish();
        framesWithArrows += drawing.lastFrame().arrows > 0;
        framesWithHalos += drawing.lastFrame().halos > 0;
        if (frames % 10 == 0) {
            if (frames % 20 == 0)
                eln.generateColourList();
            else
                eln.generateColourListOverSeq();
        }
        for (const Atom* a : eln.getContactList()) (void)a->isInContact();
        ++frames;
    }
    user.join();
    sim.stop();
    EXPECT_GT(framesWithArrows, 0);
    EXPECT_GT(framesWithHalos, 0);
    EXPECT_FALSE(drawing.lastFrame().rigid);
}
