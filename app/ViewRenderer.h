// What every GL surface of the window does with the view: load GL, make the view, resize it,
// draw a frame and measure the frame rate. Plain C++; the caller makes its context current.
#pragma once

#include <chrono>
#include <memory>
#include <string>

namespace vornax {

class COpenGL;
class Workbench;

class ViewRenderer {
public:
    /// The view draws `workbench` (not owned); `hapticRadius`: the probe sphere's radius in Å.
    explicit ViewRenderer(Workbench& workbench, float hapticRadius = 1.52f);
    ~ViewRenderer();
    ViewRenderer(const ViewRenderer&) = delete;
    ViewRenderer& operator=(const ViewRenderer&) = delete;

    /// Loads the GL entry points and makes the view for a surface of `width` × `height`
    /// pixels. False, with the reason in `problem`, when GL cannot be loaded.
    bool initialize(int width, int height, std::string* problem = nullptr);
    void resize(int width, int height);
    /// One frame: zoom easing, drawing, and every 11th frame the frame rate handed to the view.
    void paint();
    /// Frees the view's GL objects (context current).
    void release();

    COpenGL* view() const { return m_view.get(); }
    /// Frames per second over the last 11 frames (0 until measured).
    int measuredFrameRate() const { return m_frameRate; }

private:
    Workbench& m_workbench;
    float m_hapticRadius;
    std::unique_ptr<COpenGL> m_view;
    int m_count = 0;
    int m_frameRate = 0;
    std::chrono::steady_clock::time_point m_measureStart;
};

} // namespace vornax
