#pragma once

#include <QMetaType>
#include <QString>

// The one error value of the service client: a short machine code, the text
// shown to the user unchanged, and the HTTP status (0 when there was no
// HTTP reply).
struct APIError
{
    QString code;
    QString message;
    int status = 0;

    // What views show for the error.
    QString errorDescription() const { return message; }
};

Q_DECLARE_METATYPE(APIError)
