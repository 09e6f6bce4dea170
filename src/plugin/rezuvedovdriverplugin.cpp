#include "plugin/rezuvedovdriverplugin.h"

#include "driver/rezuvedovdriver.h"
#include "platform/sdk/oledb.h"
#include "driver/oledbmanager.h"
#include "driver/providerprobe.h"

REzuVEDOVDriverPlugin::REzuVEDOVDriverPlugin()
    : QSqlDriverPlugin(nullptr)
{
    // COM stays initialised for the life of the process.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    OLEDBManager *manager = OLEDBManager::instance();
    const QString provider = chooseProvider();
    // A later plug-in object that finds nothing keeps the earlier choice.
    if (!provider.isEmpty())
        manager->setProviderName(provider);
}

QSqlDriver *REzuVEDOVDriverPlugin::create(const QString &name)
{
    if (name == QLatin1String("REZUVEDOV"))
        return new REzuVEDOVDriver();
    return nullptr;
}
