#include "dialogs/PictureNameDialog.h"

#include "dialogs/DialogUnits.h"
#include "dialogs/Utf8LimitValidator.h"
#include "platform/Desktop.h"
#include "ui_PictureNameDialog.h"

#include <QMessageBox>
#include <QPushButton>

namespace {
// The form's layout in dialog units.
constexpr QSize kFormSize(187, 49);
constexpr DialogUnitRect kNameEdit { 16, 25, 109, 14 };
constexpr DialogUnitRect kOkButton { 130, 7, 50, 14 };
constexpr DialogUnitRect kCancelButton { 130, 24, 50, 14 };
constexpr DialogUnitRect kPromptLabel { 7, 7, 77, 14 };
} // namespace

PictureNameDialog::PictureNameDialog(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::PictureNameDialog>())
{
    ui_->setupUi(this);
    setFont(dialogFont());
    const DialogUnits units(font());
    setFixedSize(units.toPixels(kFormSize.width(), kFormSize.height()));
    ui_->nameEdit->setGeometry(units.toPixels(kNameEdit));
    ui_->okButton->setGeometry(units.toPixels(kOkButton));
    ui_->cancelButton->setGeometry(units.toPixels(kCancelButton));
    ui_->promptLabel->setGeometry(units.toPixels(kPromptLabel));

    limit_ = new Utf8LimitValidator(kMaxNameBytes, this);
    ui_->nameEdit->setValidator(limit_);

    connect(ui_->okButton, &QPushButton::clicked, this, &PictureNameDialog::accept);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &PictureNameDialog::reject);
}

PictureNameDialog::~PictureNameDialog() = default;

void PictureNameDialog::showEvent(QShowEvent* event)
{
    // The field is filled once, when the dialog first opens. Text put in from
    // code is not held to the limit (the check on OK catches it); typing is.
    if (!fieldFilled_) {
        fieldFilled_ = true;
        limit_->setBaseline(pictureName);
        ui_->nameEdit->setText(pictureName);
        ui_->nameEdit->setFocus();
    }
    QDialog::showEvent(event);
}

void PictureNameDialog::accept()
{
    const QString text = ui_->nameEdit->text();
    if (utf8Length(text) > kMaxNameBytes) {
        QMessageBox box(QMessageBox::Warning, applicationName(),
                        tr("请填入不多于%1个的字符。").arg(kMaxNameBytes), QMessageBox::Ok);
        box.exec();
        ui_->nameEdit->setFocus();
        ui_->nameEdit->selectAll();
        return;
    }
    pictureName = text;
    QDialog::accept();
}
