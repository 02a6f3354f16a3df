// The picture-name dialog and its 54-byte limit, the about box, and the
// dialog-unit conversion they are laid out with.
#include "GuiTestSupport.h"

#include "dialogs/AboutDialog.h"
#include "dialogs/DialogUnits.h"
#include "dialogs/PictureNameDialog.h"
#include "dialogs/Utf8LimitValidator.h"
#include "platform/Desktop.h"

#include <QClipboard>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include <cmath>

using guitest::child;
using guitest::whenModal;

namespace {

// Committed input-method text, one character at a time, as Chinese is typed.
void typeCharacters(QLineEdit* edit, const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype n = text.at(i).isHighSurrogate() ? 2 : 1;
        QInputMethodEvent commit;
        commit.setCommitString(text.mid(i, n));
        QApplication::sendEvent(edit, &commit);
        i += n - 1;
    }
}

QString repeat(const char* utf8, int n)
{
    return QString::fromUtf8(utf8).repeated(n);
}

// Runs a picture-name dialog, lets the test act inside it, and returns the
// run's result.
int runNameDialog(PictureNameDialog& dialog, std::function<void(PictureNameDialog*, QLineEdit*)> act)
{
    auto watch = whenModal<PictureNameDialog>(
        [&](PictureNameDialog* d) { act(d, child<QLineEdit>(d, "nameEdit")); });
    const int result = dialog.exec();
    EXPECT_TRUE(watch->ran());
    return result;
}

TEST(PictureNameDialog, HasItsForm)
{
    PictureNameDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("图片标识符"));
    EXPECT_EQ(child<QLabel>(&dialog, "promptLabel")->text(), QStringLiteral("输入名称："));
    auto* ok = child<QPushButton>(&dialog, "okButton");
    EXPECT_EQ(ok->text(), QStringLiteral("确定"));
    EXPECT_TRUE(ok->isDefault());
    EXPECT_EQ(child<QPushButton>(&dialog, "cancelButton")->text(), QStringLiteral("取消"));
    EXPECT_EQ(dialog.size(), DialogUnits(dialog.font()).toPixels(187, 49));
    EXPECT_TRUE(dialog.pictureName.isEmpty());

    bool editHasFocus = false;
    runNameDialog(dialog, [&](PictureNameDialog* d, QLineEdit* edit) {
        editHasFocus = edit->hasFocus() || d->focusWidget() == edit;
        d->reject();
    });
    EXPECT_TRUE(editHasFocus);
}

TEST(PictureNameDialog, EndsWithTheNameOrWithoutOne)
{
    const struct {
        const char* name;
        const char* preset;
        const char* typed;
        std::function<void(PictureNameDialog*, QLineEdit*)> end;
        int result;
        const char* pictureName;
    } cases[] = {
        { "Enter at once", "", "", [](PictureNameDialog*, QLineEdit* e) { QTest::keyClick(e, Qt::Key_Return); },
          QDialog::Accepted, "" },
        { "typed, Enter", "", "小狗", [](PictureNameDialog*, QLineEdit* e) { QTest::keyClick(e, Qt::Key_Return); },
          QDialog::Accepted, "小狗" },
        { "typed, 确定", "", "  a b ",
          [](PictureNameDialog* d, QLineEdit*) {
              QTest::mouseClick(child<QPushButton>(d, "okButton"), Qt::LeftButton);
          },
          QDialog::Accepted, "  a b " },
        { "typed, 取消", "", "小狗",
          [](PictureNameDialog* d, QLineEdit*) {
              QTest::mouseClick(child<QPushButton>(d, "cancelButton"), Qt::LeftButton);
          },
          QDialog::Rejected, "" },
        { "typed, Esc", "旧", "小狗", [](PictureNameDialog*, QLineEdit* e) { QTest::keyClick(e, Qt::Key_Escape); },
          QDialog::Rejected, "旧" },
        { "typed, close box", "旧", "小狗", [](PictureNameDialog* d, QLineEdit*) { d->close(); },
          QDialog::Rejected, "旧" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PictureNameDialog dialog;
        dialog.pictureName = QString::fromUtf8(c.preset);
        QString shown;
        const int result = runNameDialog(dialog, [&](PictureNameDialog* d, QLineEdit* edit) {
            shown = edit->text();
            edit->clear();
            typeCharacters(edit, QString::fromUtf8(c.typed));
            c.end(d, edit);
        });
        EXPECT_EQ(shown, QString::fromUtf8(c.preset)) << "the field starts with pictureName";
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(dialog.pictureName, QString::fromUtf8(c.pictureName));
    }
}

TEST(PictureNameDialog, FieldTakesAtMost54BytesOfUtf8)
{
    const struct {
        const char* name;
        QString typed;
        QString kept;
    } cases[] = {
        { "54 ASCII", repeat("a", 54), repeat("a", 54) },
        { "55th byte refused", repeat("a", 55), repeat("a", 54) },
        { "18 Chinese characters fill it", repeat("名", 18), repeat("名", 18) },
        { "19th refused", repeat("名", 19), repeat("名", 18) },
        { "a character is never cut: 52 + 3 bytes", repeat("a", 52) + repeat("名", 1), repeat("a", 52) },
        { "a smaller one still fits after a refused one", repeat("a", 52) + "名é", repeat("a", 52) + "é" },
        { "four-byte character exactly to the limit", repeat("a", 50) + repeat("😀", 1),
          repeat("a", 50) + repeat("😀", 1) },
        { "four-byte character past the limit", repeat("a", 51) + repeat("😀", 1) + "b",
          repeat("a", 51) + "b" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PictureNameDialog dialog;
        auto* edit = child<QLineEdit>(&dialog, "nameEdit");
        dialog.show();
        typeCharacters(edit, c.typed);
        EXPECT_EQ(edit->text(), c.kept);
        EXPECT_LE(utf8Length(edit->text()), 54);
        dialog.hide();
    }
}

TEST(PictureNameDialog, PasteIsCutToWhatFits)
{
    const struct {
        const char* name;
        QString before;
        int cursor;
        QString pasted;
        QString after;
        int cursorAfter;
    } cases[] = {
        { "into an empty field", "", 0, repeat("名", 20), repeat("名", 18), 18 },
        { "into the middle", "abcdef", 3, repeat("x", 60), "abc" + repeat("x", 48) + "def", 51 },
        { "nothing fits", repeat("a", 52), 52, "名名", repeat("a", 52), 52 },
        { "a surrogate pair is not split", repeat("a", 48), 48, repeat("😀", 2), repeat("a", 48) + repeat("😀", 1),
          50 },
        { "fits whole", "ab", 1, "小狗", "a小狗b", 3 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PictureNameDialog dialog;
        auto* edit = child<QLineEdit>(&dialog, "nameEdit");
        dialog.show();
        typeCharacters(edit, c.before);
        edit->setCursorPosition(c.cursor);
        QGuiApplication::clipboard()->setText(c.pasted);
        edit->paste();
        EXPECT_EQ(edit->text(), c.after);
        EXPECT_EQ(edit->cursorPosition(), c.cursorAfter);
        dialog.hide();
    }
}

TEST(PictureNameDialog, RefusesALongerTextWithAMessage)
{
    // Text put into the field from code can be longer than the limit; OK then
    // refuses it, and the field lets the user shorten it but not lengthen it.
    PictureNameDialog dialog;
    dialog.pictureName = repeat("名", 20); // 60 bytes
    QString messageText, messageCaption;
    QMessageBox::Icon messageIcon = QMessageBox::NoIcon;
    bool stillOpen = false, focusedAndSelected = false;
    std::vector<QString> steps;
    const int result = runNameDialog(dialog, [&](PictureNameDialog* d, QLineEdit* edit) {
        auto message = whenModal<QMessageBox>([&](QMessageBox* box) {
            messageText = box->text();
            messageCaption = box->windowTitle();
            messageIcon = box->icon();
            box->accept();
        });
        QTest::keyClick(edit, Qt::Key_Return);
        EXPECT_TRUE(message->ran()) << "no message";
        stillOpen = d->isVisible();
        focusedAndSelected = d->focusWidget() == edit && edit->selectedText() == edit->text();

        edit->end(false);
        QTest::keyClick(edit, Qt::Key_Backspace);
        steps.push_back(edit->text());
        typeCharacters(edit, QStringLiteral("a"));
        steps.push_back(edit->text());
        QTest::keyClick(edit, Qt::Key_Backspace);
        steps.push_back(edit->text());
        QTest::keyClick(edit, Qt::Key_Return);
    });
    EXPECT_EQ(messageText, QStringLiteral("请填入不多于54个的字符。"));
    EXPECT_EQ(messageCaption, applicationName());
    EXPECT_EQ(messageIcon, QMessageBox::Warning);
    EXPECT_TRUE(stillOpen);
    EXPECT_TRUE(focusedAndSelected);
    // Shortened to 57 bytes, still over: allowed. Lengthened: refused.
    EXPECT_EQ(steps, (std::vector<QString> { repeat("名", 19), repeat("名", 19), repeat("名", 18) }));
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(dialog.pictureName, repeat("名", 18));
}

// A 200 x 122 picture whose pixel (x, y) has the colour of its position.
uint32_t aboutColour(int x, int y)
{
    return (uint32_t(x) << 16) | (uint32_t(y) << 8) | 0x5A;
}

ResourceData aboutResource(int id)
{
    static const std::vector<uint8_t> picture = testbmp::rgb24(200, 122, aboutColour);
    if (id != ResourceId::kAboutPicture)
        return {};
    return { picture.data(), picture.size() };
}

ResourceData noResource(int)
{
    return {};
}

TEST(AboutDialog, HasItsForm)
{
    AboutDialog about;
    EXPECT_EQ(about.windowTitle(), QStringLiteral("关于"));
    auto* close = child<QPushButton>(&about, "closeButton");
    EXPECT_EQ(close->text(), QStringLiteral("关闭"));
    EXPECT_TRUE(close->isDefault());
    auto* credits = child<QLabel>(&about, "creditsLabel");
    const QStringList lines = credits->text().split('\n');
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], QStringLiteral("Tassio 1.0"));
    EXPECT_TRUE(credits->alignment().testFlag(Qt::AlignHCenter));
    const DialogUnits units(about.font());
    EXPECT_EQ(about.size(), units.toPixels(151, 124));
    auto* picture = child<QLabel>(&about, "pictureLabel");
    EXPECT_EQ(picture->geometry(), units.toPixels(DialogUnitRect { 7, 7, 136, 84 }));
    EXPECT_EQ(picture->frameShadow(), QFrame::Sunken);
}

TEST(AboutDialog, DrawsThePictureUnscaledAndClipped)
{
    {
        guitest::ScopedResources resources(&aboutResource);
        AboutDialog about;
        auto* label = child<QLabel>(&about, "pictureLabel");
        const QImage shown = label->pixmap().toImage();
        const QSize room = label->contentsRect().size();
        ASSERT_FALSE(shown.isNull());
        EXPECT_EQ(shown.width(), std::min(200, room.width()));
        EXPECT_EQ(shown.height(), std::min(122, room.height()));
        EXPECT_TRUE(label->alignment().testFlag(Qt::AlignLeft) && label->alignment().testFlag(Qt::AlignTop));
        EXPECT_FALSE(label->hasScaledContents());
        for (QPoint p : { QPoint(0, 0), QPoint(shown.width() - 1, shown.height() - 1), QPoint(57, 33),
                          QPoint(shown.width() - 1, 0) }) {
            EXPECT_EQ(shown.pixel(p) & 0xFFFFFFu, aboutColour(p.x(), p.y())) << p.x() << "," << p.y();
        }
    }
    {
        // No picture: the frame stays empty and the box still works.
        guitest::ScopedResources resources(&noResource);
        AboutDialog about;
        EXPECT_TRUE(child<QLabel>(&about, "pictureLabel")->pixmap().isNull());
    }
    // The picture built into the program has the size the frame is made for.
    EXPECT_EQ(builtInPicture(ResourceId::kAboutPicture).size(), QSize(200, 122));
}

TEST(AboutDialog, ClosesByButtonEscOrCloseBox)
{
    const std::function<void(AboutDialog*)> ways[] = {
        [](AboutDialog* a) { QTest::mouseClick(child<QPushButton>(a, "closeButton"), Qt::LeftButton); },
        [](AboutDialog* a) { QTest::keyClick(a, Qt::Key_Escape); },
        [](AboutDialog* a) { QTest::keyClick(a, Qt::Key_Return); },
        [](AboutDialog* a) { a->close(); },
    };
    for (const auto& way : ways) {
        AboutDialog about;
        auto watch = whenModal<AboutDialog>(way);
        about.exec();
        EXPECT_TRUE(watch->ran());
        EXPECT_FALSE(about.isVisible());
    }
}

TEST(DialogUnits, ScaleWithTheFontsBaseUnits)
{
    const struct {
        int baseX, baseY;
        DialogUnitRect rect;
        QRect pixels;
    } cases[] = {
        // Quarter of the width and eighth of the height, rounded half up.
        { 6, 12, { 186, 157, 13, 8 }, QRect(279, 236, 20, 12) },
        { 8, 16, { 186, 157, 13, 8 }, QRect(372, 314, 26, 16) },
        { 7, 15, { 1, 1, 2, 3 }, QRect(2, 2, 4, 6) },
        { 7, 15, { 0, 0, 0, 0 }, QRect(0, 0, 0, 0) },
    };
    for (const auto& c : cases) {
        const DialogUnits units(c.baseX, c.baseY);
        EXPECT_EQ(units.toPixels(c.rect), c.pixels) << c.baseX << "x" << c.baseY;
    }
    // A fractional base: 6.6 pixels a character is 224 pixels for 136 units, not 238.
    EXPECT_EQ(DialogUnits(6.6, 14).toPixels(DialogUnitRect { 7, 7, 136, 84 }), QRect(12, 12, 224, 147));
    const QFont font = dialogFont();
    EXPECT_EQ(DialogUnits(font).baseY(), QFontMetrics(font).height());
    EXPECT_EQ(font.pointSize(), 9);
}

// Four horizontal units are one average character of the text the forms
// hold, so a line of Latin text takes about four units a letter whatever the
// font. A CJK font's own average is its ideographs' width, which made every
// form a fifth too wide.
TEST(DialogUnits, FourUnitsAreOneAverageLetter)
{
    const QString line = QStringLiteral("The quick brown fox jumps over the lazy dog ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    QFont sans(QStringLiteral("DejaVu Sans"));
    sans.setPointSize(9);
    QFont large = dialogFont();
    large.setPointSize(14);
    for (const QFont& font : { dialogFont(), sans, large }) {
        const DialogUnits units(font);
        int letters = 0;
        for (QChar c : line)
            letters += c.isLetter();
        const double measured = QFontMetricsF(font).horizontalAdvance(QString(line).remove(QLatin1Char(' ')));
        EXPECT_NEAR(units.toPixelsX(4 * letters), measured, measured * 0.1) << font.family().toStdString();
    }
}

// The about box's frame is made for its 200 x 122 picture: with the units
// right, the band of dialog colour around the picture is narrow and even.
TEST(AboutDialog, PictureAlmostFillsItsFrame)
{
    AboutDialog about;
    const QSize room = child<QLabel>(&about, "pictureLabel")->contentsRect().size();
    const QSize band = room - QSize(200, 122);
    EXPECT_GE(band.width(), 0);
    EXPECT_GE(band.height(), 0);
    EXPECT_LT(band.width(), 32) << room.width() << " x " << room.height();
    EXPECT_LT(std::abs(band.width() - band.height()), 12) << room.width() << " x " << room.height();
}

} // namespace
