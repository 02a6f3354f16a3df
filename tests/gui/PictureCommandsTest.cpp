// The panel's picture, sound and text commands, and the default display name.
#include "GuiTestSupport.h"
#include "PictureLists.h"

#include "dialogs/PictureNameDialog.h"
#include "swing/DropAction.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <string>
#include <vector>

using guitest::child;
using guitest::listEntries;
using guitest::selectFigure;
using guitest::whenModal;

namespace {

using Kind = SettingsDialog::FileKind;


// What the user does in the picture-name dialog.
enum class NameAnswer { Cancel, CloseBox, OkEmpty, EnterAtOnce, TypeAndOk };

void answerNameDialog(PictureNameDialog* dialog, NameAnswer answer, const QString& typed)
{
    auto* edit = child<QLineEdit>(dialog, "nameEdit");
    switch (answer) {
    case NameAnswer::Cancel:
        QTest::mouseClick(child<QPushButton>(dialog, "cancelButton"), Qt::LeftButton);
        break;
    case NameAnswer::CloseBox:
        dialog->close();
        break;
    case NameAnswer::OkEmpty:
        QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
        break;
    case NameAnswer::EnterAtOnce:
        QTest::keyClick(edit, Qt::Key_Return);
        break;
    case NameAnswer::TypeAndOk: {
        // Chinese arrives from the input method as committed text.
        QInputMethodEvent commit;
        commit.setCommitString(typed);
        QApplication::sendEvent(edit, &commit);
        QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
        break;
    }
    }
}

class PictureCommands : public guitest::PanelTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        makePanel();
        panel->chooseFile = [this](Kind kind) {
            kindsAsked.push_back(kind);
            return chooserAnswer;
        };
    }

    std::string path(const char* name) { return dir.filePath(QString::fromUtf8(name)).toStdString(); }

    std::string writePicture(const char* name, uint32_t colour)
    {
        const std::string p = path(name);
        QDir().mkpath(QFileInfo(QString::fromStdString(p)).path());
        testbmp::save(p, testbmp::rgb24(24, 16, [colour](int, int) { return colour; }));
        return p;
    }

    // Clicks "打开图片" with the chooser answering p, and answers the name dialog.
    bool openPicture(const std::string& p, NameAnswer answer, const QString& typed = QString())
    {
        chooserAnswer = QString::fromStdString(p);
        auto watch = whenModal<PictureNameDialog>(
            [answer, typed](PictureNameDialog* dialog) { answerNameDialog(dialog, answer, typed); });
        QTest::mouseClick(control<QPushButton>("openPictureButton"), Qt::LeftButton);
        return watch->ran();
    }

    QTemporaryDir dir;
    QString chooserAnswer;
    std::vector<Kind> kindsAsked;
};

TEST_F(PictureCommands, OpenPictureMakesItTheFigureAndNamesIt)
{
    const struct {
        const char* name;
        NameAnswer answer;
        const char* typed;
        const char* expectedName;
    } cases[] = {
        { "name dialog cancelled: the file's name", NameAnswer::Cancel, "", "DOG.BMP" },
        { "name dialog closed: the file's name", NameAnswer::CloseBox, "", "DOG.BMP" },
        { "OK with an empty field: the file's name", NameAnswer::OkEmpty, "", "DOG.BMP" },
        { "Enter at once: the file's name", NameAnswer::EnterAtOnce, "", "DOG.BMP" },
        { "a typed name", NameAnswer::TypeAndOk, "小狗", "小狗" },
        { "blanks are kept as typed", NameAnswer::TypeAndOk, " 小 狗 ", " 小 狗 " },
    };
    const std::string dog = writePicture("PICS/DOG.BMP", 0x3070B0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        settings.pictures.clear();
        makePanel();
        panel->chooseFile = [this](Kind) { return chooserAnswer; };
        window.loadBuiltInFigure(0);

        EXPECT_TRUE(openPicture(dog, c.answer, QString::fromUtf8(c.typed))) << "no name dialog";
        EXPECT_EQ(picturePaths(settings.pictures), std::vector<std::string> { dog });
        EXPECT_EQ(pictureNames(settings.pictures), std::vector<std::string> { c.expectedName });
        EXPECT_EQ(settings.figureIndex, 4);
        auto* combo = control<QComboBox>("figureCombo");
        EXPECT_EQ(combo->count(), 5);
        EXPECT_EQ(combo->currentIndex(), 4);
        EXPECT_EQ(combo->currentText(), QString::fromUtf8(c.expectedName));
        EXPECT_EQ(figureColour(), 0x3070B0u);
    }
}

TEST_F(PictureCommands, OpeningTheSameFileTwiceAddsTwoPictures)
{
    const std::string dog = writePicture("dog.bmp", 0x204060);
    EXPECT_TRUE(openPicture(dog, NameAnswer::TypeAndOk, QStringLiteral("一")));
    EXPECT_TRUE(openPicture(dog, NameAnswer::Cancel));
    EXPECT_EQ(picturePaths(settings.pictures), (std::vector<std::string> { dog, dog }));
    EXPECT_EQ(pictureNames(settings.pictures), (std::vector<std::string> { "一", "dog.bmp" }));
    EXPECT_EQ(settings.figureIndex, 5);
    EXPECT_EQ(control<QComboBox>("figureCombo")->currentIndex(), 5);
    EXPECT_EQ(kindsAsked, (std::vector<Kind> { Kind::Picture, Kind::Picture }));
}

TEST_F(PictureCommands, OpenPictureThatCannotBeUsedAddsNothing)
{
    const std::string text = path("notes.bmp");
    testbmp::save(text, { 'h', 'e', 'l', 'l', 'o' });
    const struct {
        const char* name;
        std::string chosen;
    } cases[] = {
        { "chooser cancelled", "" },
        { "file missing", path("missing.bmp") },
        { "not a picture", text },
    };
    window.loadBuiltInFigure(20);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(openPicture(c.chosen, NameAnswer::Cancel)) << "name dialog shown";
        EXPECT_EQ(settings.pictures.count(), 0);
        EXPECT_EQ(control<QComboBox>("figureCombo")->count(), 4);
        EXPECT_EQ(settings.figureIndex, 0);
        EXPECT_TRUE(showsBuiltIn(20)) << "the figure changed";
    }
}

TEST_F(PictureCommands, DeletePictureRemovesTheSelectedOneAndShowsTheGirl)
{
    const struct {
        int selected;
        std::vector<std::string> remaining;
    } cases[] = {
        { 4, { "b", "c" } },
        { 5, { "a", "c" } },
        { 6, { "a", "b" } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.selected);
        settings.pictures.clear();
        for (const char* name : { "a", "b", "c" })
            settings.pictures.add(path(name), name);
        makePanel();
        window.loadBuiltInFigure(30);
        selectFigure(control<QComboBox>("figureCombo"), c.selected);
        ASSERT_EQ(settings.figureIndex, c.selected);

        QTest::mouseClick(control<QPushButton>("deletePictureButton"), Qt::LeftButton);
        std::vector<std::string> list { "女孩", "男孩", "猫", "护身符" };
        list.insert(list.end(), c.remaining.begin(), c.remaining.end());
        auto* combo = control<QComboBox>("figureCombo");
        EXPECT_EQ(listEntries(combo), list);
        EXPECT_EQ(pictureNames(settings.pictures), c.remaining);
        std::vector<std::string> paths;
        for (const std::string& name : c.remaining)
            paths.push_back(path(name.c_str()));
        EXPECT_EQ(picturePaths(settings.pictures), paths);
        EXPECT_EQ(combo->currentIndex(), 0);
        EXPECT_EQ(settings.figureIndex, 0);
        EXPECT_TRUE(showsBuiltIn(0)) << "the girl is not shown";
    }
}

TEST_F(PictureCommands, DeletePictureLeavesBuiltInFiguresAlone)
{
    settings.pictures.add(path("a"), "a");
    for (int selected : { -1, 0, 3 }) {
        SCOPED_TRACE(selected);
        settings.figureIndex = selected;
        makePanel();
        window.loadBuiltInFigure(30);
        QTest::mouseClick(control<QPushButton>("deletePictureButton"), Qt::LeftButton);
        EXPECT_EQ(control<QComboBox>("figureCombo")->count(), 5);
        EXPECT_EQ(settings.pictures.count(), 1);
        EXPECT_EQ(settings.figureIndex, selected);
        EXPECT_TRUE(showsBuiltIn(30));
    }
}

TEST_F(PictureCommands, ChosenPathsGetTheDefaultExtensionWhenTyped)
{
    const struct {
        const char* name;
        const char* button;
        Kind kind;
        const char* typed; // in the test folder; empty: cancelled
        std::vector<const char*> existing;
        const char* expected; // in the test folder; "NULL": unchanged
    } cases[] = {
        { "sound typed without extension", "soundButton", Kind::Sound, "TUNE", {}, "TUNE.wav" },
        { "sound picked", "soundButton", Kind::Sound, "tune.wav", { "tune.wav" }, "tune.wav" },
        { "sound with another extension", "soundButton", Kind::Sound, "song.mp3", {}, "song.mp3" },
        { "existing file without extension stays", "soundButton", Kind::Sound, "TUNE", { "TUNE" }, "TUNE" },
        { "sound cancelled", "soundButton", Kind::Sound, "", {}, "NULL" },
        { "program without extension picked", "textButton", Kind::Program, "editor", { "editor" }, "editor" },
        { "program typed, nothing there", "textButton", Kind::Program, "WORD", {}, "WORD.exe" },
        { "program with extension", "textButton", Kind::Program, "word.exe", {}, "word.exe" },
        { "program cancelled", "textButton", Kind::Program, "", {}, "NULL" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        settings.soundFile = settings.textProgram = "NULL";
        for (const char* name : c.existing)
            testbmp::save(path(name), { 'x' });
        chooserAnswer = *c.typed ? QString::fromStdString(path(c.typed)) : QString();
        kindsAsked.clear();
        QTest::mouseClick(control<QPushButton>(c.button), Qt::LeftButton);
        const std::string expected = std::string(c.expected) == "NULL" ? "NULL" : path(c.expected);
        EXPECT_EQ(c.kind == Kind::Sound ? settings.soundFile : settings.textProgram, expected);
        EXPECT_EQ(c.kind == Kind::Sound ? settings.textProgram : settings.soundFile, "NULL");
        EXPECT_EQ(kindsAsked, std::vector<Kind> { c.kind });
        for (const char* name : c.existing)
            QFile::remove(QString::fromStdString(path(name)));
    }

    // A picture typed without extension is read from the .bmp of that name.
    const std::string dog = writePicture("DOG.bmp", 0x406080);
    EXPECT_TRUE(openPicture(path("DOG"), NameAnswer::Cancel));
    EXPECT_EQ(picturePaths(settings.pictures), std::vector<std::string> { dog });
    EXPECT_EQ(pictureNames(settings.pictures), std::vector<std::string> { "DOG.bmp" });
}

// The real file dialogs: their filters, and a name typed in the current folder.
TEST_F(PictureCommands, FileDialogsOfferTheirFiltersAndTakeTypedNames)
{
    const struct {
        const char* button;
        QStringList filters;
        const char* startsOn;
        const char* typed;
        const char* expected;
    } cases[] = {
        { "soundButton", { "Wave File(*.wav *.WAV)" }, "Wave File(*.wav *.WAV)", "TUNE", "TUNE.wav" },
        // Programs here have no .exe: the chooser starts on the filter that shows them.
        { "textButton", { "Word Program File(*.exe)", "All Files (*)" }, "All Files (*)", "WORD", "WORD.exe" },
        { "openPictureButton", { "Bitmap File(*.bmp *.BMP)" }, "Bitmap File(*.bmp *.BMP)", "", nullptr },
    };
    makePanel(); // with the panel's own file dialogs
    for (const auto& c : cases) {
        SCOPED_TRACE(c.button);
        QStringList filters;
        QString startFilter;
        QFileDialog::FileMode mode = QFileDialog::ExistingFile;
        auto watch = whenModal<QFileDialog>([&](QFileDialog* dialog) {
            filters = dialog->nameFilters();
            startFilter = dialog->selectedNameFilter();
            mode = dialog->fileMode();
            if (!*c.typed) {
                dialog->reject();
                return;
            }
            dialog->setDirectory(dir.path());
            // Typed into the name field, as a user does: selectFile() leaves
            // the field alone while it has the focus. The whole path, since the
            // dialog reads the folder on a thread of its own.
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(name, nullptr) << "the file dialog has no name field";
            name->setText(dir.path() + QLatin1Char('/') + QString::fromUtf8(c.typed));
            QTest::keyClick(name, Qt::Key_Return);
        });
        QTest::mouseClick(control<QPushButton>(c.button), Qt::LeftButton);
        ASSERT_TRUE(watch->ran());
        EXPECT_EQ(filters, c.filters);
        EXPECT_EQ(startFilter, QString::fromUtf8(c.startsOn));
        EXPECT_EQ(mode, QFileDialog::AnyFile) << "a file that does not exist must be accepted";
    }
    EXPECT_EQ(settings.soundFile, path("TUNE.wav"));
    EXPECT_EQ(settings.textProgram, path("WORD.exe"));
    EXPECT_EQ(settings.pictures.count(), 0);
}

TEST(DisplayNameFromPath, IsTheTextAfterTheLastSlash)
{
    const struct {
        const char* path;
        const char* name;
    } cases[] = {
        { "/home/u/PICS/DOG.BMP", "DOG.BMP" },
        { "DOG.BMP", "DOG.BMP" },
        { "a/b", "b" },
        { "/home/u/PICS/", "" },
        { "/", "" },
        { "", "" },
        { "/图片/小狗.bmp", "小狗.bmp" },
        { "/pics/with blank.bmp", "with blank.bmp" },
        // Characters whose legacy double-byte form ends in the byte of a
        // backslash: in UTF-8 every byte of a multi-byte character is 0x80 or
        // above, so a '/' can never be part of one and the name stays whole.
        { "/写真/ソ表.bmp", "ソ表.bmp" },
        { "ソ表", "ソ表" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(displayNameFromPath(c.path), c.name) << c.path;
}

} // namespace
