// The tray icon: present only with a tray, a click brings the panel back, and
// its menu opens the panel or ends the program through the quit callback.
#include "app/TrayIcon.h"

#include "app/Translations.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QLocale>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <string>
#include <vector>

namespace {

// A panel in the state the program leaves it in at start: minimised.
struct MinimisedPanel {
    MinimisedPanel()
    {
        panel.resize(200, 150);
        panel.setWindowState(Qt::WindowMinimized);
        panel.show();
        QApplication::processEvents();
    }
    QDialog panel;
};

TEST(TrayIcon, NothingWithoutATray)
{
    MinimisedPanel p;
    int quits = 0;
    TrayIcon tray(&p.panel, [&] { ++quits; }, false);
    EXPECT_EQ(tray.icon(), nullptr);
    EXPECT_EQ(tray.menu(), nullptr);
    EXPECT_EQ(tray.settingsAction(), nullptr);
    EXPECT_EQ(tray.quitAction(), nullptr);
    // The offscreen platform has no tray, and the plain constructor asks it.
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    TrayIcon asked(&p.panel, [&] { ++quits; });
    EXPECT_EQ(asked.icon(), nullptr);
    EXPECT_EQ(quits, 0);
}

TEST(TrayIcon, ShowsTheProgramsIconAndMenu)
{
    MinimisedPanel p;
    TrayIcon tray(&p.panel, [] {}, true);
    ASSERT_NE(tray.icon(), nullptr);
    EXPECT_TRUE(tray.icon()->isVisible());
    const QIcon icon = tray.icon()->icon();
    ASSERT_FALSE(icon.isNull());
    const QList<QSize> available = icon.availableSizes();
    const std::vector<QSize> sizes(available.begin(), available.end());
    EXPECT_EQ(sizes, (std::vector<QSize> { { 16, 16 }, { 32, 32 }, { 48, 48 }, { 256, 256 } }));
    EXPECT_EQ(tray.icon()->contextMenu(), tray.menu());
}

TEST(TrayIcon, MenuInBothLanguages)
{
    const struct {
        QLocale locale;
        std::vector<std::string> entries;
    } cases[] = {
        { QLocale(QLocale::Chinese, QLocale::China), { "设定", "退出" } },
        { QLocale(QLocale::English, QLocale::UnitedKingdom), { "Settings", "Exit" } },
    };
    for (const auto& c : cases) {
        installTranslations(*qApp, c.locale);
        MinimisedPanel p;
        TrayIcon tray(&p.panel, [] {}, true);
        ASSERT_NE(tray.menu(), nullptr);
        std::vector<std::string> entries;
        for (QAction* a : tray.menu()->actions())
            if (!a->isSeparator())
                entries.push_back(a->text().toStdString());
        EXPECT_EQ(entries, c.entries);
        EXPECT_EQ(tray.menu()->actions().value(0), tray.settingsAction());
        EXPECT_EQ(tray.menu()->actions().value(2), tray.quitAction());
    }
    installTranslations(*qApp, QLocale(QLocale::Chinese, QLocale::China));
}

TEST(TrayIcon, AClickRestoresTheMinimisedPanel)
{
    const struct {
        QSystemTrayIcon::ActivationReason reason;
        bool restores;
    } cases[] = {
        { QSystemTrayIcon::Trigger, true },
        { QSystemTrayIcon::DoubleClick, true },
        { QSystemTrayIcon::Context, false },
        { QSystemTrayIcon::MiddleClick, false },
        { QSystemTrayIcon::Unknown, false },
    };
    for (const auto& c : cases) {
        MinimisedPanel p;
        ASSERT_TRUE(p.panel.isMinimized());
        int quits = 0;
        TrayIcon tray(&p.panel, [&] { ++quits; }, true);
        tray.activated(c.reason);
        QApplication::processEvents();
        EXPECT_EQ(!p.panel.isMinimized(), c.restores) << c.reason;
        EXPECT_TRUE(p.panel.isVisible()) << c.reason;
        if (c.restores) {
            EXPECT_TRUE(QTest::qWaitForWindowActive(&p.panel)) << c.reason;
        }
        EXPECT_EQ(quits, 0) << c.reason;
    }
}

TEST(TrayIcon, SettingsEntryBringsBackAHiddenOrMinimisedPanel)
{
    for (bool hidden : { false, true }) {
        MinimisedPanel p;
        if (hidden)
            p.panel.hide();
        TrayIcon tray(&p.panel, [] {}, true);
        tray.settingsAction()->trigger();
        QApplication::processEvents();
        EXPECT_TRUE(p.panel.isVisible()) << hidden;
        EXPECT_FALSE(p.panel.isMinimized()) << hidden;
    }
}

TEST(TrayIcon, ExitEntryRunsTheNormalShutdownOnce)
{
    // As the program wires it: the panel's accept() ends its modal run.
    QDialog panel;
    panel.setWindowState(Qt::WindowMinimized);
    int quits = 0;
    TrayIcon tray(&panel, [&] { ++quits; panel.accept(); }, true);
    QTimer::singleShot(0, tray.quitAction(), &QAction::trigger);
    QTimer::singleShot(5000, &panel, [&] { panel.done(-1); });
    const int result = panel.exec();
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(quits, 1);
}

} // namespace
