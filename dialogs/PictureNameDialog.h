#pragma once

#include <QDialog>
#include <QString>

#include <memory>

class Utf8LimitValidator;
namespace Ui {
class PictureNameDialog;
}

// Asks for the display name of a picture that has just become a figure.
class PictureNameDialog : public QDialog {
    Q_OBJECT

public:
    // Names are stored in UTF-8; this many bytes at most.
    static constexpr int kMaxNameBytes = 54;

    explicit PictureNameDialog(QWidget* parent = nullptr);
    ~PictureNameDialog() override;

    // Put into the field when the dialog opens; the typed text after OK, as
    // typed (no trimming). Cancel leaves it as it was.
    QString pictureName;

    // Takes the field's text if it fits, else refuses it and keeps the dialog open.
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<Ui::PictureNameDialog> ui_;
    Utf8LimitValidator* limit_;
    bool fieldFilled_ = false;
};
