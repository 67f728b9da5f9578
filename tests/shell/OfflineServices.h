#pragma once

#include "service/core/Keychain.h"
#include "shell/AppServices.h"

#include <QUrl>

#include <memory>

class QSettings;

// The app's services for views that need them but talk to no service: a
// base URL nothing answers on and a keyring in memory (or `keychain`), the
// view mode kept in `settings` (the default settings when null).
inline std::unique_ptr<AppServices> offlineServices(DocumentStore *store,
                                                    Keychain keychain = Keychain(Keychain::inMemory()),
                                                    QSettings *settings = nullptr)
{
    return std::make_unique<AppServices>(
        store,
        AppServices::Options{QUrl(QStringLiteral("http://127.0.0.1:9")), std::move(keychain), settings});
}
