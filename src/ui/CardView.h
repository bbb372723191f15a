#pragma once
// A rounded white container with a soft purple-tinted shadow that holds one
// group of controls. It does not clip its children.

#include <QWidget>

namespace quillmere {

class CardView : public QWidget {
public:
    static constexpr double cornerRadius = 12.0;
    static constexpr double shadowBlurRadius = 10.0;
    static constexpr double shadowOffsetY = 2.0;

    explicit CardView(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace quillmere
