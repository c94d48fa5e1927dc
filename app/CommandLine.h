// The program's command line: which structure to open and how (the answers the load dialogs
// would get), which haptic device, and the unattended steps once the load is done.
//
//     vornax [FILE.pdb | FILE.cif | FILE.hdv] [--choice pdb|elnemo|eigen|text] [--rc Å]
//            [--assembly ID [--copies LIST]] [--ppy FILE.ppy]
//            [--modes MODE.pdb ...] [--eigenvalues FILE.txt] [--eigen-file FILE.txt] [--save-dir DIR]
//            [--no-device | --virtual-device | --mouse-stylus] [--mono] [--save-forces]
//            [--stylus-script FILE] [--screenshot OUT.png] [--save-session OUT.vsf] [--save-as OUT.pdb]
//            [--open-session FILE.vsf] [--quit]
//     vornax --summary [FILE.pdb]
#pragma once

#include "Automation.h"
#include "Form1.h"

#include <string>

namespace vornax {

struct CommandLine {
    WindowOptions window;
    AutomationOptions steps;
    bool summary = false;
    /// Use the virtual device (driven by the mouse) instead of looking for an arm.
    bool mouseStylus = false;
    /// --window-size: the window's size in pixels, not maximised; 0 × 0: maximised.
    int windowWidth = 0;
    int windowHeight = 0;
    /// Set when the program should stop at once: the exit status, with `message` for the user
    /// (help text on stdout for status 0, an error on stderr otherwise).
    int exitStatus = -1;
    std::string message;
};

/// Reads the arguments. A `.hdv` FILE without --choice is loaded as eigen data files; every
/// other FILE as a PDB structure whose modes are computed. Choices that need more files
/// (ElNemo mode files, a text eigen file) and options that do not fit the choice are refused
/// here, before any window opens.
CommandLine parseCommandLine(int argc, const char* const* argv);

} // namespace vornax
