#!/usr/bin/env python3
"""The peer's square fluctuations and perturbation-response maps of a structure, for the tests.

Usage: prody_maps.py PDB_FILE CUTOFF OUT.json

Nodes: every ATOM/HETATM record of the first model whose atom name (columns 13-16) is " CA ",
or whose columns 14-15, trimmed, are "P", in file order. Springs join nodes strictly closer than
CUTOFF (Angstrom), gamma = 1. Every non-zero mode is computed (ProDy drops the zero ones).

Writes sq_flucts (calcSqFlucts over every mode), sq_flucts_first10 (over the 10 lowest),
prs_matrix, effectiveness and sensitivity (calcPerturbResponse, its default form).
Needs Debian's python3-prody.
"""
import json
import sys

import numpy as np
import prody
from prody.dynamics.gamma import Gamma


class StrictCutoff(Gamma):
    def __init__(self, rc):
        Gamma.__init__(self)
        self.c2 = rc * rc

    def gamma(self, dist2, i, j):
        return 1.0 if dist2 < self.c2 else 0.0


def nodes(path):
    coords = []
    with open(path, encoding='latin-1') as fh:
        for line in fh:
            if line.startswith('ENDMDL'):
                break
            if not line.startswith(('ATOM', 'HETATM')):
                continue
            if line[12:16] == ' CA ' or line[13:15].strip() == 'P':
                coords.append([float(line[30:38]), float(line[38:46]), float(line[46:54])])
    return np.array(coords, float)


def main(argv):
    pdb, cutoff, out = argv[1], float(argv[2]), argv[3]
    prody.confProDy(verbosity='none')
    xyz = nodes(pdb)
    anm = prody.ANM('peer')
    anm.buildHessian(xyz, cutoff=cutoff, gamma=StrictCutoff(cutoff))
    anm.calcModes(n_modes=None, zeros=False)
    prs, effectiveness, sensitivity = prody.calcPerturbResponse(anm)
    result = {
        'nodes': int(len(xyz)),
        'modes': int(anm.numModes()),
        'sq_flucts': prody.calcSqFlucts(anm).tolist(),
        'sq_flucts_first10': prody.calcSqFlucts(anm[:10]).tolist(),
        'prs_matrix': np.asarray(prs).tolist(),
        'effectiveness': np.asarray(effectiveness).tolist(),
        'sensitivity': np.asarray(sensitivity).tolist(),
    }
    with open(out, 'w') as fh:
        json.dump(result, fh)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
