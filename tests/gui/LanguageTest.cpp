// The English translation: every caption has one, the language follows the
// locale, user picture names are never translated, and every caption fits its
// control in both languages.
#include "GuiTestSupport.h"
#include "PictureLists.h"

#include "app/Translations.h"
#include "dialogs/AboutDialog.h"
#include "dialogs/PictureNameDialog.h"
#include "dialogs/SettingsDialog.h"
#include "settings/AppSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOption>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

using guitest::child;
using guitest::whenModal;

// Failures show the text, not its UTF-16 units.
static void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

const QLocale kChinese(QLocale::Chinese, QLocale::China);
const QLocale kEnglish(QLocale::English, QLocale::UnitedStates);

// Switches the program's language for the life of the object, then back to
// the Chinese texts it is written with.
class ScopedLanguage {
public:
    explicit ScopedLanguage(const QLocale& locale) { english = installTranslations(*qApp, locale); }
    ~ScopedLanguage() { installTranslations(*qApp, kChinese); }
    ScopedLanguage(const ScopedLanguage&) = delete;
    ScopedLanguage& operator=(const ScopedLanguage&) = delete;
    bool english = false;
};

// The three forms, made in the current language.
struct Forms {
    AppSettings settings;
    std::unique_ptr<SettingsDialog> panel = std::make_unique<SettingsDialog>(settings, nullptr);
    AboutDialog about;
    PictureNameDialog name;

    std::vector<std::pair<const char*, QWidget*>> all()
    {
        return { { "panel", panel.get() }, { "about", &about }, { "name", &name } };
    }
};

// The caption a control shows; empty for other widgets.
QString ownText(QWidget* w)
{
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        return button->text();
    if (auto* label = qobject_cast<QLabel*>(w))
        return label->text();
    if (auto* group = qobject_cast<QGroupBox*>(w))
        return group->title();
    return QString();
}

QString caption(QWidget* form, const char* object)
{
    if (!object)
        return form->windowTitle();
    QWidget* w = child<QWidget>(form, object);
    return w ? ownText(w) : QString();
}

TEST(Translations, EveryCaptionInBothLanguages)
{
    const struct {
        const char* form;
        const char* object; // null: the window title
        const char* chinese;
        const char* english;
    } cases[] = {
        { "panel", nullptr, "设定", "Settings" },
        { "panel", "screenGroup", "屏幕", "Screen" },
        { "panel", "amplitudeLabel", "振幅：", "Swing:" },
        { "panel", "lengthLabel", "摆长：", "Length:" },
        { "panel", "frequencyLabel", "频率：", "Period:" },
        { "panel", "openPictureButton", "打开图片", "Add..." },
        { "panel", "deletePictureButton", "删除图片", "Remove" },
        { "panel", "textButton", "文字", "Text..." },
        { "panel", "uniformSwingCheck", "均匀摇摆", "Steady" },
        { "panel", "alwaysOnTopCheck", "始终置顶", "On top" },
        { "panel", "changePictureCheck", "更换图片", "Swap pic" },
        { "panel", "soundButton", "音效设定", "Sound..." },
        { "panel", "aboutButton", "关于", "About" },
        { "panel", "exitButton", "退出", "Exit" },
        { "about", nullptr, "关于", "About" },
        { "about", "closeButton", "关闭", "Close" },
        { "about", "creditsLabel", "Tassio 1.0\n一个挂在桌面上摇摆的小伙伴\n图画与程序：Tassio 制作组",
          "Tassio 1.0\nSwinging on your desktop\nArt and code: the Tassio team" },
        { "name", nullptr, "图片标识符", "Picture name" },
        { "name", "promptLabel", "输入名称：", "Enter a name:" },
        { "name", "okButton", "确定", "OK" },
        { "name", "cancelButton", "取消", "Cancel" },
    };
    for (const QLocale& locale : { kChinese, kEnglish }) {
        ScopedLanguage language(locale);
        EXPECT_EQ(language.english, locale == kEnglish);
        Forms forms;
        for (const auto& c : cases) {
            QWidget* form = nullptr;
            for (const auto& [name, widget] : forms.all())
                if (std::string(name) == c.form)
                    form = widget;
            ASSERT_NE(form, nullptr) << c.form;
            EXPECT_EQ(caption(form, c.object), QString::fromUtf8(language.english ? c.english : c.chinese))
                << c.form << " " << (c.object ? c.object : "title");
        }
        const std::vector<std::string> figures = guitest::listEntries(child<QComboBox>(forms.panel.get(), "figureCombo"));
        const std::vector<std::string> english { "Girl", "Boy", "Cat", "Amulet" };
        const std::vector<std::string> chinese { "女孩", "男孩", "猫", "护身符" };
        EXPECT_EQ(figures, language.english ? english : chinese);
    }
}

// Qt's own parts (the message boxes' buttons, the file choosers) speak the
// locale's language too, not English among Chinese captions; in English they
// stay English.
TEST(Translations, QtsOwnDialogsFollowTheLocale)
{
    const struct {
        QLocale locale;
        const char* ok;
        const char* cancel;
        const char* lookIn;
    } cases[] = {
        { kChinese, "确定", "取消", "查找范围：" },
        { QLocale(QLocale::Chinese, QLocale::Taiwan), "確定", "取消", "尋找於：" },
        { kEnglish, "&OK", "&Cancel", "Look in:" },
    };
    for (const auto& c : cases) {
        ScopedLanguage language(c.locale);
        QMessageBox box(QMessageBox::Warning, QString(), QStringLiteral("x"), QMessageBox::Ok | QMessageBox::Cancel);
        EXPECT_EQ(box.button(QMessageBox::Ok)->text().remove(QLatin1Char('&')),
                  QString::fromUtf8(c.ok).remove(QLatin1Char('&')))
            << c.locale.name().toStdString();
        EXPECT_EQ(box.button(QMessageBox::Cancel)->text().remove(QLatin1Char('&')),
                  QString::fromUtf8(c.cancel).remove(QLatin1Char('&')))
            << c.locale.name().toStdString();
        QFileDialog chooser;
        chooser.setOption(QFileDialog::DontUseNativeDialog);
        EXPECT_EQ(chooser.labelText(QFileDialog::LookIn), QString::fromUtf8(c.lookIn)) << c.locale.name().toStdString();
    }
}

TEST(Translations, RefusalMessageInBothLanguages)
{
    const struct {
        QLocale locale;
        const char* text;
    } cases[] = {
        { kChinese, "请填入不多于54个的字符。" },
        { kEnglish, "Please enter no more than 54 characters." },
    };
    for (const auto& c : cases) {
        ScopedLanguage language(c.locale);
        PictureNameDialog dialog;
        dialog.pictureName = QStringLiteral("x").repeated(55);
        QString shown;
        auto watch = whenModal<PictureNameDialog>([&](PictureNameDialog* d) {
            auto message = whenModal<QMessageBox>([&](QMessageBox* box) {
                shown = box->text();
                box->accept();
            });
            d->accept();
            EXPECT_TRUE(message->ran());
            d->reject();
        });
        dialog.exec();
        EXPECT_TRUE(watch->ran());
        EXPECT_EQ(shown, QString::fromUtf8(c.text));
    }
}

TEST(Translations, UserPictureNamesStayAsGiven)
{
    // A picture the user called "猫" is not the built-in cat: its name is
    // shown, and saved, exactly as given.
    ScopedLanguage language(kEnglish);
    ASSERT_TRUE(language.english);
    AppSettings settings;
    settings.pictures.add("/p/a.bmp", "猫");
    settings.pictures.add("/p/b.bmp", "Girl");
    settings.figureIndex = 4;
    SettingsDialog panel(settings, nullptr);
    EXPECT_EQ(guitest::listEntries(child<QComboBox>(&panel, "figureCombo")),
              (std::vector<std::string> { "Girl", "Boy", "Cat", "Amulet", "猫", "Girl" }));
    EXPECT_EQ(pictureNames(settings.pictures), (std::vector<std::string> { "猫", "Girl" }));
    EXPECT_EQ(settings.figureIndex, 4);
}

// Which language a fresh process picks from its environment.
TEST(Translations, FollowTheLocaleEnvironment)
{
    const struct {
        const char* what;
        std::vector<std::pair<const char*, const char*>> env;
        const char* title;
    } cases[] = {
        { "nothing set", {}, "Settings" },
        { "Chinese, China", { { "LANG", "zh_CN.UTF-8" } }, "设定" },
        { "Chinese, Taiwan", { { "LANG", "zh_TW.UTF-8" } }, "设定" },
        { "Chinese, Singapore", { { "LANG", "zh_SG.UTF-8" } }, "设定" },
        { "English", { { "LANG", "en_US.UTF-8" } }, "Settings" },
        { "German", { { "LANG", "de_DE.UTF-8" } }, "Settings" },
        { "C", { { "LANG", "C" } }, "Settings" },
        { "C.UTF-8", { { "LANG", "C.UTF-8" } }, "Settings" },
        { "POSIX", { { "LANG", "POSIX" } }, "Settings" },
        { "LC_ALL over LANG, to Chinese", { { "LC_ALL", "zh_CN.UTF-8" }, { "LANG", "en_US.UTF-8" } }, "设定" },
        { "LC_ALL over LANG, to English", { { "LC_ALL", "en_US.UTF-8" }, { "LANG", "zh_CN.UTF-8" } }, "Settings" },
        { "LC_ALL=C over Chinese LANG", { { "LC_ALL", "C" }, { "LANG", "zh_CN.UTF-8" } }, "Settings" },
        { "LC_MESSAGES over LANG", { { "LC_MESSAGES", "zh_CN.UTF-8" }, { "LANG", "en_US.UTF-8" } }, "设定" },
        { "LC_MESSAGES=C over Chinese LANG", { { "LC_MESSAGES", "C" }, { "LANG", "zh_CN.UTF-8" } }, "Settings" },
        // LANGUAGE, the list of preferred languages, counts unless the locale is C.
        { "LANGUAGE first Chinese", { { "LANGUAGE", "zh_CN:en" }, { "LANG", "en_US.UTF-8" } }, "设定" },
        { "LANGUAGE in C.UTF-8", { { "LANGUAGE", "zh_CN" }, { "LANG", "C.UTF-8" } }, "设定" },
        { "LANGUAGE English", { { "LANGUAGE", "en" }, { "LANG", "zh_CN.UTF-8" } }, "Settings" },
        { "LANGUAGE in plain C", { { "LANGUAGE", "zh_CN" }, { "LANG", "C" } }, "Settings" },
    };
    for (const auto& c : cases) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : { "LANG", "LANGUAGE", "LC_ALL", "LC_MESSAGES", "LC_CTYPE", "LC_NUMERIC" })
            env.remove(QLatin1String(name));
        for (const auto& [name, value] : c.env)
            env.insert(QLatin1String(name), QLatin1String(value));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        QProcess probe;
        probe.setProcessEnvironment(env);
        probe.start(QStringLiteral(TASSIO_LANGUAGE_PROBE), {});
        ASSERT_TRUE(probe.waitForFinished(20000)) << c.what;
        EXPECT_EQ(probe.exitCode(), 0) << c.what;
        EXPECT_EQ(QString::fromUtf8(probe.readAllStandardOutput()).trimmed(), QString::fromUtf8(c.title)) << c.what;
    }
}

// Room for a caption: the part of the control its text is drawn into, less
// two pixels on each side so that no text touches a frame.
constexpr int kPadding = 2;

struct Room {
    int width = 0;
    int height = 0;
};

Room textRoom(QWidget* w)
{
    QStyle* style = w->style();
    if (auto* button = qobject_cast<QPushButton*>(w)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        if (button->autoDefault())
            option.features |= QStyleOptionButton::AutoDefaultButton;
        if (button->isDefault())
            option.features |= QStyleOptionButton::DefaultButton;
        const QRect r = style->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        return { r.width() - 2 * kPadding, r.height() };
    }
    if (auto* check = qobject_cast<QCheckBox*>(w)) {
        QStyleOptionButton option;
        option.initFrom(check);
        option.text = check->text();
        const QRect r = style->subElementRect(QStyle::SE_CheckBoxContents, &option, check);
        return { r.width() - kPadding, r.height() };
    }
    if (auto* radio = qobject_cast<QRadioButton*>(w)) {
        QStyleOptionButton option;
        option.initFrom(radio);
        option.text = radio->text();
        const QRect r = style->subElementRect(QStyle::SE_RadioButtonContents, &option, radio);
        return { r.width() - kPadding, r.height() };
    }
    if (auto* label = qobject_cast<QLabel*>(w)) {
        const QRect r = label->contentsRect();
        return { r.width() - 2 * label->margin() - qMax(0, label->indent()), r.height() - 2 * label->margin() };
    }
    if (auto* group = qobject_cast<QGroupBox*>(w)) {
        // The title sits on the frame, indented from it at both ends.
        const int indent = style->pixelMetric(QStyle::PM_LayoutLeftMargin, nullptr, group);
        return { group->width() - 2 * indent, group->height() };
    }
    return {};
}

// Every caption of the form that does not fit: "object: text (needs n, has m)".
std::vector<std::string> misfits(QWidget* form)
{
    std::vector<std::string> found;
    auto note = [&](QWidget* w, const QString& text, const QString& why) {
        std::ostringstream line;
        line << w->objectName().toStdString() << ": \"" << text.toStdString() << "\" " << why.toStdString();
        found.push_back(line.str());
    };
    for (QWidget* w : form->findChildren<QWidget*>()) {
        if (w->objectName().startsWith(QLatin1String("qt_")))
            continue; // Qt's own parts, such as the combo box's list
        const QFontMetrics metrics = w->fontMetrics();
        if (auto* combo = qobject_cast<QComboBox*>(w)) {
            for (int i = 0; i < combo->count(); ++i) {
                QStyleOptionComboBox option;
                option.initFrom(combo);
                option.currentText = combo->itemText(i);
                const QRect r = combo->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                               QStyle::SC_ComboBoxEditField, combo);
                const int needs = metrics.horizontalAdvance(combo->itemText(i));
                if (needs > r.width() - 2 * kPadding)
                    note(w, combo->itemText(i), QStringLiteral("needs %1, has %2").arg(needs).arg(r.width() - 2 * kPadding));
            }
            continue;
        }
        const QString text = ownText(w);
        if (text.isEmpty())
            continue;
        const Room room = textRoom(w);
        const QStringList lines = text.split(QLatin1Char('\n'));
        int widest = 0;
        for (const QString& line : lines)
            widest = qMax(widest, metrics.horizontalAdvance(line));
        if (widest > room.width)
            note(w, text, QStringLiteral("needs %1 wide, has %2").arg(widest).arg(room.width));
        const int tall = lines.size() * metrics.lineSpacing() - metrics.leading();
        if (lines.size() > 1 && tall > room.height)
            note(w, text, QStringLiteral("needs %1 high, has %2").arg(tall).arg(room.height));
    }
    return found;
}

// Saves what the forms look like when TASSIO_LANGUAGE_SHOTS names a folder.
void saveShot(QWidget* form, const char* name, const char* language)
{
    const QByteArray folder = qgetenv("TASSIO_LANGUAGE_SHOTS");
    if (folder.isEmpty())
        return;
    form->setWindowState(Qt::WindowNoState);
    form->show();
    QApplication::processEvents();
    const QString file = QDir(QString::fromLocal8Bit(folder)).filePath(QStringLiteral("%1-%2.png").arg(name, language));
    EXPECT_TRUE(form->grab().save(file)) << file.toStdString();
    form->hide();
}

TEST(Translations, CaptionsFitTheirControls)
{
    for (const QLocale& locale : { kChinese, kEnglish }) {
        ScopedLanguage language(locale);
        ASSERT_EQ(language.english, locale == kEnglish);
        const char* tag = language.english ? "en" : "zh";
        Forms forms;
        int captions = 0;
        for (const auto& [name, form] : forms.all()) {
            captions += form->findChildren<QAbstractButton*>().size() + form->findChildren<QLabel*>().size();
            const std::vector<std::string> found = misfits(form);
            std::string list;
            for (const std::string& line : found)
                list += "\n  " + line;
            EXPECT_TRUE(found.empty()) << tag << " " << name << ":" << list;
            saveShot(form, name, tag);
        }
        // The panel's 6 buttons, 3 check boxes, 4 corner buttons and 3 labels;
        // a button and two labels in the about box; two buttons and a label
        // in the name dialog.
        EXPECT_EQ(captions, 16 + 3 + 3);
    }
}

// The fit check itself: a caption made too long for its control is caught.
TEST(Translations, FitCheckCatchesALongCaption)
{
    const struct {
        const char* object;
        const char* text;
    } cases[] = {
        { "exitButton", "Exit the program now" },
        { "alwaysOnTopCheck", "Always on top" },
        { "amplitudeLabel", "Amplitude:" },
        { "screenGroup", "Screen corners for the pivot" },
    };
    for (const auto& c : cases) {
        Forms forms;
        QWidget* w = child<QWidget>(forms.panel.get(), c.object);
        ASSERT_NE(w, nullptr);
        if (auto* button = qobject_cast<QAbstractButton*>(w))
            button->setText(QLatin1String(c.text));
        else if (auto* label = qobject_cast<QLabel*>(w))
            label->setText(QLatin1String(c.text));
        else if (auto* group = qobject_cast<QGroupBox*>(w))
            group->setTitle(QLatin1String(c.text));
        const std::vector<std::string> found = misfits(forms.panel.get());
        ASSERT_EQ(found.size(), 1u) << c.object;
        EXPECT_EQ(found[0].rfind(c.object, 0), 0u) << found[0];
    }
    Forms forms;
    child<QComboBox>(forms.panel.get(), "figureCombo")->addItem(QStringLiteral("A very long picture name indeed"));
    EXPECT_EQ(misfits(forms.panel.get()).size(), 1u);
}

} // namespace
