#include "dialogs/AboutDialog.h"

#include "dialogs/DialogUnits.h"
#include "platform/BitmapImage.h"
#include "raster/Bitmap.h"
#include "raster/DibImage.h"
#include "raster/MemoryDC.h"
#include "resources/Resources.h"
#include "ui_AboutDialog.h"

#include <QImage>
#include <QPixmap>
#include <QPushButton>

namespace {
// The form's layout in dialog units.
constexpr QSize kFormSize(151, 124);
constexpr DialogUnitRect kCloseButton { 120, 102, 24, 14 };
constexpr DialogUnitRect kPicture { 7, 7, 136, 84 };
constexpr DialogUnitRect kCredits { 7, 95, 105, 25 };
} // namespace

QImage builtInPicture(int resourceId)
{
    const ResourceData resource = findResource(resourceId);
    const DibImage image(resource.data, resource.size);
    int width = 0, height = 0;
    if (image.GetImageSize(width, height) != 0 || width <= 0 || height <= 0)
        return QImage();

    Bitmap bitmap = Bitmap::colour(width, height);
    MemoryDC dc;
    dc.select(&bitmap);
    image.Draw(dc);

    return imageFromBitmap(bitmap);
}

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::AboutDialog>())
{
    ui_->setupUi(this);
    setFont(dialogFont());
    const DialogUnits units(font());
    setFixedSize(units.toPixels(kFormSize.width(), kFormSize.height()));
    ui_->closeButton->setGeometry(units.toPixels(kCloseButton));
    ui_->pictureLabel->setGeometry(units.toPixels(kPicture));
    ui_->creditsLabel->setGeometry(units.toPixels(kCredits));

    // Drawn at its own size inside the frame; what does not fit is cut off
    // here, since the label would otherwise paint a larger picture over its frame.
    const QImage picture = builtInPicture(ResourceId::kAboutPicture);
    if (!picture.isNull()) {
        const QRect shown = picture.rect().intersected(QRect(QPoint(0, 0), ui_->pictureLabel->contentsRect().size()));
        ui_->pictureLabel->setPixmap(QPixmap::fromImage(picture.copy(shown)));
    }

    connect(ui_->closeButton, &QPushButton::clicked, this, &AboutDialog::accept);
}

AboutDialog::~AboutDialog() = default;
