#pragma once

#include "platform/OptionsManager.h"

#include <QString>

// Section names of the settings store.
inline const QString LoginSection = QStringLiteral("Megaupload");
inline const QString InterfaceSection = QStringLiteral("Interface");
inline const QString ServerSection = QStringLiteral("Server");

// Registers the three sections with their defaults on `manager`, in the order
// "Megaupload", "Interface", "Server". Runs once at start, before the application object.
// Raises "Could not find MyDocuments folder location." when there is no documents folder.
void RegisterOptionDefaults(TOptionsManager& manager = OptionsManager());

void RegisterLoginDefaults(TOptionsManager& manager);
void RegisterInterfaceDefaults(TOptionsManager& manager);
void RegisterServerDefaults(TOptionsManager& manager);
