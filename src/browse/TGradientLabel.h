#pragma once

#include <QColor>
#include <QLabel>

// A label whose text is painted with a vertical gradient from GradientTop to GradientBottom.
class TGradientLabel : public QLabel {
    Q_OBJECT

public:
    explicit TGradientLabel(QWidget* parent = nullptr);

    QColor GradientTop;
    QColor GradientBottom;

protected:
    void paintEvent(QPaintEvent* event) override;
};
