#pragma once

// Helpers shared by the dialog tests: finding controls, clicking them the way
// a user does, and answering modal dialogs that a click opens.

#include "TestBmp.h"

#include "dialogs/SettingsDialog.h"
#include "resources/Resources.h"
#include "settings/AppSettings.h"
#include "swing/SwingWindow.h"
#include "RecordingShell.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <memory>
#include <vector>

namespace guitest {

template <class T>
T* child(QWidget* parent, const char* name)
{
    T* widget = parent->findChild<T*>(QLatin1String(name));
    EXPECT_NE(widget, nullptr) << "no " << name;
    return widget;
}

// A click at the indicator: the centre of a wide check box misses it.
inline void clickIndicator(QAbstractButton* button)
{
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(qMin(8, button->width() / 2), button->height() / 2));
}

// Runs action on the next modal dialog of type T as soon as it is up and
// shown, from inside its modal loop; ran() tells whether that happened. A
// test never hangs on a dialog: when no T shows within twenty seconds,
// whatever modal dialog is up instead is closed, and when the action leaves
// its dialog open for five seconds, the dialog is closed; either way the test
// fails, naming the dialog.
class ModalWatch {
public:
    template <class T>
    static std::unique_ptr<ModalWatch> on(std::function<void(T*)> action)
    {
        auto watch = std::make_unique<ModalWatch>();
        ModalWatch* self = watch.get();
        self->deadline_ = QDeadlineTimer(kShowMs);
        QObject::connect(&self->timer_, &QTimer::timeout, [self, action] {
            if (self->ran_) {
                self->checkClosed();
                return;
            }
            QWidget* modal = QApplication::activeModalWidget();
            T* dialog = qobject_cast<T*>(modal);
            // A dialog can be the modal one a moment before it is shown.
            if (dialog && dialog->isVisible()) {
                self->ran_ = true;
                self->acted_ = dialog;
                self->deadline_ = QDeadlineTimer(kCloseMs);
                action(dialog);
                self->checkClosed();
                return;
            }
            if (!self->deadline_.hasExpired())
                return;
            self->timer_.stop();
            if (modal && modal->isVisible()) {
                ADD_FAILURE() << "the expected dialog did not come up; closed the " << modal->metaObject()->className()
                              << " that was up instead";
                closeDialog(modal);
            }
        });
        self->timer_.start(5);
        return watch;
    }

    bool ran() const { return ran_; }

private:
    static constexpr int kShowMs = 20000;
    static constexpr int kCloseMs = 5000;

    void checkClosed()
    {
        if (!acted_ || !acted_->isVisible()) {
            timer_.stop();
            return;
        }
        if (!deadline_.hasExpired())
            return;
        timer_.stop();
        ADD_FAILURE() << "the " << acted_->metaObject()->className() << " stayed open after the test's action; closed it";
        closeDialog(acted_);
    }

    static void closeDialog(QWidget* w)
    {
        if (auto* dialog = qobject_cast<QDialog*>(w))
            dialog->reject();
        else
            w->close();
    }

    QTimer timer_;
    QDeadlineTimer deadline_;
    QPointer<QWidget> acted_;
    bool ran_ = false;
};

template <class T>
std::unique_ptr<ModalWatch> whenModal(std::function<void(T*)> action)
{
    return ModalWatch::on<T>(std::move(action));
}

// Built-in pictures for the tests: every resource id is a solid picture of
// its own colour, so a figure frame tells which resource it came from.
inline uint32_t resourceColour(int id)
{
    return 0x102030u + static_cast<uint32_t>(id) * 0x010203u;
}

inline ResourceData solidResource(int id)
{
    static std::map<int, std::vector<uint8_t>> pictures;
    auto it = pictures.find(id);
    if (it == pictures.end())
        it = pictures.emplace(id, testbmp::rgb24(96, 96, [id](int, int) { return resourceColour(id); })).first;
    return { it->second.data(), it->second.size() };
}

// Installs a resource lookup for the life of the object.
class ScopedResources {
public:
    explicit ScopedResources(ResourceLookup lookup) { setResourceLookup(lookup); }
    ~ScopedResources() { setResourceLookup(nullptr); }
    ScopedResources(const ScopedResources&) = delete;
    ScopedResources& operator=(const ScopedResources&) = delete;
};

// A panel over its own settings record and a real figure window.
class PanelTest : public ::testing::Test {
protected:
    // The panel creates the figure window as it is built; its timer is then
    // stopped so that no tick turns the swing round while a test runs.
    SettingsDialog& makePanel()
    {
        panel = std::make_unique<SettingsDialog>(settings, &window);
        window.killSwingTimer();
        return *panel;
    }

    void TearDown() override
    {
        panel.reset();
        window.destroyWindow();
    }

    template <class T>
    T* control(const char* name)
    {
        return guitest::child<T>(panel.get(), name);
    }

    bool topMost() { return window.keepsAbove(); }

    // The colour at the centre of every frame, or 0 when they differ.
    uint32_t figureColour()
    {
        const uint32_t c = window.frames.frame(0).pixel(48, 48);
        for (int k = 0; k < FigureFrames::kFrameCount; ++k)
            if (window.frames.frame(k).isNull() || window.frames.frame(k).pixel(48, 48) != c)
                return 0;
        return c;
    }

    // Frame k shows resource base + k + 1.
    bool showsBuiltIn(int base)
    {
        for (int k = 0; k < FigureFrames::kFrameCount; ++k)
            if (window.frames.frame(k).pixel(48, 48) != resourceColour(base + k + 1))
                return false;
        return true;
    }

    guitest::ScopedResources resources { &guitest::solidResource };
    AppSettings settings;
    RecordingShell shell;
    SwingWindow window { settings, shell };
    std::unique_ptr<SettingsDialog> panel;
};

// A choice in the figure list made the way a user makes it, with the arrow keys.
inline void selectFigure(QComboBox* combo, int position)
{
    combo->setCurrentIndex(position == 0 ? 1 : position - 1);
    QTest::keyClick(combo, position == 0 ? Qt::Key_Up : Qt::Key_Down);
    ASSERT_EQ(combo->currentIndex(), position);
}

inline std::vector<std::string> listEntries(QComboBox* combo)
{
    std::vector<std::string> entries;
    for (int i = 0; i < combo->count(); ++i)
        entries.push_back(combo->itemText(i).toStdString());
    return entries;
}

} // namespace guitest
