#include "platform/OptionDefaults.h"

#include "core/Endpoints.h"
#include "core/Utils.h"
#include "platform/OptionsManager.h"

void RegisterLoginDefaults(TOptionsManager& manager) {
    TOptionValues& section = manager.RegisterSection(LoginSection);
    section.SetString(QStringLiteral("Username"), QString());
    section.SetString(QStringLiteral("Password"), QString());
}

void RegisterInterfaceDefaults(TOptionsManager& manager) {
    const QString documents = GetMyDocumentsPath();
    TOptionValues& section = manager.RegisterSection(InterfaceSection);
    section.SetString(QStringLiteral("Background"), QString());
    section.SetInteger(QStringLiteral("Columns"), 6);
    section.SetInteger(QStringLiteral("Rows"), 3);
    section.SetString(QStringLiteral("CompressedDirectory"), documents + "/tavilon/compressed/");
    section.SetString(QStringLiteral("UncompressedDirectory"), documents + "/tavilon/uncompressed");
}

void RegisterServerDefaults(TOptionsManager& manager) {
    TOptionValues& section = manager.RegisterSection(ServerSection);
    section.SetBoolean(QStringLiteral("SendInfo"), true);
    section.SetString(QStringLiteral("Servers"), BuiltInCatalogueEndpoint());
    section.SetString(QStringLiteral("DefaultServer"), BuiltInCatalogueEndpoint());
    section.SetInteger(QStringLiteral("Default"), 0);
}

void RegisterOptionDefaults(TOptionsManager& manager) {
    RegisterLoginDefaults(manager);
    RegisterInterfaceDefaults(manager);
    RegisterServerDefaults(manager);
}
