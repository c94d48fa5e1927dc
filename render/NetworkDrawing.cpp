#include "render/NetworkDrawing.h"

namespace vornax {
NetworkDrawing::NetworkDrawing(ElasticNetworkModel& network) : m_network(network) {}
NetworkDrawing::~NetworkDrawing() = default;
void NetworkDrawing::init() {}
void NetworkDrawing::generateRenderingBB() {}
void NetworkDrawing::updateBackboneAngles() {}
void NetworkDrawing::renderBackbone(const Vector3d&) {}
void NetworkDrawing::renderSprings() {}
void NetworkDrawing::renderSelectedAtoms() {}
ElasticNetworkModel& NetworkDrawing::network() { return m_network; }
} // namespace vornax
