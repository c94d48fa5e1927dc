// Rotation as a quaternion with its 4 × 4 matrix in OpenGL's column order; orients the
// backbone cylinders and the force arrows. One class serves the device object and the view:
// it lives with the arc-ball in the core (haptics/ArcBall.h).
#pragma once

#include "haptics/ArcBall.h"
