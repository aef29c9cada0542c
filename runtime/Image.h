// TImage: the picture control of the forms. It shows its picture stretched
// to the control's size (the skin fills the main window), pixel for pixel
// without smoothing; on a screen with a device pixel ratio other than 1,
// where the picture is always enlarged or reduced to the device's pixels, it
// is scaled smoothly.
#pragma once
#include <QImage>
#include <QWidget>

class TImage : public QWidget {
public:
    explicit TImage(QWidget* parent = nullptr);
    const QImage& Picture() const { return picture_; }
    void SetPicture(const QImage& picture);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage picture_;
};
