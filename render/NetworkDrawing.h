// The GL side of the network object's drawing.
#pragma once

namespace vornax {
class ElasticNetworkModel;
class Vector3d;
/// The GL side of the network object's drawing: one per network, made with the context current.
class NetworkDrawing {
public:
    explicit NetworkDrawing(ElasticNetworkModel& network);
    ~NetworkDrawing();            // frees its lists (context current)
    void init();                  // cylinderList (GLU quadric) etc.
    void generateRenderingBB();   // drawing side; once the network's rendering data are set up
    void updateBackboneAngles();  // every frame, before drawing
    void renderBackbone(const Vector3d& camLocal);
    void renderSprings();
    void renderSelectedAtoms();
    ElasticNetworkModel& network();

private:
    ElasticNetworkModel& m_network;
};
} // namespace vornax
