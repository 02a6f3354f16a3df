// Started by the language test with a chosen environment: installs the
// translations as the program does and prints the panel's title.
#include "app/Translations.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    installTranslations(app);
    std::fputs(QCoreApplication::translate("SettingsDialog", "设定").toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    return 0;
}
