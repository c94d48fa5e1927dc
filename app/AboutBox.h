// The about box ("&About..." in the Help menu): the program, its version and what it is for.
#pragma once

#include <QDialog>

namespace vornax {

class AboutBox final : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kTitle = "About Vornax";

    explicit AboutBox(QWidget* parent = nullptr);

    /// "Vornax ENM" and the version, e.g. "Vornax ENM 0.1.0".
    static QString nameAndVersion();
};

} // namespace vornax
