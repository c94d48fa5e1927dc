// The compressed Hessian moved to enm/sparse/; this name stays only until enm/SparseModes.h
// moves beside it and includes it from there.
#pragma once

#include "enm/sparse/SparseHessian.h"
