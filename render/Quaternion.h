// The axis-angle quaternion that orients the backbone cylinders and force arrows is the one the
// device object's arc-ball uses.
#pragma once

#include "haptics/ArcBall.h"
