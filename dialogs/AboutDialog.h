#pragma once

#include <QDialog>

#include <memory>

class QImage;
namespace Ui {
class AboutDialog;
}

// The about box: the about picture, the program's name and version and two
// credit lines. Closing it is all it does.
class AboutDialog : public QDialog {
    Q_OBJECT

public:
    explicit AboutDialog(QWidget* parent = nullptr);
    ~AboutDialog() override;

private:
    std::unique_ptr<Ui::AboutDialog> ui_;
};

// The built-in picture with this resource id as an image; null when there is
// none or it cannot be decoded.
QImage builtInPicture(int resourceId);
