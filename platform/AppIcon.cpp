#include "platform/AppIcon.h"

#include <QIcon>
#include <QString>

// A static library's resources are registered only when something asks for
// them; its initialiser alone would be dropped by the linker.
static void registerIcons()
{
    Q_INIT_RESOURCE(Icons);
}

QIcon applicationIcon()
{
    registerIcons();
    QIcon icon;
    for (const char* size : { "16", "32", "48", "256" })
        icon.addFile(QStringLiteral(":/icons/tassio-%1.png").arg(QLatin1String(size)));
    return icon;
}
